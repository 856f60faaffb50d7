// The plays of the card-command fuzzers: a card selected and its PIN records read,
// then operations chosen by the stream, each with arguments from the stream and the
// card's replies from the stream (card_fuzz_stream.h). Shared by the fuzz targets,
// which read the stream, and by the seed maker, which writes it against the
// simulated card.
//
// Properties checked for every operation: no crash or out-of-bounds access (the
// caller's buffers are exactly as large as the call is told), a call during which
// the card claimed more bytes than its room fails, a result is handed out exactly
// when the call succeeds, and a failed call leaves the caller's buffer as it was.
#pragma once

#include "card_fuzz_stream.h"

#include "card/qvmd_card_write.h"
#include "card/qvmd_container.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace card_fuzz
{

// Operations of the plays, the stream's first byte of each.
enum AdminOp : unsigned char {
    ADMIN_OPEN_SESSION,
    ADMIN_VERIFY,
    ADMIN_GET_CHALLENGE,
    ADMIN_CANCEL_CHALLENGE,
    ADMIN_COMPUTE_RESPONSE,
    ADMIN_ACTIVATE_PIN,
    ADMIN_UPDATE_PIN_PROPERTIES,
    ADMIN_SET_CARD_DATA,
    ADMIN_SET_CARD_DATA_ONE_TAG,
    ADMIN_UPDATE_CSP_FLAGS,
    ADMIN_FREE_MEMORY,
    ADMIN_FREE_CONTAINERS,
    ADMIN_CHANGE_CONTAINER_USER,
    ADMIN_IMPORTED_KEY_PARAM,
    ADMIN_UNBLOCK,
    ADMIN_OPS
};

enum KeysOp : unsigned char {
    KEYS_OPEN_SESSION,
    KEYS_VERIFY,
    KEYS_CREATE,
    KEYS_DELETE,
    KEYS_IMPORT,
    KEYS_SIGN,
    KEYS_DECRYPT,
    KEYS_DECRYPT_ON_CARD,
    KEYS_CLOSE,
    KEYS_CLOSE_CLEAR_IMPORTED,
    KEYS_OPS
};

// A caller's buffer of exactly n bytes (at least one allocated), filled with a mark.
struct Buffer {
    explicit Buffer(size_t n) : bytes(new unsigned char[n ? n : 1]), size(n)
    {
        memset(bytes.get(), 0xA5, n ? n : 1);
    }
    bool Marked() const
    {
        for (size_t i = 0; i < size; i++)
            if (bytes[i] != 0xA5)
                return false;
        return true;
    }
    std::unique_ptr<unsigned char[]> bytes;
    size_t size;
};

// Runs one card-layer call; a call during which the card claimed more than its room
// must fail.
template <typename Call> uint32_t Guarded(Stream &in, Call call)
{
    unsigned long before = in.claims;
    uint32_t rv = call();
    check(in.claims == before || rv != 0);
    return rv;
}

// A session of the second generation opened with the card, the host challenge taken
// from the stream rather than drawn, so that a recorded exchange plays again with
// the same session keys.
inline void OpenSession(Stream &in, _qv_md_card_struct *card)
{
    uint32_t level = in.Byte();
    Bytes host = in.Take(8);
    if (QVMD_CryptoSMOpen(&card->sm, "MK", 0, 0, level) != 0)
        return;
    _qv_caapi_card_struct *t = card->transport;
    unsigned long length = t->commandCapacity;
    if (QVMD_CryptoSMPrepareInitUpdateAPDUv2(&card->sm, t->command, &length) != 0)
        return;
    t->commandLength = length;
    if (QVCAAPI_RunAPDU(t) != 0 || t->receivedLength != 10 || t->sw1 != 0x90)
        return;
    unsigned char challenge[8];
    memcpy(challenge, t->response, 8);
    length = t->commandCapacity;
    if (QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(&card->sm, challenge, 8, host.data(),
                                                               8, t->command, &length, 0) != 0)
        return;
    t->commandLength = length;
    QVCAAPI_RunAPDU(t);
}

// Selects the application and reads the applet and PIN records.
inline void Prologue(_qv_md_card_struct *card)
{
    QVMD_CheckAppletSelection(card);
    QVMD_GetInfo(card, card->info, QVMD_INFO_PIN_PROPERTIES);
}

// Two bytes, big-endian, read in order.
inline unsigned Word(Stream &in)
{
    unsigned high = in.Byte();
    return high << 8 | in.Byte();
}

// A PIN of role (of up to 15 bytes) verified.
inline void Verify(Stream &in, _qv_md_card_struct *card, uint32_t role)
{
    Bytes pin = in.Take(in.Byte() % 16);
    Guarded(in, [&] {
        return QVMD_Authenticate(card, role, QVMD_AUTH_PIN, pin.data(), pin.size(), nullptr,
                                 nullptr, nullptr, 0);
    });
}

inline unsigned char Mode(Stream &in)
{
    static const unsigned char MODES[] = {QVMD_AUTH_PIN, QVMD_AUTH_CHALLENGE, QVMD_AUTH_RESPONSE,
                                          QVMD_AUTH_PIN_RESPONSE, 3};
    return MODES[in.Byte() % sizeof(MODES)];
}

// ---- administration: challenges, administration cards, properties, card data,
// clean-ups, container access, imported-key parameters, unblock ----

inline void AdminStep(Stream &in, _qv_md_card_struct *card)
{
    switch (in.Byte() % ADMIN_OPS) {
    case ADMIN_OPEN_SESSION:
        OpenSession(in, card);
        break;
    case ADMIN_VERIFY: {
        uint32_t role = in.Byte();
        Verify(in, card, role);
        break;
    }
    case ADMIN_GET_CHALLENGE: {
        uint32_t role = in.Byte();
        Buffer out(in.Byte() % 12);
        uint32_t rv = Guarded(
            in, [&] { return QVMD_GetChallenge(card, role, 0, out.bytes.get(), out.size); });
        check(rv == 0 || out.Marked());
        break;
    }
    case ADMIN_CANCEL_CHALLENGE: {
        unsigned char index = in.Byte();
        Guarded(in, [&] { return QVMD_CancelChallenge(card, index); });
        break;
    }
    case ADMIN_COMPUTE_RESPONSE: {
        unsigned char keyRef = in.Byte();
        int withExtra = in.Byte() & 1;
        Bytes extra = in.Take(withExtra ? 24 : 0);
        Buffer challenge(8);
        uint32_t rv = Guarded(in, [&] {
            return QVMD_AdminCardComputeResponse(card, keyRef, challenge.bytes.get(),
                                                 withExtra ? extra.data() : nullptr, withExtra);
        });
        check(rv == 0 || challenge.Marked());
        break;
    }
    case ADMIN_ACTIVATE_PIN: {
        unsigned char index = in.Byte();
        int second = in.Byte() & 1;
        Guarded(in, [&] { return QVMD_AdminCardActivatePIN(card, index, second); });
        break;
    }
    case ADMIN_UPDATE_PIN_PROPERTIES: {
        unsigned char index = in.Byte();
        _qv_md_pin_properties_update update{};
        Bytes info = in.Take(3);
        memcpy(update.cspInfo, info.data(), 3);
        update.limit = in.Byte();
        update.further = in.Byte();
        update.mask = in.Byte();
        Guarded(in, [&] { return QVMD_UpdatePinProperties(card, index, &update); });
        break;
    }
    case ADMIN_SET_CARD_DATA: {
        _qv_md_card_data_record record{};
        record.tag = in.Byte();
        record.length = in.Byte();
        Bytes value = in.Take(
            record.length < QVMD_CARD_DATA_RECORD_MAX ? record.length : QVMD_CARD_DATA_RECORD_MAX);
        if (!value.empty())
            memcpy(record.value, value.data(), value.size());
        Guarded(in, [&] { return QVMD_SetCardData(card, &record); });
        break;
    }
    case ADMIN_SET_CARD_DATA_ONE_TAG: {
        unsigned char tag = in.Byte();
        unsigned char attribute = in.Byte();
        int replace = in.Byte() & 1;
        Bytes value = in.Take(in.Byte());
        Guarded(in, [&] {
            return QVMD_SetCardDataOneTag(card, tag, value.data(), value.size(), replace,
                                          attribute);
        });
        break;
    }
    case ADMIN_UPDATE_CSP_FLAGS: {
        Bytes flags = in.Take(in.Byte() % 4);
        Guarded(in, [&] { return QVMD_UpdateCSPFlags(card, flags.data(), flags.size()); });
        break;
    }
    case ADMIN_FREE_MEMORY:
        Guarded(in, [&] { return QVMD_FreeMemory(card); });
        break;
    case ADMIN_FREE_CONTAINERS:
        // not guarded: before applet 1.0 a container the card does not have is passed
        // over, and with it whatever became of its attribute file's delete (the card's
        // answer comes first)
        QVMD_FreeContainers(card);
        break;
    case ADMIN_CHANGE_CONTAINER_USER: {
        _qv_md_create_container_request request{};
        request.container = in.Byte();
        request.access[0] = in.Byte();
        request.access[1] = in.Byte();
        unsigned char mask = in.Byte() % 5;
        Guarded(in, [&] { return QVMD_ChangeContainerUser(card, &request, mask); });
        break;
    }
    case ADMIN_IMPORTED_KEY_PARAM: {
        Bytes abc = in.Take(3);
        Guarded(in, [&] {
            return QVMD_ChangeImportedSMKeyParamIfNeeded(card, abc[0], abc[1], abc[2]);
        });
        break;
    }
    default: { // ADMIN_UNBLOCK
        uint32_t role = in.Byte();
        unsigned char mode = Mode(in);
        Bytes puk = in.Take(in.Byte() % 32);
        uint32_t targetRole = in.Byte();
        unsigned char targetMode = Mode(in);
        Bytes pin = in.Take(in.Byte() % 32);
        unsigned char limit = in.Byte();
        long tries = 77;
        Guarded(in, [&] {
            return QVMD_Unblock(card, role, mode, puk.data(), puk.size(), targetRole, targetMode,
                                pin.data(), pin.size(), limit, &tries, 0);
        });
        break;
    }
    }
}

// ---- keys: containers created and deleted, key import, the RSA wrappers and the
// two session closes ----

// A PRIVATEKEYBLOB of a key size from the stream (or a raw blob), its parts a pattern.
inline Bytes ImportBlob(Stream &in)
{
    static const unsigned BITS[] = {512, 1024, 1536, 1920, 2048, 4096, 1000};
    unsigned char choice = in.Byte();
    if (choice >= 0xF0)
        return in.Take(static_cast<size_t>(in.Byte()) * 10);
    unsigned bits = BITS[choice % (sizeof(BITS) / sizeof(BITS[0]))];
    Bytes blob(20 + 2 * (bits / 8) + 5 * (bits / 16));
    unsigned char pattern = in.Byte();
    for (size_t i = 20; i < blob.size(); i++)
        blob[i] = static_cast<unsigned char>(pattern + i);
    const unsigned char header[20] = {0x07, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 'R',  'S',
                                      'A',  '2',  0,    0,    0,    0,    0x01, 0x00, 0x01, 0x00};
    memcpy(blob.data(), header, sizeof(header));
    blob[12] = static_cast<unsigned char>(bits);
    blob[13] = static_cast<unsigned char>(bits >> 8);
    return blob;
}

inline void KeysStep(Stream &in, _qv_md_card_struct *card)
{
    unsigned char op = in.Byte() % KEYS_OPS;
    switch (op) {
    case KEYS_OPEN_SESSION:
        OpenSession(in, card);
        break;
    case KEYS_VERIFY:
        Verify(in, card, QVMD_ROLE_USER);
        break;
    case KEYS_CREATE: {
        _qv_md_create_container_request request{};
        request.container = in.Byte();
        request.keySpec = in.Byte();
        request.flags = in.Byte();
        request.keyBits = static_cast<uint16_t>(Word(in));
        request.defaultExponent = in.Byte();
        request.access[0] = in.Byte();
        request.access[1] = in.Byte();
        Bytes exponent = in.Take(8);
        memcpy(request.exponent, exponent.data(), 8);
        request.exponentPresent = in.Byte();
        Guarded(in, [&] { return QVMD_CreateContainer(card, &request); });
        break;
    }
    case KEYS_DELETE: {
        unsigned char container = in.Byte();
        Guarded(in, [&] { return QVMD_DeleteContainer(card, container); });
        break;
    }
    case KEYS_IMPORT: {
        Bytes blob = ImportBlob(in);
        unsigned char container = in.Byte();
        unsigned long count = 0;
        bool counting = in.Byte() & 1;
        unsigned long before = in.exchanges;
        uint32_t rv = Guarded(in, [&] {
            return QVMD_ContainerImportKey(card, blob.data(), blob.size(), container, 0,
                                           counting ? &count : nullptr);
        });
        // counting sends nothing; an import sends at most 8 commands
        check(counting ? in.exchanges == before && (rv != 0 || count == 7 || count == 8)
                       : in.exchanges - before <= 8 * 2);
        break;
    }
    case KEYS_SIGN: {
        unsigned char container = in.Byte(), keySpec = in.Byte();
        Bytes block(1 + Word(in) % 600, 0x5A);
        unsigned char *out = nullptr;
        unsigned long length = 99;
        uint32_t rv = Guarded(in, [&] {
            return QVMD_RSASign(card, container, keySpec, block.data(), block.size(), &out, &length,
                                1);
        });
        check(rv == 0 ? out != nullptr && length != 0 : out == nullptr);
        QVMD_Free(card, out);
        break;
    }
    case KEYS_DECRYPT:
    case KEYS_DECRYPT_ON_CARD: {
        bool onCard = op == KEYS_DECRYPT_ON_CARD;
        unsigned char container = in.Byte(), keySpec = in.Byte();
        size_t room = 1 + Word(in) % 600;
        Buffer buffer(room);
        unsigned long length = room;
        uint32_t rv = Guarded(in, [&] {
            return onCard ? QVMD_RSADecryptProcessOnCard(card, container, keySpec,
                                                         buffer.bytes.get(), &length)
                          : QVMD_RSADecrypt(card, container, keySpec, buffer.bytes.get(), &length);
        });
        if (rv != 0 || onCard)
            check(buffer.Marked());
        check(rv != 0 || (onCard ? length == 0 : length <= room));
        break;
    }
    case KEYS_CLOSE:
        Guarded(in, [&] { return QVMD_CloseSM(card); });
        check(card->sm.state->level == 0);
        break;
    default: // KEYS_CLOSE_CLEAR_IMPORTED
        Guarded(in, [&] { return QVMD_CloseSMClearImportedKey(card); });
        check(card->sm.state->level == 0);
        break;
    }
}

// A whole play: the prologue, then steps until the stream ends.
template <typename Step> void Play(Stream &in, Step step)
{
    _qv_md_card_struct card;
    in.Init(&card);
    Binding binding(&card);
    Prologue(&card);
    while (!in.Done())
        step(in, &card);
    QVMD_CryptoSMClose(&card.sm);
    QVMD_CardReleaseStruct(&card);
}

} // namespace card_fuzz
