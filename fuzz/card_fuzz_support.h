// What the card-layer fuzzers share: a card whose replies come from the fuzz input
// through the transport's callback, the bound DES provider and a property check.
#pragma once

#include "card_fuzz_stream.h"

#include "card/qvmd_card.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

namespace card_fuzz
{

// Each exchange takes one reply (0 to longest bytes) from the input; an exhausted
// input removes the card. A reply longer than the room it is given is either the
// transport's refusal or, as the input decides, copied up to the room and claimed
// whole, which the card layer must refuse.
struct Card {
    FuzzedDataProvider *input;
    size_t longest = 520;
    unsigned long exchanges = 0;
    unsigned long claims = 0;

    static uint32_t Transmit(void *context, const unsigned char *, unsigned long,
                             unsigned char *response, unsigned long *responseLength)
    {
        auto *card = static_cast<Card *>(context);
        card->exchanges++;
        if (card->input->remaining_bytes() == 0)
            return 0x80100069; // removed
        size_t length = card->input->ConsumeIntegralInRange<size_t>(0, card->longest);
        std::vector<unsigned char> reply = card->input->ConsumeBytes<unsigned char>(length);
        if (reply.size() > *responseLength) {
            if (!card->input->ConsumeBool())
                return 0x80100008;
            memcpy(response, reply.data(), *responseLength);
            card->claims++;
        } else if (!reply.empty()) {
            memcpy(response, reply.data(), reply.size());
        }
        *responseLength = reply.size();
        return 0;
    }

    // A card context over this card.
    void Init(_qv_md_card_struct *context)
    {
        QVMD_CardInitStruct(context, reinterpret_cast<unsigned long>(this), nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, Transmit);
    }
};

} // namespace card_fuzz
