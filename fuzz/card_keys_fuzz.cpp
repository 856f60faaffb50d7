// Card replies from the fuzz input to the card layer's key commands: container
// creation after the card-data signature test, deletion with its attribute file,
// key import, the signing and decryption wrappers with their copy into the caller's
// buffer, and both session closes, inside sessions opened with the card. The input
// is a stream of choices and replies (card_fuzz_stream.h); the seeds are the
// simulated card's replies. Properties: card_fuzz_plays.h.
#include "card_fuzz_plays.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    card_fuzz::Stream in(data, size);
    card_fuzz::Play(in, card_fuzz::KeysStep);
    return 0;
}
