// What the card-layer fuzzers share: a card whose replies come from the fuzz input
// through the transport's callback, and a property check.
#pragma once

#include "card/qvmd_card.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

namespace card_fuzz
{

// Each exchange takes one reply (0 to longest bytes) from the input; an exhausted
// input removes the card.
struct Card {
    FuzzedDataProvider *input;
    size_t longest = 520;
    unsigned long exchanges = 0;

    static uint32_t Transmit(void *context, const unsigned char *, unsigned long,
                             unsigned char *response, unsigned long *responseLength)
    {
        auto *card = static_cast<Card *>(context);
        card->exchanges++;
        if (card->input->remaining_bytes() == 0)
            return 0x80100069; // removed
        size_t length = card->input->ConsumeIntegralInRange<size_t>(0, card->longest);
        std::vector<unsigned char> reply = card->input->ConsumeBytes<unsigned char>(length);
        if (reply.size() > *responseLength)
            return 0x80100008;
        if (!reply.empty())
            memcpy(response, reply.data(), reply.size());
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

inline void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

} // namespace card_fuzz
