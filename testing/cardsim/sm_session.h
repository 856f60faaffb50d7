// The card's side of a secure-messaging session: the opening exchange of either
// generation, the check of protected commands (C-MAC, encrypted data) and the
// protection of replies (R-MAC, encrypted data), with the MAC chaining value that runs
// through the whole session. All of it is two-key triple DES in CBC mode (OpenSSL).
//
// Invariants: the session keys exist only between an opening challenge and Close; a
// session is open (protected commands are served) only after a response command whose
// host cryptogram and MAC were right; any failure closes it and wipes the keys.
#pragma once

#include "lzh.h"

#include <cstdint>

namespace cardsim
{

// Triple DES in CBC mode over whole blocks: two-key with a 16-byte key, three-key with
// a 24-byte one; iv 8 bytes. Empty on any failure.
Bytes TdesCbc(const Bytes &key, const Bytes &iv, const Bytes &data, bool encrypt);
// The response to an 8-byte challenge under a triple-DES key: the challenge encrypted
// as one block. Empty on failure.
Bytes ResponseToChallenge(const Bytes &key, const Bytes &challenge);
// Appends 80 and zero bytes up to a multiple of 8 (always at least the 80).
Bytes Pad80(Bytes data);
// Removes that padding; false when the data does not end in it.
bool Unpad80(Bytes &data);

class SmSession
{
  public:
    ~SmSession() { Close(); }

    // First generation: B0 50 with the host challenge. R is the 2-byte sequence counter
    // and six random bytes; the reply is R and the card cryptogram.
    Bytes ChallengeV1(const Bytes &masterKey, uint16_t counter, const Bytes &hostChallenge);
    // Second generation: B0 50 without data; the reply is the card challenge R.
    Bytes ChallengeV2();
    // The response command B4 52 (level in P1, data: [host challenge,] host cryptogram,
    // MAC). 90 00 opens the session; any other status word closes it.
    uint16_t Respond(const Bytes &masterKey, unsigned char p1, unsigned char p2, const Bytes &data);

    bool IsOpen() const { return m_stage == Stage::Open; }
    unsigned char Level() const { return m_level; }

    // A protected command B4 INS P1 P2 with its data: decrypts (level bit 1) and checks
    // the C-MAC (bit 0) over the rebuilt plain command B0 INS P1 P2 Lc data; the MAC
    // becomes the chaining value. On success data holds the plain data; on failure the
    // session is closed.
    bool Unwrap(unsigned char ins, unsigned char p1, unsigned char p2, Bytes &data);
    // Reply data of a protected command: encrypted (level bit 5), then followed by its
    // R-MAC over the plain padded data (bit 4), which becomes the chaining value.
    // spoilMac flips a byte of the MAC as sent (a hostile card).
    Bytes Protect(const Bytes &data, bool spoilMac);

    void Close();

  private:
    enum class Stage { Closed, Challenged, Open };
    Bytes Mac(const Bytes &message);

    Stage m_stage = Stage::Closed;
    int m_generation = 0;
    unsigned char m_level = 0;
    Bytes m_card, m_host; // challenges R and H
    Bytes m_enc, m_mac;   // session keys S-ENC and S-MAC
    Bytes m_chain;
};

} // namespace cardsim
