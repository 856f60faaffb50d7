#include "card/qvmd_pin.h"

#include "card/qvmd_info.h"
#include "card/qvmd_pin_commands.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sw.h"

#include <cstring>

namespace
{

enum : uint8_t { METHOD_PIN = 1, METHOD_CHALLENGE = 2 };
enum : uint32_t { TYPE_PADDED = 4 }; // padded with FF bytes to the maximum PIN length
enum : unsigned char {
    P1_RESPONSE = 0x10,
    P1_PIN_RESPONSE = 0x20,
    LENGTH_UNBLOCK = 0x80, // or-ed into the change command's length byte to unblock
};
enum : unsigned long {
    CHALLENGE_RESPONSE_LENGTH = 8, // what a challenge PIN is verified with
    CHALLENGE_PIN_LENGTH = 24,     // what a challenge PIN is set to
    STATUS_ONLY = 2,
    SECURE = 1, // the level argument that sends under the open session
};

bool serves(const _qv_md_pin_info_struct &pin, unsigned char mode)
{
    switch (mode) {
    case QVMD_AUTH_PIN:
        return pin.method == METHOD_PIN;
    case QVMD_AUTH_CHALLENGE:
        return pin.method == METHOD_CHALLENGE;
    case QVMD_AUTH_RESPONSE:
    case QVMD_AUTH_PIN_RESPONSE:
        return pin.method == METHOD_PIN && pin.flag != 0;
    case QVMD_AUTH_LOOKUP:
        return true;
    default:
        return false;
    }
}

// The room a PIN takes in a command: a type-4 PIN is padded to the maximum PIN
// length (a longer one is tooLong), any other PIN takes its own length.
uint32_t pinRoom(const _qv_md_info_struct *info, const _qv_md_pin_info_struct &pin,
                 unsigned long length, uint32_t tooLong, unsigned long *room)
{
    if (pin.type != TYPE_PADDED) {
        *room = length;
        return QV_OK;
    }
    if (length > info->maxPinLength)
        return tooLong;
    *room = info->maxPinLength;
    return QV_OK;
}

// 0 on applet 1.0 and later, QV_E_UNEXPECTED before it.
uint32_t fromApplet10(_qv_md_card_struct *card)
{
    uint32_t rv = QV_OK;
    bool older = QVMD_IsOlderApplet(card, &rv);
    return rv != QV_OK ? rv : older ? QV_E_UNEXPECTED : QV_OK;
}

// The reply of a mode-32 verify, exactly the challenge response length.
uint32_t takeResponse(_qv_md_card_struct *card, unsigned char **out, unsigned long *outLength)
{
    const _qv_caapi_card_struct *t = card->transport;
    unsigned long length = t->receivedLength - 2;
    if (length != card->info->responseLength)
        return QV_E_UNEXPECTED;
    if (out == nullptr || outLength == nullptr)
        return QV_OK;
    *out = static_cast<unsigned char *>(QVMD_Alloc(card, length != 0 ? length : 1));
    if (*out == nullptr)
        return QV_E_NO_MEMORY;
    memcpy(*out, t->response, length);
    *outLength = length;
    return QV_OK;
}

// Sends the PIN command prepared in the transport (or passes its preparation's
// error on) at level and maps its status. The callers wipe the exchange after it.
uint32_t runPinCommand(_qv_md_card_struct *card, uint32_t prepared, uint32_t level, long *tries)
{
    uint32_t rv = prepared;
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDU(card, level);
    if (rv == QV_OK)
        rv = QVMD_VerifySWAuthenticate(card, tries);
    return rv;
}

// A command at level 1 that the card answers with exactly expected bytes and 90 00.
uint32_t runSecure(_qv_md_card_struct *card, const CApdu &apdu, unsigned long expected)
{
    uint32_t rv = QVCAAPI_PutCommand(card->transport, apdu);
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDU(card, SECURE);
    return rv != QV_OK ? rv : QVCAAPI_VerifySW(card->transport, expected);
}

} // namespace

