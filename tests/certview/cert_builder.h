// Certificates made with OpenSSL for the viewer's tests, and the test process's
// pinned time zone and locale (date texts follow LC_TIME).
#pragma once

#include <gtest/gtest.h>

#include <openssl/conf.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QString>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace certtest
{

using Bytes = std::vector<unsigned char>;

// Dates in the C locale and UTC unless a test switches LC_TIME itself; a
// QGuiApplication that reads the environment keeps them.
inline const bool pinned = [] {
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    tzset();
    setlocale(LC_ALL, "C.UTF-8");
    return true;
}();

// Switches LC_TIME to a locale for one scope; the Czech locale is compiled into the
// build tree (its years have four digits).
class TimeLocale
{
  public:
    explicit TimeLocale(const char *name)
    {
        setenv("LOCPATH", VOK_CERTVIEW_LOCALE_DIR, 1);
        ok = setlocale(LC_TIME, name) != nullptr;
    }
    ~TimeLocale() { setlocale(LC_TIME, "C.UTF-8"); }
    bool ok;
};

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

inline void check(bool ok, const std::string &what)
{
    if (!ok)
        throw std::runtime_error("openssl: " + what);
}

inline Bytes hex(const std::string &text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline EVP_PKEY *rsaKey()
{
    static EVP_PKEY *key = EVP_RSA_gen(2048);
    return key;
}

inline EVP_PKEY *otherRsaKey()
{
    static EVP_PKEY *key = EVP_RSA_gen(1024);
    return key;
}

inline EVP_PKEY *ecKey()
{
    static EVP_PKEY *key = EVP_EC_gen("P-256");
    return key;
}

// One entry of a name: its attribute (short name or dotted OID), value (UTF-8) and
// string type (MBSTRING_UTF8, or V_ASN1_BMPSTRING for a BMPString).
struct Entry {
    std::string field;
    std::string value;
    int type = MBSTRING_UTF8;
};

// One extension: from an openssl configuration value (name, value), or raw
// (dotted OID, DER of the value).
struct Ext {
    std::string name;
    std::string value;
    bool critical = false;
    Bytes der;
};

inline Ext confExt(const std::string &name, const std::string &value)
{
    return {name, value, value.rfind("critical,", 0) == 0, {}};
}

inline Ext rawExt(const std::string &oid, const Bytes &der, bool critical = false)
{
    return {oid, "", critical, der};
}

struct CertSpec {
    long version = 2;
    Bytes serial = {0x01};
    std::vector<Entry> subject = {{"CN", "Test Holder"}, {"O", "Test Org"}, {"C", "CZ"}};
    std::vector<Entry> issuer = {{"CN", "Test CA"}};
    // 13 characters: UTCTime; 15: GeneralizedTime
    std::string notBefore = "200101000000Z";
    std::string notAfter = "300101000000Z";
    bool ec = false;
    bool selfSigned = true; // else signed with a key other than the certified one
    std::vector<Ext> extensions;
    // openssl configuration sections that extension values refer to ("@section")
    std::string config;
};

inline X509_NAME *makeName(const std::vector<Entry> &entries)
{
    X509_NAME *name = X509_NAME_new();
    for (const Entry &e : entries) {
        int nid = OBJ_txt2nid(e.field.c_str());
        Bytes bytes;
        if (e.type == V_ASN1_BMPSTRING) {
            QString text = QString::fromUtf8(e.value.c_str());
            for (QChar c : text) {
                bytes.push_back(static_cast<unsigned char>(c.unicode() >> 8));
                bytes.push_back(static_cast<unsigned char>(c.unicode() & 0xFF));
            }
        } else {
            bytes.assign(e.value.begin(), e.value.end());
        }
        check(X509_NAME_add_entry_by_NID(name, nid, e.type, bytes.data(),
                                         static_cast<int>(bytes.size()), -1, 0) == 1,
              "name entry " + e.field);
    }
    return name;
}

inline X509_EXTENSION *makeExt(X509 *x, const Ext &ext, CONF *conf)
{
    if (ext.der.empty() && !ext.value.empty()) {
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
        X509V3_set_nconf(&ctx, conf);
        X509_EXTENSION *e = X509V3_EXT_nconf(conf, &ctx, ext.name.c_str(), ext.value.c_str());
        check(e != nullptr, "extension " + ext.name + "=" + ext.value);
        return e;
    }
    ASN1_OBJECT *obj = OBJ_txt2obj(ext.name.c_str(), 1);
    ASN1_OCTET_STRING *data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(data, ext.der.data(), static_cast<int>(ext.der.size()));
    X509_EXTENSION *e = X509_EXTENSION_create_by_OBJ(nullptr, obj, ext.critical ? 1 : 0, data);
    ASN1_OBJECT_free(obj);
    ASN1_OCTET_STRING_free(data);
    check(e != nullptr, "raw extension " + ext.name);
    return e;
}

inline void setTime(ASN1_TIME *t, const std::string &text)
{
    check(ASN1_TIME_set_string(t, text.c_str()) == 1, "time " + text);
}

inline X509Ptr makeCert(const CertSpec &spec)
{
    EVP_PKEY *key = spec.ec ? ecKey() : rsaKey();
    X509Ptr x(X509_new());
    check(X509_set_version(x.get(), spec.version) == 1, "version");
    ASN1_INTEGER *serial = ASN1_INTEGER_new();
    ASN1_STRING_set(serial, spec.serial.data(), static_cast<int>(spec.serial.size()));
    X509_set_serialNumber(x.get(), serial);
    ASN1_INTEGER_free(serial);
    X509_NAME *subject = makeName(spec.subject);
    X509_NAME *issuer = makeName(spec.selfSigned ? spec.subject : spec.issuer);
    X509_set_subject_name(x.get(), subject);
    X509_set_issuer_name(x.get(), issuer);
    X509_NAME_free(subject);
    X509_NAME_free(issuer);
    setTime(X509_getm_notBefore(x.get()), spec.notBefore);
    setTime(X509_getm_notAfter(x.get()), spec.notAfter);
    check(X509_set_pubkey(x.get(), key) == 1, "pubkey");
    CONF *conf = NCONF_new(nullptr);
    BIO *text = BIO_new_mem_buf(spec.config.data(), static_cast<int>(spec.config.size()));
    check(NCONF_load_bio(conf, text, nullptr) == 1, "config");
    BIO_free(text);
    for (const Ext &ext : spec.extensions) {
        X509_EXTENSION *e = makeExt(x.get(), ext, conf);
        X509_add_ext(x.get(), e, -1);
        X509_EXTENSION_free(e);
    }
    NCONF_free(conf);
    check(X509_sign(x.get(), spec.selfSigned ? key : otherRsaKey(), EVP_sha256()) > 0, "sign");
    return x;
}

inline Bytes derOf(const X509 *x)
{
    int n = i2d_X509(x, nullptr);
    check(n > 0, "i2d_X509");
    Bytes out(static_cast<size_t>(n));
    unsigned char *p = out.data();
    i2d_X509(x, &p);
    return out;
}

inline std::string pemOf(X509 *x)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, x);
    char *data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<size_t>(n));
    BIO_free(bio);
    return out;
}

} // namespace certtest
