// Card replies from the fuzz input to the card layer's administration commands: the
// challenge and its cancel, the administration-card response and PIN activation,
// the PIN-property update, the card-data writes, freeing memory and containers (in
// either applet's form), a container's access change, the imported-key parameter
// change and the PIN unblock, inside sessions opened with the card. The input is a
// stream of choices and replies (card_fuzz_stream.h); the seeds are the simulated
// card's replies. Properties: card_fuzz_plays.h.
#include "card_fuzz_plays.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    card_fuzz::Stream in(data, size);
    card_fuzz::Play(in, card_fuzz::AdminStep);
    return 0;
}
