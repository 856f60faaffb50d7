// The client's key files without a module: PKCS#12 files of every kind read
// with their password, a wrong password told apart from a file that cannot
// be read, key components in their fields and public keys in PKCS#1 form.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include "client/openssl_key_files.h"
#include "client/pkcs11_manipulator.h"
#include "key_material.h"

namespace client_test
{
namespace
{

char const PASSWORD[] = "p\xc3\xa1ssw\xc3\xb6rd"; // UTF-8, not ASCII

class KeyFiles : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        key = RsaKey(2048).release();
        certificate = Certificate(key, "holder").release();
    }
    static void TearDownTestSuite()
    {
        EvpPkeyFree()(key);
        X509Free()(certificate);
    }
    std::string Put(std::string const &name, Bytes const &bytes)
    {
        std::string path = dir.File(name);
        WriteBytes(path, bytes);
        return path;
    }

    static EVP_PKEY *key;
    static X509 *certificate;
    TempDir dir;
};

EVP_PKEY *KeyFiles::key = nullptr;
X509 *KeyFiles::certificate = nullptr;

TEST_F(KeyFiles, ReadsEveryKindOfFileAndTellsAWrongPasswordFromAnUnreadableFile)
{
    Bytes const modern = Pkcs12(key, certificate, PASSWORD, Pkcs12Kind::MODERN);
    std::string const pem = [&] {
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio(bio, "PKCS12", "", modern.data(), static_cast<long>(modern.size()));
        char *text = nullptr;
        long length = BIO_get_mem_data(bio, &text);
        std::string out(text, static_cast<size_t>(length));
        BIO_free(bio);
        return out;
    }();
    struct Row {
        char const *what;
        Bytes file; // none: no such file
        char const *password;
        Pkcs12Outcome outcome;
        bool hasCertificate;
    } const rows[] = {
        {"modern", modern, PASSWORD, Pkcs12Outcome::READ, true},
        {"legacy ciphers", Pkcs12(key, certificate, PASSWORD, Pkcs12Kind::LEGACY), PASSWORD,
         Pkcs12Outcome::READ, true},
        {"modern, wrong password", modern, "passw0rd", Pkcs12Outcome::WRONG_PASSWORD, false},
        {"legacy, wrong password", Pkcs12(key, certificate, PASSWORD, Pkcs12Kind::LEGACY), "",
         Pkcs12Outcome::WRONG_PASSWORD, false},
        {"without certificate", Pkcs12(key, nullptr, PASSWORD, Pkcs12Kind::MODERN), PASSWORD,
         Pkcs12Outcome::READ, false},
        {"empty password", Pkcs12(key, certificate, "", Pkcs12Kind::MODERN), "",
         Pkcs12Outcome::READ, true},
        {"no password", Pkcs12(key, certificate, nullptr, Pkcs12Kind::MODERN), "",
         Pkcs12Outcome::READ, true},
        {"no integrity check to prove the password",
         Pkcs12(key, certificate, PASSWORD, Pkcs12Kind::NO_MAC), PASSWORD,
         Pkcs12Outcome::UNREADABLE, false},
        {"integrity check of an unknown digest",
         Pkcs12(key, certificate, PASSWORD, Pkcs12Kind::UNKNOWN_MAC), PASSWORD,
         Pkcs12Outcome::UNREADABLE, false},
        {"PEM text", Bytes(pem.begin(), pem.end()), PASSWORD, Pkcs12Outcome::NOT_PKCS12, false},
        {"cut short", Bytes(modern.begin(), modern.begin() + modern.size() / 2), PASSWORD,
         Pkcs12Outcome::NOT_PKCS12, false},
        {"no such file", {}, PASSWORD, Pkcs12Outcome::NOT_PKCS12, false},
    };
    Bytes const expectedModulus = RsaPart(key, OSSL_PKEY_PARAM_RSA_N);
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::string const path = row.file.empty() ? dir.File("missing.pfx") : Put("key.pfx", row.file);
        EvpPkeyPtr readKey;
        X509Ptr readCertificate;
        EXPECT_EQ(ReadPkcs12(QString::fromStdString(path), row.password, readKey, readCertificate),
                  row.outcome);
        EXPECT_EQ(readKey != nullptr, row.outcome == Pkcs12Outcome::READ);
        EXPECT_EQ(readCertificate != nullptr, row.hasCertificate);
        if (readKey != nullptr) {
            EXPECT_EQ(RsaPart(readKey.get(), OSSL_PKEY_PARAM_RSA_N), expectedModulus);
        }
        if (readCertificate != nullptr) {
            EXPECT_EQ(Der(readCertificate.get()), Der(certificate));
        }
    }
}

TEST_F(KeyFiles, ExportBNRightAlignsTheSignificantBytes)
{
    struct Row {
        char const *what;
        Bytes number;
        int width;
        int result;
    } const rows[] = {
        {"exponent in a wide field", {0x01, 0x00, 0x01}, 256, 3},
        {"leading zero bytes do not count", {0x00, 0x00, 0x7F, 0x01}, 8, 2},
        {"exactly the width", Bytes(128, 0xA5), 128, 128},
        {"one byte too many", Bytes(129, 0xA5), 128, -1},
        {"zero", {0x00}, 4, 0},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        BignumPtr number(BN_bin2bn(row.number.data(), static_cast<int>(row.number.size()), nullptr));
        Bytes field(static_cast<size_t>(row.width), 0xEE);
        EXPECT_EQ(Pkcs11Manipulator::ExportBN(number.get(), field.data(), row.width), row.result);
        if (row.result < 0) {
            EXPECT_EQ(field, Bytes(static_cast<size_t>(row.width), 0xEE)) << "written to";
            continue;
        }
        Bytes expected(static_cast<size_t>(row.width - row.result), 0x00);
        expected.insert(expected.end(), row.number.end() - row.result, row.number.end());
        EXPECT_EQ(field, expected);
    }
}

TEST_F(KeyFiles, PublicKeysArePkcs1RsaPublicKeyDer)
{
    Bytes const modulus = RsaPart(key, OSSL_PKEY_PARAM_RSA_N);
    ASSERT_EQ(modulus.size(), 256u);
    ASSERT_GE(modulus[0], 0x80);
    Bytes expected = {0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00};
    expected.insert(expected.end(), modulus.begin(), modulus.end());
    expected.insert(expected.end(), {0x02, 0x03, 0x01, 0x00, 0x01});

    Bytes const exponent = {0x01, 0x00, 0x01};
    QByteArray der = RsaPublicKeyDer(modulus.data(), modulus.size(), exponent.data(), 3);
    EXPECT_EQ(Bytes(der.begin(), der.end()), expected);
    // leading zero bytes of the record's numbers vanish
    Bytes padded = {0x00, 0x00};
    padded.insert(padded.end(), modulus.begin(), modulus.end());
    Bytes const paddedExponent = {0x00, 0x01, 0x00, 0x01};
    der = RsaPublicKeyDer(padded.data(), padded.size(), paddedExponent.data(), 4);
    EXPECT_EQ(Bytes(der.begin(), der.end()), expected);
    // no number makes no key
    EXPECT_TRUE(RsaPublicKeyDer(modulus.data(), 0, exponent.data(), 3).isEmpty());
}

} // namespace
} // namespace client_test
