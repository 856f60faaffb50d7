// Data objects and X.509 certificates: defaults, attribute rules with their DER
// checks, serial-number wrapping, Verify, and the storage form of an
// OpenSSL-made certificate.
#include <gtest/gtest.h>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "objects/p11_certificate.h"
#include "objects/p11_data_object.h"
#include "objects/p11_x509_certificate.h"
#include "objects_test_util.h"

using namespace objtest;

namespace
{

Bytes const NAME = hex("30 0D 31 0B 30 09 06 03 55 04 03 0C 02 41 42");

} // namespace

TEST(DataObjectAndCertificate, Defaults)
{
    CP11DataObject data;
    EXPECT_EQ(countOf(data), 11u);
    EXPECT_EQ(data.FindLongAttribute(CKA_CLASS), CKO_DATA);
    EXPECT_EQ(codeOf([&] { data.Verify(P11_OP_CREATE); }), 0UL);

    CP11X509Certificate cert;
    EXPECT_EQ(countOf(cert), 23u);
    EXPECT_EQ(cert.FindLongAttribute(CKA_CLASS), CKO_CERTIFICATE);
    EXPECT_EQ(cert.FindLongAttribute(CKA_CERTIFICATE_TYPE), CKC_X_509);
    EXPECT_EQ(codeOf([&] { cert.Verify(P11_OP_CREATE); }), CKR_TEMPLATE_INCONSISTENT);
    write(cert, CKA_VALUE, hex("30 03 02 01 01"), P11_OP_CREATE);
    EXPECT_EQ(codeOf([&] { cert.Verify(P11_OP_CREATE); }), 0UL);
}

TEST(DataObjectAndCertificate, AttributeRules)
{
    auto data = [] { return std::unique_ptr<CP11Object>(new CP11DataObject()); };
    auto cert = [] { return std::unique_ptr<CP11Object>(new CP11X509Certificate()); };
    RuleCase const cases[] = {
        {"object identifier", data, CKA_OBJECT_ID, hex("06 03 2A 03 04"), P11_OP_CREATE, 0},
        {"object identifier cut short", data, CKA_OBJECT_ID, hex("06 05 2A"), P11_OP_CREATE,
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"empty object identifier", data, CKA_OBJECT_ID, {}, P11_OP_SET, 0},
        {"data value by the application", data, CKA_VALUE, hex("01 02"), P11_OP_SET, 0},
        {"application name", data, CKA_APPLICATION, Bytes{'a'}, P11_OP_SET, 0},
        {"vendor type nobody handles", data, 0x80000004UL, Bytes{1}, P11_OP_CREATE,
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"subject", cert, CKA_SUBJECT, NAME, P11_OP_CREATE, 0},
        {"subject not DER", cert, CKA_SUBJECT, hex("30 05 01"), P11_OP_CREATE,
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"issuer on copy", cert, CKA_ISSUER, NAME, P11_OP_COPY, CKR_ATTRIBUTE_READ_ONLY},
        {"value on set, whatever it holds", cert, CKA_VALUE, hex("FF"), P11_OP_SET,
         CKR_ATTRIBUTE_READ_ONLY},
        {"value not DER", cert, CKA_VALUE, hex("30 03 02 01"), P11_OP_INTERNAL,
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"serial number on set", cert, CKA_SERIAL_NUMBER, hex("02 01 05"), P11_OP_SET,
         CKR_ATTRIBUTE_READ_ONLY},
        {"certificate type on set", cert, CKA_CERTIFICATE_TYPE, ulongBytes(0), P11_OP_SET,
         CKR_ATTRIBUTE_READ_ONLY},
        {"category on copy", cert, CKA_CERTIFICATE_CATEGORY, ulongBytes(1), P11_OP_COPY,
         CKR_ATTRIBUTE_READ_ONLY},
        {"category of four bytes", cert, CKA_CERTIFICATE_CATEGORY, Bytes(4, 0), P11_OP_CREATE,
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"trusted on set", cert, CKA_TRUSTED, Bytes{1}, P11_OP_SET, 0},
        {"start date", cert, CKA_START_DATE, Bytes(8, '1'), P11_OP_SET, 0},
        {"start date of six bytes", cert, CKA_START_DATE, Bytes(6, '1'), P11_OP_CREATE,
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"id, hashes, url, domain on set", cert, CKA_URL, Bytes{'u'}, P11_OP_SET, 0},
        {"modulus on a certificate", cert, CKA_MODULUS, Bytes{1}, P11_OP_INTERNAL,
         CKR_ATTRIBUTE_TYPE_INVALID},
    };
    checkRules(cases);
    CP11X509Certificate other;
    for (unsigned long type :
         {CKA_ID, CKA_HASH_OF_SUBJECT_PUBLIC_KEY, CKA_HASH_OF_ISSUER_PUBLIC_KEY})
        EXPECT_EQ(write(other, type, Bytes{7}, P11_OP_SET), 0UL) << type;
    EXPECT_EQ(write(other, CKA_JAVA_MIDP_SECURITY_DOMAIN, ulongBytes(2), P11_OP_SET), 0UL);
}

