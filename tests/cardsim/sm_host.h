// The host's side of secure messaging and on-card RSA for the simulator's tests,
// written from the session rules alone (OpenSSL for the cryptography) and apart from
// the card's own code, so that a misreading on one side shows as a refused MAC,
// cryptogram or signature.
#pragma once

#include "host.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace cardsim_test
{

// Triple DES, CBC, no padding: two-key with a 16-byte key, three-key with a 24-byte
// one; empty on any failure.
inline Bytes Tdes(const Bytes &key, const Bytes &iv, const Bytes &in, bool encrypt)
{
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX *)> ctx(EVP_CIPHER_CTX_new(),
                                                                    EVP_CIPHER_CTX_free);
    Bytes out(in.size() + 8);
    int n = 0, m = 0;
    const EVP_CIPHER *cipher = key.size() == 24 ? EVP_des_ede3_cbc() : EVP_des_ede_cbc();
    if ((key.size() != 16 && key.size() != 24) ||
        EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data(), encrypt) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), int(in.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n, &m) != 1)
        return {};
    out.resize(size_t(n + m));
    return out;
}

// 80, then zero bytes to a multiple of 8.
inline Bytes Padded(Bytes b)
{
    b.push_back(0x80);
    b.resize((b.size() + 7) / 8 * 8, 0x00);
    return b;
}

inline Bytes Tail8(const Bytes &b)
{
    return b.size() < 8 ? Bytes{} : Bytes(b.end() - 8, b.end());
}

// A key of the test fixtures, stored as hex digits.
inline Bytes FixtureKey(const std::string &file)
{
    std::ifstream f(std::string(VOK_CARDSIM_FIXTURES) + "/" + file);
    std::string hex;
    Bytes key;
    f >> hex;
    cardsim::FromHex(hex, key);
    return key;
}

inline Bytes FixtureMasterKey()
{
    return FixtureKey("test_only_mk.hex");
}

struct HostSession {
    Bytes enc, mac, chain;
    unsigned char level = 0;
    Bytes cardChallenge;
};

constexpr uint16_t kHostRefused = 0xFFFF; // the host's own check failed (card cryptogram)

// Opens a session at `level`: B0 50 and the MAC'd response command of the applet's
// generation. The status of the last command sent, or kHostRefused.
inline uint16_t OpenSession(const Transmit &tx, bool secondGeneration, unsigned char level,
                            HostSession &s, const Bytes &mk = FixtureMasterKey(),
                            Bytes host = {0x48, 0x4F, 0x53, 0x54, 0x01, 0x02, 0x03, 0x04})
{
    const Bytes zero(8, 0x00);
    Bytes r;
    Bytes responseData;
    if (!secondGeneration) {
        Bytes reply = tx(Cat({0xB0, 0x50, 0x00, 0x00, 0x08}, host));
        if (Sw(reply) != 0x9000 || Data(reply).size() != 16)
            return Sw(reply);
        r.assign(reply.begin(), reply.begin() + 8);
        Bytes c(reply.begin() + 8, reply.begin() + 16);
        Bytes block(16, 0x00);
        block[0] = 0x01, block[1] = 0x01, block[2] = r[0], block[3] = r[1];
        s.mac = Tdes(mk, zero, block, true);
        block[1] = 0x02;
        s.enc = Tdes(mk, zero, block, true);
        if (Tail8(Tdes(s.enc, zero, Padded(Cat(host, r)), true)) != c)
            return kHostRefused;
    } else {
        Bytes reply = tx({0xB0, 0x50, 0x00, 0x00, 0x08});
        if (Sw(reply) != 0x9000 || Data(reply).size() != 8)
            return Sw(reply);
        r = Data(reply);
        const Bytes &h = host;
        Bytes block = {r[4], r[5], r[6], 0x82, h[0], h[1], h[2], h[3],
                       r[0], r[1], r[2], r[3], h[4], h[5], h[6], h[7]};
        s.enc = Tdes(mk, zero, block, true);
        block[3] = 0x81;
        s.mac = Tdes(mk, zero, block, true);
        responseData = host;
    }
    s.cardChallenge = r;
    Bytes hostCryptogram = Tail8(Tdes(s.enc, zero, Padded(Cat(r, host)), true));
    responseData = Cat(responseData, hostCryptogram);
    Bytes plain = Cat({0xB0, 0x52, level, 0x00, static_cast<unsigned char>(responseData.size())},
                      responseData);
    s.chain = hostCryptogram;
    Bytes mac = Tail8(Tdes(s.mac, s.chain, Padded(plain), true));
    s.chain = mac;
    plain[0] = 0xB4;
    plain[4] = static_cast<unsigned char>(plain[4] + 8);
    s.level = level;
    return Sw(tx(Cat(plain, mac)));
}

// A plain case-1 or case-3 command (B0 INS P1 P2 [Lc data]) as sent in the session:
// C-MAC over the plain command (level bit 0), then the data encrypted (bit 1).
inline Bytes Wrap(HostSession &s, Bytes command)
{
    if (command.size() == 4)
        command.push_back(0x00);
    Bytes data(command.begin() + 5, command.end());
    Bytes mac;
    if (s.level & 0x01) {
        mac = Tail8(Tdes(s.mac, s.chain, Padded(command), true));
        s.chain = mac;
    }
    if (s.level & 0x02)
        data = Tdes(s.enc, Bytes(8, 0x00), Padded(data), true);
    Bytes out = {0xB4, command[1], command[2], command[3],
                 static_cast<unsigned char>(data.size() + mac.size())};
    return Cat(Cat(out, data), mac);
}