uint32_t QVMD_GetRoles(const _qv_md_info_struct *info)
{
    uint32_t roles = 0;
    for (unsigned i = 0; i < info->pinCount && i < QVMD_MAX_PINS; i++)
        roles |= info->pins[i].roleMask;
    return roles;
}

uint8_t QVMD_GetPinsCanUpdatePin(const _qv_md_info_struct *info, unsigned long pin)
{
    return pin < QVMD_MAX_PINS ? info->pins[pin].updaters : 0;
}

int QVMD_CanPinXUunblockPinY(const _qv_md_info_struct *info, unsigned long x, unsigned long y)
{
    if (x == 0 || x >= info->pinCount)
        return 1;
    if (y >= QVMD_MAX_PINS)
        return 0;
    return (info->pins[y].updaters >> x) & 1;
}

uint32_t QVMD_GetPinIndexForAuth(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                                 unsigned char *index)
{
    *index = QVMD_NO_PIN;
    const _qv_md_info_struct *info = card->info;
    for (unsigned i = 0; i < info->pinCount && i < QVMD_MAX_PINS; i++) {
        if ((info->pins[i].roleMask & role) != 0 && serves(info->pins[i], mode)) {
            *index = static_cast<unsigned char>(i);
            break;
        }
    }
    return QV_OK;
}

uint32_t QVMD_Authenticate(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                           const unsigned char *pin, unsigned long length, unsigned char **out,
                           unsigned long *outLength, long *tries, uint32_t level)
{
    unsigned char index = QVMD_NO_PIN;
    QVMD_GetPinIndexForAuth(card, role, mode, &index);
    return QVMD_AuthenticatePinIndex(card, index, mode, pin, length, out, outLength, tries, level);
}

uint32_t QVMD_AuthenticatePinIndex(_qv_md_card_struct *card, unsigned char index,
                                   unsigned char mode, const unsigned char *pin,
                                   unsigned long length, unsigned char **out,
                                   unsigned long *outLength, long *tries, uint32_t level)
{
    if (out != nullptr)
        *out = nullptr;
    if (outLength != nullptr)
        *outLength = 0;
    uint32_t rv =
        runPinCommand(card, QVMD_PrepareAuthenticatePinIndex(card, index, mode, pin, length, level),
                      level, tries);
    if (rv == QV_OK && mode == QVMD_AUTH_PIN_RESPONSE)
        rv = takeResponse(card, out, outLength);
    QVCAAPI_WipeExchange(card->transport);
    return rv;
}

uint32_t QVMD_PrepareAuthenticatePinIndex(_qv_md_card_struct *card, unsigned char index,
                                          unsigned char mode, const unsigned char *pin,
                                          unsigned long length, uint32_t level)
{
    if (index == QVMD_NO_PIN || index >= QVMD_MAX_PINS)
        return QV_E_INVALID_VALUE;
    _qv_caapi_card_struct *t = card->transport;
    return QVMD_PrepareForAuthenticate(card, index, mode, pin, length, t->command,
                                       &t->commandLength, t->commandCapacity, level);
}

