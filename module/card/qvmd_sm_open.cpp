// The card's side of a secure-messaging session: the opening exchange of each
// generation, the close commands and the imported key's parameters.
#include "card/qvmd_info.h"
#include "card/qvmd_sm.h"
#include "card/qvmd_sm_commands.h"

#include <cstring>

namespace
{

enum : unsigned long {
    CHALLENGE_REPLY_V1 = 16 + 2, // card challenge, card cryptogram, status
    CHALLENGE_REPLY_V2 = 8 + 2,  // card challenge, status
    STATUS_ONLY = 2,
};

// Prepares a command of the opening into the transport's command buffer.
template <typename Prepare> uint32_t send(_qv_caapi_card_struct *t, Prepare prepare)
{
    t->commandLength = t->commandCapacity;
    uint32_t rv = prepare(t->command, &t->commandLength);
    return rv != QV_OK ? rv : QVCAAPI_RunAPDU(t);
}

// The opening's two exchanges: the first command, a reply of exactly replyLength
// bytes (status included), then the response command made from that reply.
template <typename First, typename Second>
uint32_t challengeAndRespond(_qv_caapi_card_struct *t, First first, unsigned long replyLength,
                             Second second)
{
    uint32_t rv = send(t, first);
    if (rv != QV_OK || (rv = QVCAAPI_VerifySW(t, replyLength)) != QV_OK)
        return rv;
    const unsigned char *reply = t->response;
    rv = send(t, [&](unsigned char *c, unsigned long *n) { return second(reply, c, n); });
    return rv != QV_OK ? rv : QVCAAPI_VerifySW(t, 0);
}

// Before applet 1.2: the host challenge goes out, the card challenge and the card
// cryptogram come back, then the C-MAC'd host cryptogram.
uint32_t openFirstGeneration(_qv_md_card_struct *card)
{
    _qv_md_sm_context *sm = &card->sm;
    return challengeAndRespond(
        card->transport,
        [sm](unsigned char *c, unsigned long *n) {
            return QVMD_CryptoSMPrepareChallengeAPDU(sm, c, n);
        },
        CHALLENGE_REPLY_V1,
        [sm](const unsigned char *reply, unsigned char *c, unsigned long *n) {
            return QVMD_CryptoSMPrepareResponseAPDU(sm, reply, 16, c, n);
        });
}

// From applet 1.2: the card challenge comes first, then the host challenge and the
// host cryptogram go out C-MAC'd.
uint32_t openSecondGeneration(_qv_md_card_struct *card)
{
    _qv_md_sm_context *sm = &card->sm;
    return challengeAndRespond(
        card->transport,
        [sm](unsigned char *c, unsigned long *n) {
            return QVMD_CryptoSMPrepareInitUpdateAPDUv2(sm, c, n);
        },
        CHALLENGE_REPLY_V2,
        [sm](const unsigned char *reply, unsigned char *c, unsigned long *n) {
            return QVMD_CryptoSMPrepareResponseAPDUv2(sm, reply, 8, c, n, 0);
        });
}

uint32_t closeSession(_qv_md_card_struct *card, bool clearImportedKey)
{
    uint32_t rv = QVCAAPI_RunCommand(card->transport, qvapdu::SmClose(clearImportedKey));
    if (rv == QV_OK)
        rv = QVCAAPI_VerifySW(card->transport, STATUS_ONLY);
    QVMD_CryptoSMClose(&card->sm);
    return rv;
}

} // namespace

uint32_t QVMD_OpenSM(_qv_md_card_struct *card, const char *keyName, unsigned char p1,
                     unsigned char p2, uint32_t level)
{
    uint32_t rv = QVMD_CryptoSMOpen(&card->sm, keyName, p1, p2, level);
    if (rv != QV_OK)
        return rv;
    int lower = 0;
    rv = QVMD_IsAppletVersionLowerThan(card, QVMD_VERSION_SKI, &lower);
    if (rv != QV_OK)
        return rv;
    return lower ? openFirstGeneration(card) : openSecondGeneration(card);
}

uint32_t QVMD_CloseSM(_qv_md_card_struct *card)
{
    return closeSession(card, false);
}

uint32_t QVMD_CloseSMClearImportedKey(_qv_md_card_struct *card)
{
    return closeSession(card, true);
}

uint32_t QVMD_ChangeImportedSMKeyParamIfNeeded(_qv_md_card_struct *card, unsigned char a,
                                               unsigned char b, unsigned char c)
{
    _qv_md_info_struct *info = card->info;
    uint32_t rv = QVMD_GetInfo(card, info, QVMD_INFO_IMPORTED_KEY);
    if (rv != QV_OK)
        return rv;
    if (info->importedKeyParamsValid == 0)
        return QV_E_UNEXPECTED;
    const unsigned char wanted[3] = {a, b, c};
    if (memcmp(info->importedKeyParams, wanted, 3) == 0)
        return QV_OK;
    return QVMD_ManageImportedSMKeyParam(card, a, b, c);
}

uint32_t QVMD_ManageImportedSMKeyParam(_qv_md_card_struct *card, unsigned char a, unsigned char b,
                                       unsigned char c)
{
    // the fifth byte is the third parameter, not a length, so the command is written
    // as it stands rather than built
    const unsigned char command[8] = {0xB0, 0x54, a, b, c, 0x00, 0x00, 0x00};
    _qv_caapi_card_struct *t = card->transport;
    memcpy(t->command, command, sizeof(command));
    t->commandLength = sizeof(command);
    uint32_t rv = QVCAAPI_RunAPDU(t);
    return rv != QV_OK ? rv : QVCAAPI_VerifySW(t, STATUS_ONLY);
}