// A whole reply (data, status): a bare status word is left alone; otherwise the data is
// decrypted (level bit 5) and its R-MAC checked and chained (bit 4). False when the
// R-MAC or the padding is wrong.
inline bool Unwrap(HostSession &s, const Bytes &reply, Bytes &data)
{
    data = Data(reply);
    if (reply.size() == 2 || !(s.level & 0x30))
        return true;
    Bytes mac;
    if (s.level & 0x10) {
        if (data.size() < 8)
            return false;
        mac = Tail8(data);
        data.resize(data.size() - 8);
    }
    if (s.level & 0x20) {
        data = Tdes(s.enc, Bytes(8, 0x00), data, false);
        size_t end = data.size();
        while (end > 0 && data[end - 1] == 0x00)
            --end;
        if (end == 0 || data[end - 1] != 0x80)
            return false;
        data.resize(end - 1);
    }
    if (s.level & 0x10) {
        Bytes computed = Tail8(Tdes(s.mac, s.chain, Padded(data), true));
        if (computed != mac)
            return false;
        s.chain = computed;
    }
    return true;
}

struct SecureReply {
    uint16_t sw = 0;
    bool verified = false; // the reply passed Unwrap
    Bytes data;
    size_t wireLength = 0; // bytes received, status words included
};

// Wraps and sends a command, follows 61 xx with plain GET RESPONSE, and unwraps the
// whole reply.
inline SecureReply SendSecure(const Transmit &tx, HostSession &s, const Bytes &command)
{
    SecureReply out;
    Bytes reply = tx(Wrap(s, command));
    out.wireLength = reply.size();
    Bytes all = Data(reply);
    for (int round = 0; round < 8 && (Sw(reply) >> 8) == 0x61; ++round) {
        reply = tx({0x00, 0xC0, 0x00, 0x00, static_cast<unsigned char>(Sw(reply) & 0xFF)});
        out.wireLength += reply.size();
        all = Cat(all, Data(reply));
    }
    out.sw = Sw(reply);
    all.push_back(static_cast<unsigned char>(out.sw >> 8));
    all.push_back(static_cast<unsigned char>(out.sw));
    out.verified = Unwrap(s, all, out.data);
    return out;
}

// The commands of one private-key operation (INS 78 sign, 7A decrypt) as the host
// splits a block: while more than 239 bytes remain, a pair of pieces (128 bytes, then
// up to 128); then one command with the rest. Flags: 1 on the first command, 4 on the
// last, 8 on pieces, 2 on all when the result stays on the card.
inline std::vector<Bytes> RsaCommands(unsigned char ins, unsigned char index, unsigned char spec,
                                      const Bytes &block, bool keep = false)
{
    std::vector<Bytes> out;
    size_t sent = 0;
    auto command = [&](unsigned flags, Bytes data) {
        flags |= (sent == 0 ? 1 : 0) | (keep ? 2 : 0);
        out.push_back(Cat({0xB0, ins, index, static_cast<unsigned char>(flags << 4 | spec),
                           static_cast<unsigned char>(data.size())},
                          data));
    };
    auto piece = [&](size_t n) {
        return Bytes(block.begin() + long(sent), block.begin() + long(sent + n));
    };
    while (sent < block.size()) {
        size_t rest = block.size() - sent;
        if (rest > 239) {
            command(8, Cat({0x00, 0x00}, piece(128)));
            sent += 128;
            size_t n = std::min<size_t>(128, rest - 128);
            command(8 | (sent + n == block.size() ? 4 : 0), Cat({0x80, 0x01}, piece(n)));
            sent += n;
        } else {
            command(4, piece(rest));
            sent += rest;
        }
    }
    return out;
}

// 00 01 FF .. FF 00 DigestInfo(SHA-256 of the message), k bytes.
inline Bytes SignatureBlock(const std::string &message, size_t k)
{
    const Bytes prefix = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                          0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    Bytes digest(32);
    EVP_Digest(message.data(), message.size(), digest.data(), nullptr, EVP_sha256(), nullptr);
    Bytes t = Cat(prefix, digest);
    Bytes block = {0x00, 0x01};
    block.resize(k - t.size() - 1, 0xFF);
    block.push_back(0x00);
    return Cat(block, t);
}

inline bool VerifiesSha256(EVP_PKEY *key, const std::string &message, const Bytes &signature)
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestVerify(ctx, signature.data(), signature.size(),
                               reinterpret_cast<const unsigned char *>(message.data()),
                               message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

// Runs the commands in the session; the reply of the last one, or of the first that
// failed.
inline SecureReply SendAllSecure(const Transmit &tx, HostSession &s,
                                 const std::vector<Bytes> &commands)
{
    SecureReply r;
    for (const Bytes &c : commands) {
        r = SendSecure(tx, s, c);
        if (r.sw != 0x9000)
            break;
    }
    return r;
}

} // namespace cardsim_test