uint32_t QVMD_PrepareForAuthenticate(_qv_md_card_struct *card, unsigned char index,
                                     unsigned char mode, const unsigned char *pin,
                                     unsigned long length, unsigned char *buffer,
                                     unsigned long *bufferLength, unsigned long capacity, uint32_t)
{
    if (buffer == nullptr || bufferLength == nullptr || (pin == nullptr && length != 0) ||
        index >= QVMD_MAX_PINS)
        return QV_E_INVALID_VALUE;
    const _qv_md_info_struct *info = card->info;
    unsigned char p1 = index;
    unsigned long room = length;
    uint32_t rv = QV_OK;
    switch (mode) {
    case QVMD_AUTH_CHALLENGE:
        if (length != CHALLENGE_RESPONSE_LENGTH)
            return QV_W_WRONG_CHV;
        break;
    case QVMD_AUTH_RESPONSE:
        if (length != info->responseLength)
            return QV_E_INVALID_PARAMETER;
        p1 |= P1_RESPONSE;
        break;
    case QVMD_AUTH_PIN_RESPONSE:
        p1 |= P1_PIN_RESPONSE;
        [[fallthrough]]; // a PIN as in mode 1
    case QVMD_AUTH_PIN:
        rv = pinRoom(info, info->pins[index], length, QV_W_WRONG_CHV, &room);
        break;
    default:
        return QV_E_INVALID_VALUE;
    }
    if (rv != QV_OK)
        return rv;
    if (room + qvapdu::PIN_OFFSET > capacity)
        return QV_E_INVALID_VALUE;
    unsigned long n = qvapdu::VerifyPin(p1, room).Encode(buffer, capacity);
    if (n == 0)
        return QV_E_INVALID_VALUE;
    if (length != 0)
        memcpy(buffer + qvapdu::PIN_OFFSET, pin, length);
    *bufferLength = n;
    return QV_OK;
}

uint32_t QVMD_Deauthenticate(_qv_md_card_struct *card, uint32_t role)
{
    uint32_t rv = QV_OK;
    bool older = QVMD_IsOlderApplet(card, &rv);
    if (rv != QV_OK)
        return rv;
    _qv_caapi_card_struct *t = card->transport;
    rv = QVCAAPI_RunCommand(t, qvapdu::LogOut(older, static_cast<unsigned char>(role)));
    return rv != QV_OK ? rv : QVCAAPI_VerifySW(t, 0);
}

uint32_t QVMD_ChangeAuthenticator(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                                  const unsigned char *oldPin, unsigned long oldLength,
                                  const unsigned char *newPin, unsigned long newLength,
                                  unsigned char tryLimit, long *tries, uint32_t level)
{
    return QVMD_ChangeAuthenticatorUnblock(card, role, mode, oldPin, oldLength, role, mode, newPin,
                                           newLength, tryLimit, tries, level, 0);
}

uint32_t QVMD_Unblock(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                      const unsigned char *puk, unsigned long pukLength, uint32_t targetRole,
                      unsigned char targetMode, const unsigned char *newPin,
                      unsigned long newLength, unsigned char tryLimit, long *tries, uint32_t level)
{
    return QVMD_ChangeAuthenticatorUnblock(card, role, mode, puk, pukLength, targetRole, targetMode,
                                           newPin, newLength, tryLimit, tries, level, 1);
}

uint32_t QVMD_ChangeAuthenticatorUnblock(_qv_md_card_struct *card, uint32_t role,
                                         unsigned char mode, const unsigned char *oldPin,
                                         unsigned long oldLength, uint32_t targetRole,
                                         unsigned char targetMode, const unsigned char *newPin,
                                         unsigned long newLength, unsigned char tryLimit,
                                         long *tries, uint32_t level, int unblock)
{
    unsigned char index = QVMD_NO_PIN, target = QVMD_NO_PIN;
    QVMD_GetPinIndexForAuth(card, role, mode, &index);
    QVMD_GetPinIndexForAuth(card, targetRole, targetMode, &target);
    if (index == QVMD_NO_PIN || target == QVMD_NO_PIN)
        return QV_E_INVALID_VALUE;
    uint32_t rv = runPinCommand(
        card,
        QVMD_PrepareForChangeAuthenticator(card, index, mode, oldPin, oldLength, target, targetMode,
                                           newPin, newLength, tryLimit, unblock),
        level, tries);
    QVCAAPI_WipeExchange(card->transport);
    return rv;
}

