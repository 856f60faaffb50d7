// Cards personalised with several containers: map records, certificates (also in
// reversed order and expired), a public-key-only container, further files, and what
// the card reports of them.
#include "card_fixture.h"

#include <openssl/x509.h>

#include <ctime>

using namespace cardsim_test;

namespace
{

struct X509Deleter {
    void operator()(X509 *x) const { X509_free(x); }
};
using Cert = std::unique_ptr<X509, X509Deleter>;

Cert ReadCertificate(const Transmit &tx, const std::string &name)
{
    ReadResult r = ReadStored(tx, "mscp", name);
    Bytes der;
    if (r.sw != 0x9000 || !cardsim::UnpackCardFile(r.bytes, r.plain, der))
        return nullptr;
    const unsigned char *p = der.data();
    return Cert(d2i_X509(nullptr, &p, long(der.size())));
}

// The modulus of a certificate's key and of a container key, as the card reports it.
Bytes CertificateModulus(X509 *cert)
{
    EVP_PKEY *key = X509_get0_pubkey(cert);
    BIGNUM *n = nullptr;
    EVP_PKEY_get_bn_param(key, "n", &n);
    Bytes out(size_t(BN_num_bytes(n)));
    BN_bn2bin(n, out.data());
    BN_free(n);
    return out;
}

} // namespace

TEST_F(CardTest, SeveralContainersAsDescribed)
{
    cardsim::Personalisation p;
    p.containers.resize(3);
    p.containers[0].keys[0].bits = 1024;
    p.containers[0].keys[1].bits = 1024;
    p.containers[0].isDefault = true;
    p.containers[1].name = "second";
    p.containers[1].keys[1].bits = 1024;
    p.containers[1].keys[1].expired = true;
    p.containers[2].keys[1].bits = 1024;
    p.containers[2].keys[1].publicOnly = true;
    p.certificatesReversed = true;
    p.files.push_back({"qv_p11", "data00", cardsim::StoredPacked({1, 2, 3}, 0x3C)});
    p.files.push_back({"extra", "x", cardsim::StoredPlain({4}, 0x3F)});
    Make(NewCard(p));
    ASSERT_EQ(0x9000, Send(kSelectFirst));

    ReadResult map = ReadStored(tx, "mscp", "cmapfile");
    ASSERT_EQ(0x9000, map.sw);
    ASSERT_EQ(3u * 86, map.plain);
    struct Record {
        size_t index;
        char first; // first character of the name
        unsigned char flags;
        uint16_t signatureBits, exchangeBits;
    } records[] = {{0, 'c', 0x03, 1024, 1024}, {1, 's', 0x01, 0, 1024}, {2, 'c', 0x01, 0, 1024}};
    for (const auto &r : records) {
        SCOPED_TRACE(r.index);
        const unsigned char *rec = &map.bytes[r.index * 86];
        EXPECT_EQ(r.first, rec[0]);
        EXPECT_EQ(r.flags, rec[80]);
        EXPECT_EQ(r.signatureBits, rec[82] | rec[83] << 8);
        EXPECT_EQ(r.exchangeBits, rec[84] | rec[85] << 8);
    }

    // reversed: the files of container NN hold the certificates of container 2 - NN
    struct CertCase {
        const char *file;
        unsigned char keyIndex, keySpec;
        bool expired;
    } certs[] = {{"kxc00", 2, 1, false},
                 {"kxc01", 1, 1, true},
                 {"kxc02", 0, 1, false},
                 {"ksc02", 0, 0, false}};
    for (const auto &c : certs) {
        SCOPED_TRACE(c.file);
        Cert cert = ReadCertificate(tx, c.file);
        ASSERT_NE(nullptr, cert);
        Bytes modulus =
            Data(card->Apdu({0xB0, 0x74, c.keyIndex, static_cast<unsigned char>(c.keySpec), 0x00}));
        EXPECT_EQ(CertificateModulus(cert.get()), modulus);
        EXPECT_EQ(c.expired, X509_cmp_current_time(X509_get0_notAfter(cert.get())) < 0);
    }
    uint16_t sw = 0;
    EXPECT_EQ((std::vector<std::string>{"cmapfile", "ksc02", "kxc00", "kxc01", "kxc02"}),
              List(tx, "mscp", &sw));

    // the public-key-only container: its information, but no private key
    EXPECT_EQ((Bytes{0x02, 0x06, 0x04, 0x00, 0x00, 0x06}),
              Data(card->Apdu({0xB0, 0x74, 0x02, 0x21})));
    EXPECT_EQ(cardsim::CardKey::Form::Public, card->Snapshot().keys.at({2, 1}).form);

    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    ReadResult data = ReadStored(tx, "qv_p11", "data00");
    Bytes plain;
    ASSERT_TRUE(cardsim::UnpackCardFile(data.bytes, data.plain, plain));
    EXPECT_EQ((Bytes{1, 2, 3}), plain);
    EXPECT_EQ(0x3C, card->Snapshot().FindFile("qv_p11", "data00")->access);
    EXPECT_EQ(PlainStored({4}), ReadStored(tx, "extra", "x").bytes);
}

TEST_F(CardTest, LargerKeysOption)
{
    for (bool larger : {false, true}) {
        cardsim::Personalisation p;
        p.largerKeys = larger;
        Make(NewCard(p));
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        Bytes expected = {0x00, 0x08, 0x00, 0x02, 0x08, 0x04, 0x08};
        if (larger)
            expected = Cat(expected, {0x05, 0x08, 0x06, 0x08, 0x08, 0x08});
        EXPECT_EQ(expected, Data(card->Apdu({0xB0, 0x10, 0x01, 0x00, 0x04})))
            << (larger ? "up to 4096 bits" : "up to 2048 bits");
    }
}
