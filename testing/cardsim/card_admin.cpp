// The card's administration commands: card-data writes, the whole-card clean-ups
// (free memory, free containers), the challenge of challenge-response PINs, PIN
// property updates, the admin card's response and PIN activation, and the parameters of
// the imported secure-messaging key.
//
// Invariants: the commands under secure messaging act only when they arrived with a
// C-MAC (else 69 82) and need no PIN role, the session being the issuer's proof; every
// change is checked whole before it is made, and kept only when the state file takes it.
#include "card.h"
#include "sm_session.h"
#include "status_words.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>

namespace cardsim
{

namespace
{

constexpr size_t kMaxCardData = 0xFFFF; // the card-data read counts in 16 bits

bool Exists(const Bytes &cardData, unsigned char tag)
{
    size_t at = 0, length = 0;
    return FindCardDataEntry(cardData, tag, at, length);
}

} // namespace

Card::Reply Card::SetCardData(const Command &c)
{
    // B0 1A tag 00 value (the whole value), or B0 1A 01 P2 tag attribute length value (one
    // entry; P2 01 adds it only where the tag is absent, 00 replaces it). The attribute
    // byte is taken and not kept: the card stores tag, 2-byte length and value.
    if (!MacProtected(c))
        return {{}, SW_SM_NEEDED};
    unsigned char tag = c.p1;
    Bytes value = c.data;
    bool addOnly = false;
    if (c.p1 == 0x01) {
        if (c.p2 > 0x01)
            return {{}, SW_BAD_P1P2};
        if (c.data.size() < 3 || c.data[2] != c.data.size() - 3)
            return {{}, SW_WRONG_LENGTH};
        tag = c.data[0];
        value.assign(c.data.begin() + 3, c.data.end());
        addOnly = c.p2 == 0x01;
        if (tag == 0x00 || tag == 0xFF)
            return {{}, SW_BAD_DATA};
    } else if (c.p1 == 0x00 || c.p1 == 0xFF || c.p2 != 0x00) {
        // 00 names all card data and FF the next piece when reading
        return {{}, SW_BAD_P1P2};
    }
    if (tag == kProviderFlagsTag && value.size() != 2)
        return {{}, SW_BAD_DATA};
    if (addOnly && Exists(m_state.cardData, tag))
        return {{}, SW_EXISTS};
    Bytes cardData = m_state.cardData;
    PutCardDataEntry(cardData, tag, value);
    if (cardData.size() > kMaxCardData)
        return {{}, SW_NO_ROOM};
    m_state.cardData = std::move(cardData);
    m_cursor = Cursor{}; // a read under way would continue in changed data
    return Commit();
}

Card::Reply Card::FreeMemory(const Command &c)
{
    // B0 AC 00 00 (before 1.0, plain, with a PIN role) frees the file memory;
    // B0 1C P1 FF (from 1.0 on, with a C-MAC) frees the file memory (P1 00) or every
    // container's keys (P1 01)
    const bool older = c.ins == 0xAC;
    if (older == m_state.AppletAtLeast(1, 0))
        return {{}, SW_UNKNOWN_INS};
    if (older) {
        if (c.p1 != 0x00 || c.p2 != 0x00)
            return {{}, SW_BAD_P1P2};
        if (c.hasData)
            return {{}, SW_WRONG_LENGTH};
        if (!Privileged())
            return {{}, SW_DENIED};
    } else {
        if (!MacProtected(c))
            return {{}, SW_SM_NEEDED};
        if (c.p1 > 0x01 || c.p2 != 0xFF)
            return {{}, SW_BAD_P1P2};
        if (c.hasData)
            return {{}, SW_WRONG_LENGTH};
    }
    if (older || c.p1 == 0x00) {
        // every file and directory goes; the root stays, empty
        CardDir root;
        root.access = m_state.dirs[""].access;
        m_state.dirs.clear();
        m_state.dirs[""] = root;
    } else {
        m_state.keys.clear();
        DropImport();
        m_import.targetSet = false;
        m_rsa = RsaBuffer{};
        m_keptResult.clear();
    }
    return Commit();
}

Card::Reply Card::PinChallenge(const Command &c)
{
    // B0 22 00 00 08: a new challenge (8 random bytes, replacing any pending one);
    // B0 22 index 01: the challenge-response PIN `index` gives up the pending one
    if (c.hasData)
        return {{}, SW_WRONG_LENGTH};
    if (c.p2 == 0x00) {
        if (c.p1 != 0x00)
            return {{}, SW_BAD_P1P2};
        Bytes challenge(8);
        if (RAND_bytes(challenge.data(), static_cast<int>(challenge.size())) != 1)
            return {{}, SW_NO_RESPONSE};
        Reply r = CaseTwo(c, challenge);
        if (r.sw == SW_OK)
            m_challenge = std::move(challenge);
        return r;
    }
    if (c.p2 != 0x01)
        return {{}, SW_BAD_P1P2};
    if (c.p1 >= m_state.pins.size() || !m_state.pins[c.p1].ChallengeResponse())
        return {{}, SW_BAD_REFERENCE};
    if (m_challenge.empty())
        return {{}, SW_DENIED}; // nothing to cancel
    OPENSSL_cleanse(m_challenge.data(), m_challenge.size());
    m_challenge.clear();
    return {{}, SW_OK};
}

Card::Reply Card::UpdatePinProperties(const Command &c)
{
    // B0 2C index mask 05 c0 c1 c2 t u: mask bit 0 sets the provider PIN-info bytes
    // c0-c2, bit 1 the try limit t (1..15; the tries left never exceed it), bit 2 the
    // mask u of the PINs that may change or unblock this one; unnamed bytes are ignored
    if (!MacProtected(c))
        return {{}, SW_SM_NEEDED};
    if (c.p1 >= m_state.pins.size())
        return {{}, SW_BAD_REFERENCE};
    if (c.p2 == 0x00 || (c.p2 & ~0x07))
        return {{}, SW_BAD_P1P2};
    if (c.data.size() != 5)
        return {{}, SW_WRONG_LENGTH};
    CardPin pin = m_state.pins[c.p1];
    if (c.p2 & 0x01)
        std::copy(c.data.begin(), c.data.begin() + 3, pin.info);
    if (c.p2 & 0x02) {
        unsigned char limit = c.data[3];
        if (limit == 0 || limit > 15)
            return {{}, SW_BAD_DATA};
        pin.limit = limit;
        pin.tries = std::min(pin.tries, limit);
    }
    if (c.p2 & 0x04) {
        unsigned char updaters = c.data[4];
        if (updaters >> m_state.pins.size())
            return {{}, SW_BAD_DATA}; // a PIN the card does not have
        pin.updaters = updaters;
    }
    m_state.pins[c.p1] = pin;
    return Commit();
}

Card::Reply Card::AdminCard(const Command &c)
{
    // From 1.0 on, with a C-MAC.
    // B0 2A keyref 00 challenge [diversification]: the challenge encrypted under the admin
    // key `keyref`, or under that key's derivation for the 24 diversification bytes (the
    // bytes encrypted under the admin key, CBC with a zero IV); 8 bytes back.
    // B0 2A index 01 / 02: the first / second activation of PIN `index`, marked in its
    // status byte A / B; the second needs the first.
    if (!m_state.AppletAtLeast(1, 0))
        return {{}, SW_UNKNOWN_INS};
    if (!MacProtected(c))
        return {{}, SW_SM_NEEDED};
    if (c.p2 == 0x00) {
        if (c.data.size() != 8 && c.data.size() != 32)
            return {{}, SW_WRONG_LENGTH};
        auto k = m_state.adminKeys.find(c.p1);
        if (k == m_state.adminKeys.end())
            return {{}, SW_NOT_FOUND};
        Bytes key = k->second;
        if (c.data.size() == 32)
            key = TdesCbc(k->second, Bytes(8, 0x00), Bytes(c.data.begin() + 8, c.data.end()), true);
        Bytes response = ResponseToChallenge(key, Bytes(c.data.begin(), c.data.begin() + 8));
        OPENSSL_cleanse(key.data(), key.size());
        if (response.size() != 8)
            return {{}, SW_NO_RESPONSE};
        return {std::move(response), SW_OK};
    }
    if (c.p2 != 0x01 && c.p2 != 0x02)
        return {{}, SW_BAD_P1P2};
    if (c.hasData)
        return {{}, SW_WRONG_LENGTH};
    if (c.p1 >= m_state.pins.size())
        return {{}, SW_BAD_REFERENCE};
    CardPin &pin = m_state.pins[c.p1];
    if (c.p2 == 0x02 && !(pin.statusA & 0x01))
        return {{}, SW_DENIED};
    (c.p2 == 0x01 ? pin.statusA : pin.statusB) |= 0x01;
    return Commit();
}

Card::Reply Card::ImportedKeyParameters(const Command &c)
{
    // B0 54 a b c x y z, plain: a b c become the first three bytes of information kind
    // 11; x y z are taken and not kept. Not while a session runs on the key.
    if (m_sm.IsOpen())
        return {{}, SW_DENIED};
    Bytes params = m_state.importedKeyParams;
    if (params.size() < 3)
        params.resize(3, 0x00);
    params[0] = c.p1;
    params[1] = c.p2;
    params[2] = c.data[0];
    m_state.importedKeyParams = std::move(params);
    return Commit();
}

} // namespace cardsim
