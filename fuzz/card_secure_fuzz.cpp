// Card replies from the fuzz input to the secure side of the card layer: response
// unwrapping at any level, the opening of either generation, RSA operations with
// their parts, the PIN commands and their status family, key information and the
// public-key blob, the containers usage and the card-data signature test.
// Properties: no crash or out-of-bounds access, unwrapping never grows a response,
// the exchange caps hold, and a result is handed out exactly when the call succeeds.
#include "card_fuzz_support.h"

#include "card/card_keys.h"
#include "card/qvdes_prov.h"
#include "card/qvmd_container.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

using card_fuzz::Binding;
using card_fuzz::Card;
using card_fuzz::check;

// Session keys from challenges of the input, at a level of the input.
void openOffline(_qv_md_card_struct *card, FuzzedDataProvider &input)
{
    uint32_t level = input.ConsumeIntegral<unsigned char>() & 0x33;
    QVMD_CryptoSMOpen(&card->sm, "MK", 0, 0, level);
    unsigned char r[8] = {}, h[8] = {};
    std::vector<unsigned char> bytes = input.ConsumeBytes<unsigned char>(16);
    if (!bytes.empty())
        memcpy(r, bytes.data(), bytes.size() < 8 ? bytes.size() : 8);
    if (bytes.size() > 8)
        memcpy(h, bytes.data() + 8, bytes.size() - 8);
    unsigned char command[64];
    unsigned long length = sizeof(command);
    QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(&card->sm, r, 8, h, 8, command, &length,
                                                           0);
}

void unwrap(_qv_md_card_struct *card, FuzzedDataProvider &input)
{
    unsigned char buffer[QVCAAPI_RESPONSE_CAPACITY];
    std::vector<unsigned char> response =
        input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, sizeof(buffer)));
    if (!response.empty())
        memcpy(buffer, response.data(), response.size());
    unsigned long length = response.size();
    QVMD_CryptoSMUnwrap(&card->sm, buffer, &length, sizeof(buffer));
    check(length <= response.size());
}

void rsa(_qv_md_card_struct *card, Card &state, FuzzedDataProvider &input)
{
    std::vector<unsigned char> block(input.ConsumeIntegralInRange<size_t>(1, 600), 0x5A);
    unsigned char *out = nullptr;
    unsigned long length = 0;
    unsigned long before = state.exchanges;
    uint32_t rv = QVMD_RSAExchange(card, 0, 0, block.data(), block.size(), &out, &length,
                                   input.ConsumeIntegralInRange<int>(0, 2), 1);
    // per pair: two commands, the transport's GET RESPONSE and the gathered parts
    check(state.exchanges - before <= (block.size() / 128 + 1) * (2 + 1 + 16));
    check(rv != 0 ? out == nullptr : true);
    QVMD_Free(card, out);
}

void pin(_qv_md_card_struct *card, FuzzedDataProvider &input)
{
    static const unsigned char MODES[] = {1, 2, 16, 32, 3};
    unsigned char mode = MODES[input.ConsumeIntegralInRange<size_t>(0, sizeof(MODES) - 1)];
    std::vector<unsigned char> value =
        input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, 30));
    unsigned char *out = nullptr;
    unsigned long outLength = 0;
    long tries = 77;
    uint32_t rv = QVMD_Authenticate(card, input.ConsumeIntegral<unsigned char>(), mode,
                                    value.data(), value.size(), &out, &outLength, &tries, 0);
    check(out == nullptr || (rv == 0 && outLength == card->info->responseLength));
    QVMD_Free(card, out);
    if (input.ConsumeBool())
        QVMD_ChangeAuthenticator(card, QVMD_ROLE_USER, QVMD_AUTH_PIN, value.data(), value.size(),
                                 value.data(), value.size(), 3, &tries, 0);
    else
        QVMD_Deauthenticate(card, QVMD_ROLE_USER_AND_PUK);
}

void keys(_qv_md_card_struct *card, FuzzedDataProvider &input)
{
    _qv_md_container_key_info key;
    QVMD_ContainerInitStruct(&key);
    for (unsigned char what : {2, 3, 1, 0, 4})
        QVMD_GetContainerInfo(card, &key, what);
    check(key.modulus == nullptr || key.modulusLength != 0);
    QVMD_ContainerReleaseStruct(card, &key);
    unsigned char *blob = nullptr;
    unsigned long length = 0;
    if (QVMD_GetContainerInfoPublicKey(card, input.ConsumeIntegral<unsigned char>(), 0, &blob,
                                       &length) == 0)
        check(blob != nullptr && length > 20);
    QVMD_Free(card, blob);
}

uint32_t readFile(_qv_md_usage_context *context, const char *, const char *, unsigned long,
                  unsigned char **data, unsigned long *length)
{
    _qv_caapi_card_struct *t = context->card->transport;
    uint32_t rv = QVCAAPI_RunAPDU(t);
    if (rv != 0)
        return rv;
    if (t->sw1 != 0x90)
        return 0x80100024; // the file is not there
    *length = t->receivedLength - 2;
    *data = static_cast<unsigned char *>(QVMD_Alloc(context->card, *length + 1));
    memcpy(*data, t->response, *length);
    return 0;
}

uint32_t keyInfo(_qv_md_usage_context *context, _qv_md_container_key_info *key)
{
    for (unsigned char what : {2, 3, 1, 0})
        QVMD_GetContainerInfo(context->card, key, what);
    return 0;
}

void usage(_qv_md_card_struct *card)
{
    _qv_md_usage_context context = {card,
                                    QVMD_Outer_Default_Alloc,
                                    QVMD_Outer_Default_Realloc,
                                    QVMD_Outer_Default_Free,
                                    readFile,
                                    keyInfo};
    _qv_md_containers_usage_info info;
    QVMD_Usage_InitContainersInfo(&context, &info);
    QVMD_Usage_GetContainersInfo(&context, &info);
    QVMD_Usage_ReleaseContainersInfo(&context, &info);
    check(info.records == nullptr && info.count == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider input(bytes, size);
    Card state{&input};
    _qv_md_card_struct card;
    state.Init(&card);
    Binding binding(&card);
    QVMD_GetInfo(&card, card.info, QVMD_INFO_PIN_PROPERTIES);
    openOffline(&card, input);
    while (input.remaining_bytes() > 0) {
        unsigned long before = state.exchanges;
        switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            unwrap(&card, input);
            break;
        case 1:
            QVMD_OpenSM(&card, "MK", 0, 0, input.ConsumeIntegral<unsigned char>());
            check(state.exchanges - before <= 4 + 4); // the applet first, two commands each
            break;
        case 2:
            rsa(&card, state, input);
            break;
        case 3:
            pin(&card, input);
            break;
        case 4:
            keys(&card, input);
            break;
        case 5:
            usage(&card);
            break;
        case 6:
            QVMD_VerifyQVSignature(&card);
            break;
        default:
            openOffline(&card, input);
            break;
        }
    }
    QVMD_CryptoSMClose(&card.sm);
    QVMD_CardReleaseStruct(&card);
    return 0;
}
