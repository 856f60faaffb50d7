#include "sm_session.h"

#include "openssl_handles.h"
#include "status_words.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace cardsim
{

namespace
{

// Level bits: 0 C-MAC, 1 command data encrypted, 4 R-MAC, 5 reply data encrypted.
constexpr unsigned char kLevelBits = 0x33;

Bytes Last8(const Bytes &b)
{
    return Bytes(b.end() - 8, b.end());
}

void Wipe(Bytes &b)
{
    if (!b.empty())
        OPENSSL_cleanse(b.data(), b.size());
    b.clear();
}

Bytes Random(size_t n)
{
    Bytes b(n);
    if (RAND_bytes(b.data(), static_cast<int>(n)) != 1)
        b.assign(n, 0x5A); // not expected; the session still works, only predictably
    return b;
}

} // namespace

Bytes TdesCbc(const Bytes &key, const Bytes &iv, const Bytes &data, bool encrypt)
{
    OpenSslHandle<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
    Bytes out(data.size() + 8);
    int n = 0, tail = 0;
    if (!ctx || (key.size() != 16 && key.size() != 24) || iv.size() != 8 || data.size() % 8 ||
        EVP_CipherInit_ex(ctx.get(), key.size() == 16 ? EVP_des_ede_cbc() : EVP_des_ede3_cbc(),
                          nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), static_cast<int>(data.size())) !=
            1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) != 1)
        return {};
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

Bytes ResponseToChallenge(const Bytes &key, const Bytes &challenge)
{
    if (challenge.size() != 8)
        return {};
    return TdesCbc(key, Bytes(8, 0x00), challenge, true);
}

Bytes Pad80(Bytes data)
{
    data.push_back(0x80);
    while (data.size() % 8)
        data.push_back(0x00);
    return data;
}

bool Unpad80(Bytes &data)
{
    size_t end = data.size();
    while (end > 0 && data[end - 1] == 0x00)
        --end;
    if (end == 0 || data[end - 1] != 0x80 || data.size() - end >= 8)
        return false;
    data.resize(end - 1);
    return true;
}

Bytes SmSession::ChallengeV1(const Bytes &masterKey, uint16_t counter, const Bytes &hostChallenge)
{
    Close();
    m_generation = 1;
    m_host = hostChallenge;
    m_card = {static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
    Bytes random = Random(6);
    m_card.insert(m_card.end(), random.begin(), random.end());
    const Bytes zero(8, 0x00);
    Bytes block(16, 0x00);
    block[2] = m_card[0];
    block[3] = m_card[1];
    block[0] = 0x01;
    block[1] = 0x01;
    m_mac = TdesCbc(masterKey, zero, block, true);
    block[1] = 0x02;
    m_enc = TdesCbc(masterKey, zero, block, true);
    Bytes hr = m_host;
    hr.insert(hr.end(), m_card.begin(), m_card.end());
    Bytes cryptogram = TdesCbc(m_enc, zero, Pad80(hr), true);
    if (m_mac.size() != 16 || cryptogram.empty()) {
        Close();
        return {};
    }
    m_stage = Stage::Challenged;
    Bytes reply = m_card;
    Bytes c = Last8(cryptogram);
    reply.insert(reply.end(), c.begin(), c.end());
    return reply;
}

Bytes SmSession::ChallengeV2()
{
    Close();
    m_generation = 2;
    m_card = Random(8);
    m_stage = Stage::Challenged;
    return m_card;
}

uint16_t SmSession::Respond(const Bytes &masterKey, unsigned char p1, unsigned char p2,
                            const Bytes &data)
{
    if (m_stage != Stage::Challenged) {
        Close();
        return SW_SM_ERROR;
    }
    size_t expected = m_generation == 1 ? 16 : 24;
    if (data.size() != expected) {
        Close();
        return SW_WRONG_LENGTH;
    }
    if (p1 & ~kLevelBits) {
        Close();
        return SW_BAD_P1P2;
    }
    const Bytes zero(8, 0x00);
    size_t at = 0;
    if (m_generation == 2) {
        m_host.assign(data.begin(), data.begin() + 8);
        at = 8;
        const Bytes &r = m_card, &h = m_host;
        Bytes block = {r[4], r[5], r[6], 0x82, h[0], h[1], h[2], h[3],
                       r[0], r[1], r[2], r[3], h[4], h[5], h[6], h[7]};
        m_enc = TdesCbc(masterKey, zero, block, true);
        block[3] = 0x81;
        m_mac = TdesCbc(masterKey, zero, block, true);
        Wipe(block);
    }
    Bytes rh = m_card;
    rh.insert(rh.end(), m_host.begin(), m_host.end());
    Bytes expectedCryptogram = TdesCbc(m_enc, zero, Pad80(rh), true);
    Bytes cryptogram(data.begin() + static_cast<long>(at),
                     data.begin() + static_cast<long>(at + 8));
    if (expectedCryptogram.empty() || Last8(expectedCryptogram) != cryptogram) {
        Close();
        return SW_SM_ERROR;
    }
    // the response command is C-MAC'd whatever the level, chained from the cryptogram
    m_chain = cryptogram;
    m_level = 0x01;
    m_stage = Stage::Open;
    Bytes whole = data;
    if (!Unwrap(0x52, p1, p2, whole))
        return SW_SM_ERROR;
    m_level = p1;
    return SW_OK;
}

Bytes SmSession::Mac(const Bytes &message)
{
    Bytes out = TdesCbc(m_mac, m_chain, Pad80(message), true);
    return out.empty() ? Bytes(8, 0x00) : Last8(out);
}

bool SmSession::Unwrap(unsigned char ins, unsigned char p1, unsigned char p2, Bytes &data)
{
    if (m_stage != Stage::Open)
        return false;
    Bytes body = data, mac;
    if (m_level & 0x01) {
        if (body.size() < 8) {
            Close();
            return false;
        }
        mac = Last8(body);
        body.resize(body.size() - 8);
    }
    if ((m_level & 0x02) && !body.empty()) {
        Bytes plain = TdesCbc(m_enc, Bytes(8, 0x00), body, false);
        if (plain.empty() || !Unpad80(plain)) {
            Close();
            return false;
        }
        body = std::move(plain);
    }
    if (m_level & 0x01) {
        if (body.size() > 255) {
            Close();
            return false;
        }
        Bytes command = {0xB0, ins, p1, p2, static_cast<unsigned char>(body.size())};
        command.insert(command.end(), body.begin(), body.end());
        Bytes computed = Mac(command);
        if (computed != mac) {
            Close();
            return false;
        }
        m_chain = computed;
    }
    data = std::move(body);
    return true;
}

Bytes SmSession::Protect(const Bytes &data, bool spoilMac)
{
    Bytes out = data;
    if (m_level & 0x20)
        out = TdesCbc(m_enc, Bytes(8, 0x00), Pad80(data), true);
    if (m_level & 0x10) {
        Bytes mac = Mac(data);
        m_chain = mac;
        if (spoilMac)
            mac[3] ^= 0x01;
        out.insert(out.end(), mac.begin(), mac.end());
    }
    return out;
}

void SmSession::Close()
{
    m_stage = Stage::Closed;
    m_generation = 0;
    m_level = 0;
    Wipe(m_card);
    Wipe(m_host);
    Wipe(m_enc);
    Wipe(m_mac);
    Wipe(m_chain);
}

} // namespace cardsim
