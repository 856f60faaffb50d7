#include "key_material.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace client_test
{
namespace
{

// A library context with the legacy ciphers, for making the older files;
// its providers are unloaded before it goes.
class LegacyContext
{
  public:
    LegacyContext()
        : m_context(OSSL_LIB_CTX_new()), m_legacy(OSSL_PROVIDER_load(m_context, "legacy")),
          m_default(OSSL_PROVIDER_load(m_context, "default"))
    {
        EXPECT_NE(m_legacy, nullptr);
        EXPECT_NE(m_default, nullptr);
    }
    ~LegacyContext()
    {
        for (OSSL_PROVIDER *provider : {m_default, m_legacy})
            if (provider != nullptr)
                OSSL_PROVIDER_unload(provider);
        OSSL_LIB_CTX_free(m_context);
    }
    LegacyContext(LegacyContext const &) = delete;
    LegacyContext &operator=(LegacyContext const &) = delete;
    OSSL_LIB_CTX *get() const { return m_context; }

  private:
    OSSL_LIB_CTX *m_context;
    OSSL_PROVIDER *m_legacy;
    OSSL_PROVIDER *m_default;
};

// A non-critical extension of an arbitrary type whose value is an OCTET
// STRING of that many random bytes.
void AddFiller(X509 *certificate, size_t bytes)
{
    Bytes filler(bytes);
    EXPECT_EQ(RAND_bytes(filler.data(), static_cast<int>(filler.size())), 1);
    ASN1_OCTET_STRING *octets = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(octets, filler.data(), static_cast<int>(filler.size()));
    unsigned char *der = nullptr;
    int const length = i2d_ASN1_OCTET_STRING(octets, &der);
    ASN1_OCTET_STRING_set(octets, der, std::max(length, 0));
    OPENSSL_free(der);
    ASN1_OBJECT *type = OBJ_txt2obj("1.2.3.4.5", 1);
    X509_EXTENSION *extension = X509_EXTENSION_create_by_OBJ(nullptr, type, 0, octets);
    EXPECT_EQ(X509_add_ext(certificate, extension, -1), 1);
    X509_EXTENSION_free(extension);
    ASN1_OBJECT_free(type);
    ASN1_OCTET_STRING_free(octets);
}

} // namespace

EvpPkeyPtr RsaKey(int bits)
{
    return EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
}

EvpPkeyPtr EcKey()
{
    return EvpPkeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

X509Ptr Certificate(EVP_PKEY *key, std::string const &commonName, size_t extensionBytes)
{
    X509Ptr certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 0x1234);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<unsigned char const *>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(certificate.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 365L * 24 * 3600);
    X509_set_pubkey(certificate.get(), key);
    if (extensionBytes != 0)
        AddFiller(certificate.get(), extensionBytes);
    EXPECT_GT(X509_sign(certificate.get(), key, EVP_sha256()), 0);
    return certificate;
}

Bytes Der(X509 *certificate)
{
    unsigned char *der = nullptr;
    int length = i2d_X509(certificate, &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    return out;
}

Bytes RsaPart(EVP_PKEY const *key, char const *name)
{
    BignumPtr number = RsaComponent(key, name);
    Bytes out(static_cast<size_t>(BN_num_bytes(number.get())));
    BN_bn2bin(number.get(), out.data());
    return out;
}

Bytes Pkcs12(EVP_PKEY *key, X509 *certificate, char const *password, Pkcs12Kind kind)
{
    bool const legacy = kind == Pkcs12Kind::LEGACY;
    int const cipher = legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : NID_aes_256_cbc;
    int const certificateCipher = legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : NID_aes_256_cbc;
    std::unique_ptr<LegacyContext> const context =
        legacy ? std::make_unique<LegacyContext>() : nullptr;
    PKCS12 *p12 = PKCS12_create_ex(password, "imported", key, certificate, nullptr, cipher,
                                   certificateCipher, 2048, kind == Pkcs12Kind::NO_MAC ? -1 : 1, 0,
                                   legacy ? context->get() : nullptr, nullptr);
    EXPECT_NE(p12, nullptr);
    unsigned char *der = nullptr;
    int length = i2d_PKCS12(p12, &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    PKCS12_free(p12);
    if (kind == Pkcs12Kind::UNKNOWN_MAC) {
        // The check's digest is SHA-256 (2.16.840.1.101.3.4.2.1), named last
        // in the file: make it 2.16.840.1.101.3.4.2.127.
        Bytes const sha256 = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
        auto at = std::find_end(out.begin(), out.end(), sha256.begin(), sha256.end());
        EXPECT_NE(at, out.end());
        if (at != out.end())
            at[10] = 0x7F;
    }
    return out;
}

std::string Sha1Hex(Bytes const &value)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(value.data(), value.size(), digest, &size, EVP_sha1(), nullptr), 1);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i)
        hex += "0123456789ABCDEF"[digest[i] >> 4], hex += "0123456789ABCDEF"[digest[i] & 15];
    return hex;
}

void WriteBytes(std::string const &path, Bytes const &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
}

Bytes ReadBytes(std::string const &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir()
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vok-client-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    EXPECT_NE(mkdtemp(buffer.data()), nullptr);
    m_path = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace client_test