uint32_t QVMD_PrepareForChangeAuthenticator(_qv_md_card_struct *card, unsigned char index,
                                            unsigned char mode, const unsigned char *oldPin,
                                            unsigned long oldLength, unsigned char targetIndex,
                                            unsigned char targetMode, const unsigned char *newPin,
                                            unsigned long newLength, unsigned char tryLimit,
                                            int unblock)
{
    if ((oldPin == nullptr && oldLength != 0) || (newPin == nullptr && newLength != 0))
        return QV_E_INVALID_VALUE;
    unsigned long oldRoom = 0, newRoom = 0;
    uint32_t rv = QVMD_PrepareForChangeAuthenticatorFill(card, index, mode, oldLength, targetIndex,
                                                         targetMode, newLength, tryLimit, unblock,
                                                         &oldRoom, &newRoom);
    if (rv != QV_OK)
        return rv;
    unsigned char *values = card->transport->command + qvapdu::PIN_CHANGE_OFFSET;
    if (oldLength != 0)
        memcpy(values, oldPin, oldLength);
    if (newLength != 0)
        memcpy(values + oldRoom, newPin, newLength);
    return QV_OK;
}

uint32_t QVMD_PrepareForChangeAuthenticatorFill(_qv_md_card_struct *card, unsigned char index,
                                                unsigned char mode, unsigned long oldLength,
                                                unsigned char targetIndex, unsigned char targetMode,
                                                unsigned long newLength, unsigned char tryLimit,
                                                int unblock, unsigned long *oldPadded,
                                                unsigned long *newPadded)
{
    _qv_md_info_struct *info = card->info;
    info->pinPropertiesStale = 1;
    if (index >= QVMD_MAX_PINS || targetIndex >= QVMD_MAX_PINS)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QV_OK;
    unsigned long oldRoom = oldLength, newRoom = newLength;
    if (mode == QVMD_AUTH_CHALLENGE && oldLength != CHALLENGE_RESPONSE_LENGTH)
        return QV_W_WRONG_CHV;
    if (mode == QVMD_AUTH_PIN)
        rv = pinRoom(info, info->pins[index], oldLength, QV_W_WRONG_CHV, &oldRoom);
    else if (mode != QVMD_AUTH_CHALLENGE)
        return QV_E_INVALID_VALUE;
    if (rv != QV_OK)
        return rv;
    if (targetMode == QVMD_AUTH_CHALLENGE && newLength != CHALLENGE_PIN_LENGTH)
        return QV_W_WRONG_CHV;
    if (targetMode == QVMD_AUTH_PIN)
        rv = pinRoom(info, info->pins[targetIndex], newLength, QV_E_INVALID_PARAMETER, &newRoom);
    else if (targetMode != QVMD_AUTH_CHALLENGE)
        return QV_E_INVALID_VALUE;
    if (rv != QV_OK)
        return rv;
    bool older = QVMD_IsOlderApplet(card, &rv);
    if (rv != QV_OK)
        return rv;
    _qv_caapi_card_struct *t = card->transport;
    if (oldRoom + newRoom + qvapdu::PIN_CHANGE_OFFSET > t->commandCapacity)
        return QV_E_INVALID_VALUE;
    unsigned char ins = older ? (unblock ? qvapdu::PIN_INS_UNBLOCK_OLD : qvapdu::PIN_INS_CHANGE_OLD)
                              : qvapdu::PIN_INS_CHANGE_UNBLOCK;
    unsigned char lengthByte = static_cast<unsigned char>(oldRoom);
    if (!older && unblock)
        lengthByte |= LENGTH_UNBLOCK;
    rv = QVCAAPI_PutCommand(
        t, qvapdu::ChangePin(ins, index, targetIndex, lengthByte, tryLimit, oldRoom, newRoom));
    if (rv != QV_OK)
        return rv;
    *oldPadded = oldRoom;
    *newPadded = newRoom;
    return QV_OK;
}