TEST(DataObjectAndCertificate, SerialNumbersAreStoredAsDerIntegers)
{
    struct Case {
        char const *given, *stored;
    } const cases[] = {
        {"02 01 05", "02 01 05"}, // DER already
        {"05", "02 01 05"},       {"01 02", "02 02 01 02"},
        {"80", "02 02 00 80"},    {"00", "02 01 00"},
    };
    for (Case const &c : cases) {
        CP11X509Certificate cert;
        EXPECT_EQ(write(cert, CKA_SERIAL_NUMBER, hex(c.given), P11_OP_CREATE), 0UL);
        EXPECT_EQ(toHex(valueOf(cert, CKA_SERIAL_NUMBER)), c.stored) << c.given;
    }
}

TEST(DataObjectAndCertificate, VerifyChecks)
{
    struct Case {
        char const *name;
        unsigned long type;
        unsigned long value;
        unsigned long code;
    } const cases[] = {
        {"category 3", CKA_CERTIFICATE_CATEGORY, 3, 0},
        {"category 4", CKA_CERTIFICATE_CATEGORY, 4, CKR_TEMPLATE_INCONSISTENT},
        {"security domain 3", CKA_JAVA_MIDP_SECURITY_DOMAIN, 3, 0},
        {"security domain 4", CKA_JAVA_MIDP_SECURITY_DOMAIN, 4, CKR_TEMPLATE_INCONSISTENT},
        {"another certificate type", CKA_CERTIFICATE_TYPE, 1, CKR_TEMPLATE_INCONSISTENT},
        {"certificate type not set", CKA_CERTIFICATE_TYPE, CK_UNAVAILABLE_INFORMATION,
         CKR_TEMPLATE_INCONSISTENT},
        {"not a certificate class", CKA_CLASS, CKO_DATA, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        CP11X509Certificate cert;
        write(cert, CKA_VALUE, hex("30 00"), P11_OP_CREATE);
        ASSERT_EQ(write(cert, c.type, ulongBytes(c.value), P11_OP_CREATE), 0UL);
        EXPECT_EQ(codeOf([&] { cert.Verify(P11_OP_COPY); }), c.code);
    }
    CP11DataObject data;
    write(data, CKA_CLASS, ulongBytes(CKO_CERTIFICATE), P11_OP_CREATE);
    EXPECT_EQ(codeOf([&] { data.Verify(P11_OP_CREATE); }), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(DataObjectAndCertificate, BareCertificateHasNoStorageForm)
{
    CP11Certificate cert;
    EXPECT_EQ(codeOf([&] { cert.Encode(); }), CKR_FUNCTION_NOT_SUPPORTED);
}

namespace
{

struct X509Deleter {
    void operator()(X509 *x) const { X509_free(x); }
};

// A self-signed certificate whose serial number has its top bit set.
std::unique_ptr<X509, X509Deleter> makeCertificate(Bytes const &serial)
{
    EVP_PKEY *pkey = EVP_RSA_gen(1024);
    std::unique_ptr<X509, X509Deleter> x(X509_new());
    X509_set_version(x.get(), 2);
    BIGNUM *bn = BN_bin2bn(serial.data(), (int)serial.size(), nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400);
    X509_NAME *name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, (unsigned char const *)"Card Holder", -1,
                               -1, 0);
    X509_set_issuer_name(x.get(), name);
    X509_set_pubkey(x.get(), pkey);
    X509_sign(x.get(), pkey, EVP_sha256());
    EVP_PKEY_free(pkey);
    return x;
}

template <typename T, typename F> Bytes der(T *value, F i2d)
{
    int n = i2d(value, nullptr);
    Bytes out((size_t)n);
    unsigned char *p = out.data();
    i2d(value, &p);
    return out;
}

bool contains(Bytes const &haystack, Bytes const &needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// True when OpenSSL's DER parser walks the whole encoding.
bool opensslParses(Bytes const &bytes)
{
    BIO *out = BIO_new(BIO_s_mem());
    int ok = ASN1_parse_dump(out, bytes.data(), (long)bytes.size(), 0, 0);
    BIO_free(out);
    return ok == 1;
}

} // namespace

TEST(DataObjectAndCertificate, OpenSslCertificateBecomesAStorableObject)
{
    Bytes const serial = hex("8A 11 22 33 44 55 66 77");
    auto x = makeCertificate(serial);
    Bytes value = der(x.get(), i2d_X509);
    Bytes subject = der(X509_get_subject_name(x.get()), i2d_X509_NAME);
    Bytes issuer = der(X509_get_issuer_name(x.get()), i2d_X509_NAME);
    Bytes serialDer = der(X509_get_serialNumber(x.get()), i2d_ASN1_INTEGER);

    for (unsigned char token : {0, 1}) {
        SCOPED_TRACE(token ? "token object" : "session object");
        CP11X509Certificate cert;
        cert.SetAttribute(CKA_TOKEN, token);
        cert.SetAttribute(CKA_LABEL, "Card Holder", (unsigned long)-1);
        ASSERT_EQ(write(cert, CKA_SUBJECT, subject, P11_OP_CREATE), 0UL);
        ASSERT_EQ(write(cert, CKA_ISSUER, issuer, P11_OP_CREATE), 0UL);
        // The raw serial (not DER) is wrapped into the DER INTEGER OpenSSL writes.
        ASSERT_EQ(write(cert, CKA_SERIAL_NUMBER, serial, P11_OP_CREATE), 0UL);
        EXPECT_EQ(toHex(valueOf(cert, CKA_SERIAL_NUMBER)), toHex(serialDer));
        ASSERT_EQ(write(cert, CKA_VALUE, value, P11_OP_CREATE), 0UL);
        ASSERT_EQ(codeOf([&] { cert.Verify(P11_OP_CREATE); }), 0UL);

        Bytes stored = serialise(cert.Encode());
        EXPECT_EQ(stored[0], 0xA1);
        EXPECT_TRUE(opensslParses(stored));
        EXPECT_TRUE(contains(stored, subject));
        EXPECT_TRUE(contains(stored, serialDer));
        EXPECT_EQ(contains(stored, value), token == 0);

        CP11X509Certificate loaded;
        loaded.Decode(CP11Object::Decode(stored.data(), stored.size()), true);
        EXPECT_EQ(valueOf(loaded, CKA_ISSUER), issuer);
        EXPECT_EQ(valueOf(loaded, CKA_VALUE), token ? Bytes() : value);
    }
}
