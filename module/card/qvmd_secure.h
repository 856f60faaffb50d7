// Commands under secure messaging, and the card's RSA private-key operations.
//
// The secure sender wraps the command prepared in the transport's command buffer,
// sends it and unwraps the response in place (or, for a response that arrives in
// parts, over an accumulation buffer), so that its callers see plain data and the
// status word only. Level 0 sends plainly; any other level applies what the open
// session's level says (qvmd_sm.h).
//
// An RSA operation sends the caller's block (already padded: the card applies the
// key to the block as it is) in one command up to 239 bytes, else in pairs of
// 128-byte pieces, and collects the result. A result must come back whole within
// the transport's response buffer; a longer one (a 4096-bit result with its R-MAC)
// is refused with QV_E_INSUFFICIENT_BUFFER, never cut.
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

enum : unsigned long {
    QVMD_RSA_SINGLE_MAX = 239,   // a block up to this goes in one command
    QVMD_RSA_PIECE = 128,        // else in pieces of this, two to a pair
    QVMD_RSA_MAX_ROUNDS = 511,   // commands and pairs of one operation
    QVMD_RSA_ACCUMULATION = 512, // a response that arrives in parts is gathered here
};

enum : int {
    QVMD_RSA_MODE_SIGN = 0,
    QVMD_RSA_MODE_DECRYPT = 1,
    QVMD_RSA_MODE_DECRYPT_ON_CARD = 2, // the result stays on the card
};

// = QVMD_RunSecureAPDUUseCustomSec(card, level, 1, 1, 1, null, null, 0).
uint32_t QVMD_RunSecureAPDU(_qv_md_card_struct *card, uint32_t level);
// With a level: wraps (when wrap), sends (when send) and unwraps (when unwrap). A
// response of only SW1 SW2 is not unwrapped, except over an accumulation buffer
// that already holds data: there the response is appended (QV_E_INSUFFICIENT_BUFFER
// when it would pass accumulationCapacity) and the whole is unwrapped in place, so
// that data gathered from several replies is never taken without its check.
uint32_t QVMD_RunSecureAPDUUseCustomSec(_qv_md_card_struct *card, uint32_t level, int wrap,
                                        int send, int unwrap, unsigned char *accumulation,
                                        unsigned long *accumulationLength,
                                        unsigned long accumulationCapacity);

// One RSA operation with container's key keySpec (0 signature, 1 key exchange) over
// length bytes of data, in mode (QVMD_RSA_MODE_*). out (from the context's alloc
// hook, QVMD_Free) receives the result in modes 0 and 1; on any failure it is null.
// An empty result is QV_E_UNEXPECTED; card refusals come through the key-container
// status family (69 85 security, 6A 80/6A 82 no container, 6A 83 no key).
uint32_t QVMD_RSAExchange(_qv_md_card_struct *card, unsigned char container, unsigned char keySpec,
                          const unsigned char *data, unsigned long length, unsigned char **out,
                          unsigned long *outLength, int mode, uint32_t level);
// Signs the block (mode 0); the token passes level 1 inside its session.
uint32_t QVMD_RSASign(_qv_md_card_struct *card, unsigned char container, unsigned char keySpec,
                      const unsigned char *data, unsigned long length, unsigned char **out,
                      unsigned long *outLength, uint32_t level);
// Decrypts in place (mode 1, level 1): *length is the data's length and the room of
// buffer on entry, the result's length on return. QV_E_INSUFFICIENT_BUFFER (buffer
// untouched) when the result does not fit.
uint32_t QVMD_RSADecrypt(_qv_md_card_struct *card, unsigned char container, unsigned char keySpec,
                         unsigned char *buffer, unsigned long *length);
// Decrypts into the card (mode 2, level 1): *length becomes 0, buffer is unchanged.
uint32_t QVMD_RSADecryptProcessOnCard(_qv_md_card_struct *card, unsigned char container,
                                      unsigned char keySpec, unsigned char *buffer,
                                      unsigned long *length);