uint32_t QVMD_GetChallenge(_qv_md_card_struct *card, uint32_t role, unsigned char,
                           unsigned char *out, unsigned long capacity)
{
    if (capacity < CHALLENGE_RESPONSE_LENGTH)
        return QV_E_INSUFFICIENT_BUFFER;
    if (out == nullptr)
        return QV_E_INVALID_VALUE;
    _qv_md_info_struct *info = card->info;
    if (info->pinPropertiesValid == 0) {
        uint32_t rv = QVMD_GetInfo(card, info, QVMD_INFO_PIN_PROPERTIES);
        if (rv != QV_OK)
            return rv;
    }
    unsigned char index = QVMD_NO_PIN;
    QVMD_GetPinIndexForAuth(card, role, QVMD_AUTH_LOOKUP, &index);
    if (index == QVMD_NO_PIN)
        return QV_E_INVALID_VALUE;
    if (info->pins[index].method != METHOD_CHALLENGE)
        return QV_E_INVALID_PARAMETER;
    _qv_caapi_card_struct *t = card->transport;
    uint32_t rv = QVCAAPI_RunCommand(t, qvapdu::GetChallenge());
    if (rv == QV_OK)
        rv = QVCAAPI_VerifySW(t, CHALLENGE_RESPONSE_LENGTH + 2);
    if (rv == QV_OK)
        memcpy(out, t->response, CHALLENGE_RESPONSE_LENGTH);
    return rv;
}

uint32_t QVMD_CancelChallenge(_qv_md_card_struct *card, unsigned char index)
{
    if (index == QVMD_NO_PIN || index >= QVMD_MAX_PINS)
        return QV_E_INVALID_VALUE;
    if (card->info->pins[index].method != METHOD_CHALLENGE)
        return QV_E_INVALID_PARAMETER;
    _qv_caapi_card_struct *t = card->transport;
    uint32_t rv = QVCAAPI_RunCommand(t, qvapdu::CancelChallenge(index));
    return rv != QV_OK ? rv : QVCAAPI_VerifySW(t, STATUS_ONLY);
}

uint32_t QVMD_UpdatePinProperties(_qv_md_card_struct *card, unsigned char index,
                                  const _qv_md_pin_properties_update *update)
{
    if (update == nullptr || update->limit > 15)
        return QV_E_INVALID_VALUE;
    unsigned char values[5] = {};
    if ((update->mask & 0x01) != 0)
        memcpy(values, update->cspInfo, 3);
    if ((update->mask & 0x02) != 0)
        values[3] = update->limit;
    if ((update->mask & 0x04) != 0)
        values[4] = update->further;
    card->info->pinPropertiesStale = 1;
    uint32_t rv = QVCAAPI_PutCommand(card->transport,
                                     qvapdu::UpdatePinProperties(index, update->mask, values));
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDU(card, SECURE);
    return rv != QV_OK ? rv : QVMD_VerifySWSetSettings(card);
}

uint32_t QVMD_AdminCardComputeResponse(_qv_md_card_struct *card, unsigned char keyRef,
                                       unsigned char challenge[8], const unsigned char *extra24,
                                       int withExtra)
{
    if (challenge == nullptr || (withExtra && extra24 == nullptr))
        return QV_E_INVALID_VALUE;
    uint32_t rv = fromApplet10(card);
    if (rv == QV_OK)
        rv = runSecure(
            card, qvapdu::AdminComputeResponse(keyRef, challenge, withExtra ? extra24 : nullptr),
            CHALLENGE_RESPONSE_LENGTH + 2);
    if (rv == QV_OK)
        memcpy(challenge, card->transport->response, CHALLENGE_RESPONSE_LENGTH);
    return rv;
}

uint32_t QVMD_AdminCardActivatePIN(_qv_md_card_struct *card, unsigned char index, int second)
{
    uint32_t rv = fromApplet10(card);
    return rv != QV_OK ? rv
                       : runSecure(card, qvapdu::AdminActivatePin(index, second != 0), STATUS_ONLY);
}
