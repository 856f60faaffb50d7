// Card replies from the fuzz input to the card layer's readers: the transport,
// every information kind, the card data read in pieces, the master-key data, the
// card-data TLV reader and the ATR parser. Properties: no crash or out-of-bounds
// access, the exchange caps hold (a reader never loops on the card's say-so), and
// a card-data read that succeeds returns bytes its TLV reader can walk.
#include "card_fuzz_support.h"

#include "card/qvmd_atr.h"
#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

using card_fuzz::Card;
using card_fuzz::check;

// At most two exchanges per command (a resend or one GET RESPONSE).
void readCardData(_qv_md_card_struct *card, Card &state, unsigned char tag)
{
    const unsigned char selector[5] = {tag, 0, 0, 0, 0};
    unsigned char *data = nullptr;
    unsigned long length = 0;
    unsigned long before = state.exchanges;
    uint32_t rv =
        QVMD_GetInfoCardDataTag(card, nullptr, selector, tag == 0 ? 5 : 1, &data, &length);
    check(state.exchanges - before <= 2 * 256);
    check((rv == 0) == (data != nullptr));
    if (data != nullptr) {
        const unsigned char *value = nullptr;
        unsigned long valueLength = 0;
        QVMD_CardDataContentReadTLV(data, length, 2, &value, &valueLength);
        check(value == nullptr || (value >= data && value + valueLength <= data + length));
    }
    QVMD_Free(card, data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider input(bytes, size);
    Card state{&input};
    _qv_md_card_struct card;
    state.Init(&card);
    if (input.ConsumeBool())
        card.transport->protocol = 2; // T=1: 61 xx left to the readers
    QVMD_CheckAppletSelection(&card);
    while (input.remaining_bytes() > 0) {
        unsigned long before = state.exchanges;
        switch (input.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            QVMD_GetInfo(&card, card.info, input.ConsumeIntegralInRange<unsigned char>(1, 11));
            check(state.exchanges - before <= 4); // kind 8 may read kind 5 first
            break;
        case 1:
            readCardData(&card, state, input.ConsumeIntegral<unsigned char>());
            break;
        case 2: {
            unsigned char out[24];
            unsigned long length = sizeof(out);
            QVMD_GetMKDiversificationData(&card, out, &length);
            break;
        }
        case 3: {
            std::vector<unsigned char> list =
                input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, 2048));
            const unsigned char *value = nullptr;
            unsigned long length = 0;
            QVMD_CardDataContentReadTLV(list.data(), list.size(),
                                        input.ConsumeIntegral<unsigned char>(), &value, &length);
            break;
        }
        default: {
            std::vector<unsigned char> atr =
                input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, 40));
            const unsigned char *historical = nullptr;
            unsigned long count = 0;
            if (QVMD_GetHistBytesForATR(atr.data(), atr.size(), &historical, &count) == 0)
                check(historical + count <= atr.data() + atr.size());
            break;
        }
        }
    }
    QVMD_CardReleaseStruct(&card);
    return 0;
}
