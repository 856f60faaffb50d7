// Key containers end to end against the simulated card: creation after the
// card-data signature test (and none when the test fails), signing with the new key,
// import of an OpenSSL key under an encrypting session, deletion with its attribute
// file, key information and the public-key blob, the containers-usage list, and the
// whole-card clean-up of older applets.
#include "card_rsa_oracle.h"
#include "card_sim_support.h"
#include "card_sm_support.h"

#include "card/qvmd_card_data.h"
#include "card/qvmd_card_write.h"
#include "card/qvmd_container.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include "card_content.h"

#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace
{

using namespace card_test;

// The simulated card selected with its user PIN verified (unless told not to).
struct KeyCard {
    explicit KeyCard(const cardsim::Personalisation &p, bool verify = true)
        : sim(p), sm(sim.get())
    {
        PrepareCard(sim, verify);
    }

    // Signs block with container's signature key in a session of its own.
    Bytes Sign(unsigned char container, const Bytes &block)
    {
        EXPECT_EQ(QVMD_OpenSM(sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        unsigned char *out = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(
            QVMD_RSASign(sim.get(), container, 0, block.data(), block.size(), &out, &length, 1),
            0u);
        Bytes signature(out, out + length);
        QVMD_Free(sim.get(), out);
        EXPECT_EQ(QVMD_CloseSM(sim.get()), 0u);
        return signature;
    }
    bool Sent(unsigned char ins) const
    {
        for (const Bytes &c : sim.transport->commands)
            if (c[1] == ins)
                return true;
        return false;
    }

    SimCard sim;
    SmBinding sm;
};

Bytes Block(size_t length)
{
    Bytes b(length, 0xFF);
    b[0] = 0x00;
    b[1] = 0x01;
    b[length - 9] = 0x00;
    for (size_t i = length - 8; i < length; i++)
        b[i] = static_cast<unsigned char>(i);
    return b;
}

_qv_md_create_container_request Request(unsigned char container, unsigned bits, bool generate)
{
    _qv_md_create_container_request r{};
    r.container = container;
    r.keySpec = QVMD_KEY_SPEC_SIGNATURE;
    r.flags = 0x01;
    r.keyBits = static_cast<uint16_t>(bits);
    r.access[0] = 0x02;
    r.access[1] = 0x06;
    if (generate) {
        const unsigned char e[8] = {0, 0, 0, 0, 0, 1, 0, 1};
        memcpy(r.exponent, e, 8);
        r.exponentPresent = 1;
    } else {
        r.defaultExponent = 1;
    }
    return r;
}

TEST(ContainerSim, CreatedAfterTheSignatureTestAndUsed)
{
    for (auto version : {std::make_pair(0, 9), std::make_pair(1, 1), std::make_pair(1, 2)}) {
        SCOPED_TRACE(std::to_string(version.first) + "." + std::to_string(version.second));
        KeyCard card(Applet(static_cast<unsigned char>(version.first),
                            static_cast<unsigned char>(version.second)));
        _qv_md_create_container_request request = Request(1, 1024, true);
        ASSERT_EQ(QVMD_CreateContainer(card.sim.get(), &request), 0u);
        // the card data was read for the test before the create command, exponent 01 00 01
        const std::vector<Bytes> &sent = card.sim.transport->commands;
        EXPECT_EQ(ToHex(sent.back()), "B0 70 01 00 09 01 04 00 00 02 06 01 00 01");
        EXPECT_EQ(sent.front()[1], 0x10);

        const Bytes block = Block(128);
        Bytes signature = card.Sign(1, block);
        PKey key = KeyFromDer(card.sim.card->Snapshot().keys.at({1, 0}).der, false);
        EXPECT_EQ(ToHex(PublicRaw(key.get(), signature)), ToHex(block));
    }
}

// Card data as a TLV list, signed with a key as the issuer signs it.
struct CardData {
    std::vector<std::pair<unsigned char, Bytes>> tags;

    void Sign(EVP_PKEY *key, const EVP_MD *digest, const Bytes &cardId, const Bytes &items)
    {
        Bytes message;
        for (unsigned char item : items) {
            if (item == 0x03) {
                message = Concat(message, cardId);
                continue;
            }
            for (auto &t : tags)
                if (t.first == item)
                    message = Concat(message, t.second);
        }
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
        size_t length = 0;
        EVP_DigestSignInit(ctx.get(), nullptr, digest, nullptr, key);
        EVP_DigestSign(ctx.get(), nullptr, &length, message.data(), message.size());
        Bytes signature(length);
        EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size());
        tags.push_back({0x01, items});
        tags.push_back({0x04, signature});
    }
    Bytes Encoded() const
    {
        Bytes out;
        for (auto &t : tags)
            out = Concat(out, Concat({t.first, static_cast<unsigned char>(t.second.size() >> 8),
                                      static_cast<unsigned char>(t.second.size())},
                                     t.second));
        return out;
    }
};

PKey IssuerKey()
{
    FILE *f = fopen(VOK_CARDSIM_FIXTURES "/test_only_issuer_key.pem", "r");
    EVP_PKEY *key = f != nullptr ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
    if (f != nullptr)
        fclose(f);
    return PKey(key, EVP_PKEY_free);
}

TEST(ContainerSim, TheSignatureTestDecidesOverCreation)
{
    PKey issuer = IssuerKey();
    ASSERT_NE(issuer, nullptr);
    PKey stranger = NewRsaKey(1536);
    const Bytes tag2(24, 0x22), tag5 = {'h', 'o', 'l', 'd', 'e', 'r'};
    struct Row {
        const char *name;
        std::function<Bytes(const Bytes &cardId)> cardData;
        uint32_t result;
    } rows[] = {
        {"signed with SHA-1",
         [&](const Bytes &id) {
             CardData d{{{2, tag2}, {5, tag5}}};
             d.Sign(issuer.get(), EVP_sha1(), id, {0x03, 0x02, 0x05});
             return d.Encoded();
         },
         0},
        {"the identifier and tag 5 only",
         [&](const Bytes &id) {
             CardData d{{{5, tag5}}};
             d.Sign(issuer.get(), EVP_sha256(), id, {0x03, 0x05});
             return d.Encoded();
         },
         0},
        {"signed with another key",
         [&](const Bytes &id) {
             CardData d{{{2, tag2}, {5, tag5}}};
             d.Sign(stranger.get(), EVP_sha256(), id, {0x03, 0x02, 0x05});
             return d.Encoded();
         },
         0x8010001F},
        {"a signed tag changed afterwards",
         [&](const Bytes &id) {
             CardData d{{{2, tag2}, {5, tag5}}};
             d.Sign(issuer.get(), EVP_sha256(), id, {0x03, 0x02, 0x05});
             d.tags[1].second[0] ^= 1;
             return d.Encoded();
         },
         0x8010001F},
        {"a signature of 191 bytes",
         [&](const Bytes &id) {
             CardData d{{{2, tag2}, {5, tag5}}};
             d.Sign(issuer.get(), EVP_sha256(), id, {0x03, 0x02, 0x05});
             d.tags.back().second.pop_back();
             return d.Encoded();
         },
         0x8010001F},
        {"a signed tag that is missing",
         [&](const Bytes &id) {
             CardData d{{{2, tag2}}};
             d.Sign(issuer.get(), EVP_sha256(), id, {0x03, 0x02, 0x07});
             return d.Encoded();
         },
         0x8010001F},
        {"no list of signed tags",
         [&](const Bytes &id) {
             CardData d{{{2, tag2}}};
             d.Sign(issuer.get(), EVP_sha256(), id, {0x03, 0x02});
             d.tags.erase(d.tags.begin() + 1);
             return d.Encoded();
         },
         0x8010001F},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        KeyCard card(Applet(1, 2));
        ASSERT_TRUE(card.sim.card->Modify(
            [&](cardsim::CardState &s) { s.cardData = r.cardData(s.cardId); }));
        _qv_md_create_container_request request = Request(1, 1024, true);
        EXPECT_EQ(QVMD_CreateContainer(card.sim.get(), &request), r.result);
        // a failed test leaves the card untouched: no create command
        EXPECT_EQ(card.Sent(0x70), r.result == 0);
    }
}

TEST(ContainerSim, ImportedKeySignsAndNoKeyPartTravelsInTheClear)
{
    for (unsigned bits : {1024u, 2048u}) {
        SCOPED_TRACE(bits);
        PKey key = NewRsaKey(bits);
        const Bytes blob = PrivateKeyBlob(key.get());
        KeyCard card(Applet(1, 1));
        unsigned long count = 0;
        ASSERT_EQ(QVMD_ContainerImportKey(card.sim.get(), blob.data(), blob.size(), 2, 0, &count),
                  0u);
        EXPECT_EQ(count, bits == 2048 ? 8u : 7u);
        EXPECT_TRUE(card.sim.transport->commands.empty());

        _qv_md_create_container_request request = Request(2, bits, false);
        ASSERT_EQ(QVMD_CreateContainer(card.sim.get(), &request), 0u);
        ASSERT_EQ(QVMD_OpenSM(card.sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_IMPORT), 0u);
        size_t before = card.sim.transport->commands.size();
        ASSERT_EQ(QVMD_ContainerImportKey(card.sim.get(), blob.data(), blob.size(), 2, 0, nullptr),
                  0u);
        EXPECT_EQ(card.sim.transport->commands.size() - before, count);
        EXPECT_EQ(QVMD_CloseSM(card.sim.get()), 0u);

        const Bytes block = Block(bits / 8);
        EXPECT_EQ(ToHex(PublicRaw(key.get(), card.Sign(2, block))), ToHex(block));
        // a prime's first bytes appear in no command
        const std::string prime =
            ToHex(BigEndian(Param(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR1).get(), bits / 16))
                .substr(0, 24);
        for (const Bytes &c : card.sim.transport->commands)
            EXPECT_EQ(ToHex(c).find(prime), std::string::npos);
    }
}

TEST(ContainerSim, ImportRefusesBadBlobsBeforeTheCard)
{
    PKey key = NewRsaKey(1024);
    const Bytes good = PrivateKeyBlob(key.get());
    struct Row {
        const char *name;
        Bytes blob;
        uint32_t result;
    } rows[] = {
        {"19 bytes", Bytes(19, 0), 0x80100011},
        {"another magic",
         [&] {
             Bytes b = good;
             b[11] = '1';
             return b;
         }(),
         0x80100011},
        {"a byte short", Bytes(good.begin(), good.end() - 1), 0x80100011},
        {"a 4096-bit key",
         Concat(Bytes(good.begin(), good.begin() + 12),
                Concat({0x00, 0x10, 0x00, 0x00}, Bytes(2324 - 16, 0x01))),
         0x8010001F},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        RecordingTransport transport;
        TestCard card(transport);
        SmBinding sm(card.get());
        EXPECT_EQ(QVMD_ContainerImportKey(card.get(), r.blob.data(), r.blob.size(), 0, 0, nullptr),
                  r.result);
        EXPECT_TRUE(transport.commands.empty());
    }
}

TEST(ContainerSim, DeleteTakesTheAttributeFileOnlyWhenTheCardLetsTheKeyGo)
{
    struct Row {
        const char *name;
        bool verify;
        unsigned char container;
        bool withFile;
        uint32_t result;
        bool keyStays, fileStays;
    } rows[] = {
        {"deleted", true, 0, true, 0, false, false},
        {"deleted, no attribute file", true, 0, false, 0, false, false},
        {"refused: the user PIN is not verified", false, 0, true, 0x8010006A, true, true},
        {"no such container on the card", true, 3, true, 0x80100030, true, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        cardsim::Personalisation p = Applet(1, 2);
        p.withContainer = true;
        p.keyBits = 1024;
        KeyCard card(p, r.verify);
        const std::string file = r.container == 0 ? "cont00" : "cont03";
        if (r.withFile) {
            ASSERT_TRUE(
                card.sim.card->PutFile("qv_p11", file, cardsim::StoredPlain({1, 2, 3}, 0x3F)));
        }
        EXPECT_EQ(QVMD_DeleteContainer(card.sim.get(), r.container), r.result);
        cardsim::CardState state = card.sim.card->Snapshot();
        EXPECT_EQ(state.keys.count({0, 0}) == 1, r.keyStays || r.container != 0);
        EXPECT_EQ(state.FindFile("qv_p11", file) != nullptr, r.withFile && r.fileStays);
    }
}

TEST(ContainerSim, KeyInformationAndThePublicKeyBlob)
{
    cardsim::Personalisation p = Applet(1, 2);
    p.withContainer = true;
    KeyCard card(p);
    Bytes modulus, exponent;
    PKey key = KeyFromDer(card.sim.card->Snapshot().keys.at({0, 1}).der, false);
    modulus = BigEndian(Param(key.get(), OSSL_PKEY_PARAM_RSA_N).get(), 256);

    _qv_md_container_key_info info;
    QVMD_ContainerInitStruct(&info);
    info.container = 0;
    info.keySpec = QVMD_KEY_SPEC_EXCHANGE;
    for (unsigned char what : {2, 3, 1, 0})
        ASSERT_EQ(QVMD_GetContainerInfo(card.sim.get(), &info, what), 0u) << int(what);
    EXPECT_EQ(info.keyBits, 2048u);
    EXPECT_EQ(info.keyInfo5 & 0x04, 0x04); // a key-exchange key
    EXPECT_EQ(ToHex(info.modulus, info.modulusLength), ToHex(modulus));
    EXPECT_EQ(QVCAAPI_GetDWORDFromBuffer(info.exponent, info.exponentLength), 65537u);
    QVMD_ContainerReleaseStruct(card.sim.get(), &info);
    EXPECT_EQ(info.modulus, nullptr);

    unsigned char *blob = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(QVMD_GetContainerInfoPublicKey(card.sim.get(), 0, 1, &blob, &length), 0u);
    ASSERT_EQ(length, 20u + 256u);
    EXPECT_EQ(ToHex(blob, 20), "06 02 00 00 00 A4 00 00 52 53 41 31 00 08 00 00 01 00 01 00");
    std::reverse(modulus.begin(), modulus.end());
    EXPECT_EQ(ToHex(blob + 20, 256), ToHex(modulus));
    QVMD_Free(card.sim.get(), blob);

    // no key in container 5
    EXPECT_EQ(QVMD_GetContainerInfoPublicKey(card.sim.get(), 5, 0, &blob, &length), 0x80100026u);
    EXPECT_EQ(blob, nullptr);
}

// The token's callbacks: files through the file layer, keys by four key-info reads.
uint32_t ReadFile(_qv_md_usage_context *context, const char *dir, const char *name, unsigned long,
                  unsigned char **data, unsigned long *length)
{
    unsigned char d[8] = {}, n[8] = {};
    memcpy(d, dir, strnlen(dir, 8));
    memcpy(n, name, strnlen(name, 8));
    return QVMD_ReadFile(context->card, d, n, data, length);
}

uint32_t KeyInfo(_qv_md_usage_context *context, _qv_md_container_key_info *key)
{
    for (unsigned char what : {2, 3, 1, 0})
        QVMD_GetContainerInfo(context->card, key, what);
    return 0;
}

TEST(ContainerSim, UsageJoinsTheMapCertificatesAndKeys)
{
    cardsim::Personalisation p = Applet(1, 2);
    cardsim::ContainerSpec both, signatureOnly;
    both.keys[0].bits = both.keys[1].bits = 1024;
    signatureOnly.keys[0].bits = 1024;
    signatureOnly.keys[0].certificate = false;
    p.containers = {both, signatureOnly};
    KeyCard card(p);
    _qv_md_usage_context context = {card.sim.get(),
                                    QVMD_Outer_Default_Alloc,
                                    QVMD_Outer_Default_Realloc,
                                    QVMD_Outer_Default_Free,
                                    ReadFile,
                                    KeyInfo};
    _qv_md_containers_usage_info usage;
    QVMD_Usage_InitContainersInfo(&context, &usage);
    ASSERT_EQ(QVMD_Usage_GetContainersInfo(&context, &usage), 0u);
    ASSERT_EQ(usage.count, 2u);
    const _qv_md_container_usage_record &r0 = usage.records[0], &r1 = usage.records[1];
    EXPECT_EQ(r0.valid, 1);
    EXPECT_EQ(r0.signatureBits, 1024);
    EXPECT_EQ(r0.exchangeBits, 1024);
    // each certificate (decompressed from its file) holds its key's modulus
    for (unsigned spec : {0u, 1u}) {
        SCOPED_TRACE(spec);
        const unsigned char *der = spec == 0 ? r0.signatureCertificate : r0.exchangeCertificate;
        unsigned long length =
            spec == 0 ? r0.signatureCertificateLength : r0.exchangeCertificateLength;
        ASSERT_NE(der, nullptr);
        std::unique_ptr<X509, decltype(&X509_free)> certificate(
            d2i_X509(nullptr, &der, static_cast<long>(length)), X509_free);
        ASSERT_NE(certificate, nullptr);
        Bn n = Param(X509_get0_pubkey(certificate.get()), OSSL_PKEY_PARAM_RSA_N);
        EXPECT_EQ(ToHex(BigEndian(n.get(), 128)),
                  ToHex(r0.keys[spec].modulus, r0.keys[spec].modulusLength));
        EXPECT_EQ(r0.keys[spec].keyBits, 1024u);
    }
    EXPECT_EQ(r1.container, 1);
    EXPECT_EQ(r1.signatureCertificate, nullptr);
    EXPECT_EQ(r1.signatureCertificateLength, 0u);
    EXPECT_EQ(r1.keys[0].modulusLength, 128u);
    EXPECT_EQ(r1.keys[1].modulus, nullptr); // no exchange key listed
    std::string name;
    for (int i = 0; r0.name[i] != 0; i++)
        name += static_cast<char>(r0.name[i]);
    EXPECT_EQ(name, "cardsim-container-00");
    QVMD_Usage_ReleaseContainersInfo(&context, &usage);
    EXPECT_EQ(usage.records, nullptr);
    EXPECT_EQ(usage.count, 0u);
}

TEST(ContainerSim, UsageOfAMapThatIsNotWholeRecords)
{
    _qv_md_usage_context context = {nullptr,
                                    QVMD_Outer_Default_Alloc,
                                    QVMD_Outer_Default_Realloc,
                                    QVMD_Outer_Default_Free,
                                    [](_qv_md_usage_context *, const char *, const char *,
                                       unsigned long, unsigned char **data,
                                       unsigned long *length) -> uint32_t {
                                        *data = static_cast<unsigned char *>(calloc(87, 1));
                                        *length = 87;
                                        return 0;
                                    },
                                    KeyInfo};
    RecordingTransport transport;
    TestCard card(transport);
    context.card = card.get();
    _qv_md_containers_usage_info usage;
    QVMD_Usage_InitContainersInfo(&context, &usage);
    EXPECT_EQ(QVMD_Usage_GetContainersInfo(&context, &usage), 1u);
    EXPECT_EQ(usage.count, 0u);
    QVMD_Usage_ReleaseContainersInfo(&context, &usage);
}

TEST(ContainerSim, OlderAppletsFreeContainersOneByOne)
{
    cardsim::Personalisation p = Applet(0, 9);
    cardsim::ContainerSpec spec;
    spec.keys[0].bits = 1024;
    p.containers = {spec, spec};
    KeyCard card(p);
    ASSERT_EQ(card.sim.card->Snapshot().keys.size(), 2u);
    ASSERT_EQ(QVMD_FreeContainers(card.sim.get()), 0u);
    EXPECT_TRUE(card.sim.card->Snapshot().keys.empty());
    // one delete per container the card has (8), absent ones passed over
    size_t deletes = 0;
    for (const Bytes &c : card.sim.transport->commands)
        deletes += c[1] == 0x72;
    EXPECT_EQ(deletes, 8u);
}

} // namespace
