#ifndef VOK_TESTS_CERTVIEW_TEST_CERTIFICATES_H
#define VOK_TESTS_CERTVIEW_TEST_CERTIFICATES_H

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

// Certificates made on the spot with OpenSSL, for the dialog's tests and its
// screenshots. All share one P-256 key; each is self-signed.
namespace testcerts
{

struct X509Free {
    void operator()(X509 *cert) const { X509_free(cert); }
};
typedef std::unique_ptr<X509, X509Free> Cert;

// An extension: a known one by NID with OpenSSL's configuration syntax
// ("critical,CA:FALSE"), or any OID with a raw OCTET STRING value.
struct Extension {
    int nid;
    std::string value;
    std::string oid = std::string();
    bool critical = false;
};

struct Spec {
    std::string subject = "Test Holder";
    std::string organization = "Example Test Org";
    long version = 2; // 2 is X.509 v3
    std::vector<Extension> extensions;
};

inline EVP_PKEY *sharedKey()
{
    static EVP_PKEY *const key = EVP_EC_gen("P-256");
    return key;
}

inline void addName(X509_NAME *name, char const *field, std::string const &value)
{
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                               reinterpret_cast<unsigned char const *>(value.c_str()), -1, -1, 0);
}

inline X509_EXTENSION *makeExtension(X509 *cert, Extension const &e)
{
    if (e.oid.empty()) {
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        return X509V3_EXT_nconf_nid(nullptr, &ctx, e.nid, e.value.c_str());
    }
    ASN1_OBJECT *oid = OBJ_txt2obj(e.oid.c_str(), 1);
    ASN1_OCTET_STRING *data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(data, reinterpret_cast<unsigned char const *>(e.value.data()),
                          (int)e.value.size());
    X509_EXTENSION *ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, e.critical ? 1 : 0, data);
    ASN1_OBJECT_free(oid);
    ASN1_OCTET_STRING_free(data);
    return ext;
}

inline Cert make(Spec const &spec)
{
    Cert cert(X509_new());
    X509_set_version(cert.get(), spec.version);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x1001);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
    X509_NAME *name = X509_get_subject_name(cert.get());
    addName(name, "CN", spec.subject);
    addName(name, "O", spec.organization);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), sharedKey());
    for (Extension const &e : spec.extensions) {
        X509_EXTENSION *ext = makeExtension(cert.get(), e);
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert.get(), sharedKey(), EVP_sha256());
    return cert;
}

inline std::vector<unsigned char> der(X509 *cert)
{
    unsigned char *bytes = nullptr;
    int length = i2d_X509(cert, &bytes);
    std::vector<unsigned char> out(bytes, bytes + (length > 0 ? length : 0));
    OPENSSL_free(bytes);
    return out;
}

// An end-entity certificate with two critical and two noncritical supported
// extensions and one extension no viewer knows.
inline Spec endEntity()
{
    Spec spec;
    spec.extensions = {
        {NID_basic_constraints, "critical,CA:FALSE"},
        {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
        {NID_ext_key_usage, "serverAuth,clientAuth"},
        {NID_subject_key_identifier, "hash"},
        {NID_undef, "private data", "1.2.3.4"},
    };
    return spec;
}

// A certificate authority whose extensions are all supported.
inline Spec authority()
{
    Spec spec;
    spec.subject = "Test Root Authority";
    spec.extensions = {
        {NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
        {NID_key_usage, "critical,keyCertSign,cRLSign"},
        {NID_subject_key_identifier, "hash"},
    };
    return spec;
}

// Only noncritical extensions, one of them unsupported.
inline Spec noncriticalOnly()
{
    Spec spec;
    spec.extensions = {
        {NID_subject_key_identifier, "hash"},
        {NID_undef, "more data", "1.2.3.5"},
    };
    return spec;
}

inline Spec version1()
{
    Spec spec;
    spec.version = 0;
    return spec;
}

} // namespace testcerts

#endif
