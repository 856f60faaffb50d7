// The certificate context against OpenSSL's reading of the same certificates.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>

#include <cstring>
#include <ctime>
#include <string>

#include "asn1/asn.h"
#include "test_certs.h"

using namespace asn1test;

namespace
{

struct Ctx {
    _asn_cert_ctx_t *ctx = nullptr;
    int32_t rc = -1;
    explicit Ctx(const Bytes &der)
    {
        rc = asn_cert_ctx_init(der.data(), static_cast<uint32_t>(der.size()), &ctx);
    }
    ~Ctx()
    {
        if (ctx)
            asn_cert_ctx_final(ctx);
    }
    // A field through the size call and the writing call; fails the test when they differ.
    Bytes get(uint32_t id, int32_t *result = nullptr) const
    {
        int32_t size = asn_cert_ctx_get_attribute(ctx, id, nullptr);
        if (result)
            *result = size;
        if (size <= 0)
            return {};
        Bytes out(static_cast<size_t>(size) + 8, 0xCC);
        EXPECT_EQ(asn_cert_ctx_get_attribute(ctx, id, out.data()), size) << id;
        for (size_t i = static_cast<size_t>(size); i < out.size(); i++)
            EXPECT_EQ(out[i], 0xCC) << "id " << id << " wrote past its size";
        out.resize(static_cast<size_t>(size)); // shrinking keeps the storage
        return out;
    }
    int32_t size(uint32_t id) const { return asn_cert_ctx_get_attribute(ctx, id, nullptr); }
    std::string text(uint32_t id) const
    {
        Bytes b = get(id);
        if (b.empty() || b.back() != 0)
            return "<bad text>";
        return std::string(reinterpret_cast<char *>(b.data()));
    }
    asn_cert_usage_t usage() const
    {
        asn_cert_usage_t u;
        memset(&u, 0xEE, sizeof(u));
        Bytes b = get(ASN_CERT_USAGE);
        if (b.size() == sizeof(u))
            memcpy(&u, b.data(), sizeof(u));
        return u;
    }
};

template <typename T, typename F> Bytes i2d(const T *obj, F fn)
{
    int n = fn(const_cast<T *>(obj), nullptr);
    if (n <= 0)
        return {};
    Bytes out(static_cast<size_t>(n));
    unsigned char *p = out.data();
    fn(const_cast<T *>(obj), &p);
    return out;
}

std::string obj_text(const ASN1_OBJECT *obj)
{
    char buf[256];
    OBJ_obj2txt(buf, sizeof(buf), obj, 1);
    return buf;
}

Bytes algor_params(const X509_ALGOR *alg)
{
    const ASN1_OBJECT *obj;
    int ptype;
    const void *pval;
    X509_ALGOR_get0(&obj, &ptype, &pval, alg);
    if (ptype == V_ASN1_UNDEF)
        return {};
    ASN1_TYPE *t = ASN1_TYPE_new();
    ASN1_TYPE_set1(t, ptype, pval);
    Bytes out = i2d(t, i2d_ASN1_TYPE);
    ASN1_TYPE_free(t);
    return out;
}

std::string time_text(const ASN1_TIME *t)
{
    struct tm tm;
    if (ASN1_TIME_to_tm(t, &tm) != 1)
        return "<bad time>";
    char buf[32];
    strftime(buf, sizeof(buf), "%Y%m%d%H%M%S", &tm);
    return buf;
}

Bytes bn_bytes(EVP_PKEY *key, const char *name)
{
    BIGNUM *bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &bn), 1);
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

int critical_of(X509 *x, int nid)
{
    int index = X509_get_ext_by_NID(x, nid, -1);
    return index < 0 ? -1 : X509_EXTENSION_get_critical(X509_get_ext(x, index));
}

// The usage word OpenSSL's reading gives for a BIT STRING extension of the
// given number of bits.
uint64_t openssl_bit_word(X509 *x, int nid, int count)
{
    int critical = critical_of(x, nid);
    if (critical < 0)
        return 0;
    ASN1_BIT_STRING *bits =
        static_cast<ASN1_BIT_STRING *>(X509_get_ext_d2i(x, nid, nullptr, nullptr));
    uint64_t word = ASN_CERT_EXT_PRESENT | (critical ? ASN_CERT_EXT_CRITICAL : 0);
    for (int i = 0; i < count; i++)
        if (ASN1_BIT_STRING_get_bit(bits, i))
            word |= uint64_t(1) << i;
    ASN1_BIT_STRING_free(bits);
    return word;
}

uint64_t openssl_key_usage_word(X509 *x)
{
    return openssl_bit_word(x, NID_key_usage, 9);
}

uint64_t openssl_cert_type_word(X509 *x)
{
    return openssl_bit_word(x, NID_netscape_cert_type, 8);
}

uint64_t openssl_ext_key_usage_word(X509 *x)
{
    static const char *known[] = {
        "1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.3",
        "1.3.6.1.5.5.7.3.4", "1.3.6.1.5.5.7.3.5", "1.3.6.1.5.5.7.3.6",
        "1.3.6.1.5.5.7.3.7", "1.3.6.1.5.5.7.3.8", "1.3.6.1.4.1.311.20.2.2",
    };
    int critical = critical_of(x, NID_ext_key_usage);
    if (critical < 0)
        return 0;
    EXTENDED_KEY_USAGE *eku =
        static_cast<EXTENDED_KEY_USAGE *>(X509_get_ext_d2i(x, NID_ext_key_usage, nullptr, nullptr));
    uint64_t word = ASN_CERT_EXT_PRESENT | (critical ? ASN_CERT_EXT_CRITICAL : 0);
    for (int i = 0; i < sk_ASN1_OBJECT_num(eku); i++) {
        std::string oid = obj_text(sk_ASN1_OBJECT_value(eku, i));
        for (int bit = 0; bit < 9; bit++)
            if (oid == known[bit])
                word |= uint64_t(1) << bit;
    }
    EXTENDED_KEY_USAGE_free(eku);
    return word;
}

// Every field id against OpenSSL's reading of the same certificate.
void expect_fields_agree(const Bytes &der)
{
    X509Ptr x = parse(der);
    ASSERT_TRUE(x) << "OpenSSL refuses the test certificate";
    Ctx c(der);
    ASSERT_EQ(c.rc, 0);

    uint32_t version = 99;
    Bytes v = c.get(ASN_CERT_VERSION);
    ASSERT_EQ(v.size(), 4u);
    memcpy(&version, v.data(), 4);
    EXPECT_EQ(static_cast<long>(version), X509_get_version(x.get()));

    const ASN1_INTEGER *serial = X509_get0_serialNumber(x.get());
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SERIAL)), to_hex(i2d(serial, i2d_ASN1_INTEGER)));
    BIGNUM *bn = ASN1_INTEGER_to_BN(serial, nullptr);
    Bytes magnitude(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, magnitude.data());
    BN_free(bn);
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SERIAL_VALUE)), to_hex(magnitude));

    EXPECT_EQ(to_hex(c.get(ASN_CERT_ISSUER)),
              to_hex(i2d(X509_get_issuer_name(x.get()), i2d_X509_NAME)));
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SUBJECT)),
              to_hex(i2d(X509_get_subject_name(x.get()), i2d_X509_NAME)));
    EXPECT_EQ(c.text(ASN_CERT_NOT_BEFORE), time_text(X509_get0_notBefore(x.get())));
    EXPECT_EQ(c.text(ASN_CERT_NOT_AFTER), time_text(X509_get0_notAfter(x.get())));

    X509_PUBKEY *pubkey = X509_get_X509_PUBKEY(x.get());
    const unsigned char *key_bytes;
    int key_length;
    X509_ALGOR *key_alg;
    ASN1_OBJECT *key_oid;
    ASSERT_EQ(X509_PUBKEY_get0_param(&key_oid, &key_bytes, &key_length, &key_alg, pubkey), 1);
    EXPECT_EQ(to_hex(c.get(ASN_CERT_KEY_ALGORITHM)), to_hex(i2d(key_alg, i2d_X509_ALGOR)));
    EXPECT_EQ(c.text(ASN_CERT_KEY_ALGORITHM_OID), obj_text(key_oid));
    EXPECT_EQ(to_hex(c.get(ASN_CERT_KEY_PARAMETERS)), to_hex(algor_params(key_alg)));

    EVP_PKEY *key = X509_get0_pubkey(x.get());
    if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) {
        EXPECT_EQ(to_hex(c.get(ASN_CERT_RSA_KEY_DER)), to_hex(key_bytes, key_length));
        Bytes n = bn_bytes(key, OSSL_PKEY_PARAM_RSA_N);
        Bytes e = bn_bytes(key, OSSL_PKEY_PARAM_RSA_E);
        Bytes record = c.get(ASN_CERT_RSA_KEY);
        ASSERT_EQ(record.size(), sizeof(asn_cert_rsa_key_t) + n.size() + e.size());
        asn_cert_rsa_key_t r;
        memcpy(&r, record.data(), sizeof(r));
        const unsigned char *m_bytes = record.data() + sizeof(r);
        EXPECT_EQ(r.modulus, reinterpret_cast<uintptr_t>(m_bytes)) << "points into the buffer";
        EXPECT_EQ(r.modulus_length, n.size());
        EXPECT_EQ(r.exponent, reinterpret_cast<uintptr_t>(m_bytes + n.size()));
        EXPECT_EQ(r.exponent_length, e.size());
        EXPECT_EQ(to_hex(m_bytes, n.size()), to_hex(n));
        EXPECT_EQ(to_hex(m_bytes + n.size(), e.size()), to_hex(e));
    } else {
        EXPECT_EQ(c.size(ASN_CERT_RSA_KEY), -1);
        EXPECT_EQ(c.size(ASN_CERT_RSA_KEY_DER), -1);
    }

    const ASN1_BIT_STRING *sig;
    const X509_ALGOR *sig_alg;
    X509_get0_signature(&sig, &sig_alg, x.get());
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SIG_ALGORITHM)), to_hex(i2d(sig_alg, i2d_X509_ALGOR)));
    const ASN1_OBJECT *sig_oid;
    X509_ALGOR_get0(&sig_oid, nullptr, nullptr, sig_alg);
    EXPECT_EQ(c.text(ASN_CERT_SIG_ALGORITHM_OID), obj_text(sig_oid));
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SIG_PARAMETERS)), to_hex(algor_params(sig_alg)));

    if (X509_get_version(x.get()) != 2) {
        for (uint32_t id = ASN_CERT_USAGE; id <= ASN_CERT_SUBJECT_KEY_ID; id++)
            EXPECT_EQ(c.size(id), 0) << id;
        return;
    }
    asn_cert_usage_t u = c.usage();
    EXPECT_EQ(u.size, 32u);
    EXPECT_EQ(u.key_usage, openssl_key_usage_word(x.get()));
    EXPECT_EQ(u.ext_key_usage, openssl_ext_key_usage_word(x.get()));
    EXPECT_EQ(u.cert_type, openssl_cert_type_word(x.get()));

    int san = X509_get_ext_by_NID(x.get(), NID_subject_alt_name, -1);
    Bytes san_der;
    if (san >= 0) {
        ASN1_OCTET_STRING *data = X509_EXTENSION_get_data(X509_get_ext(x.get(), san));
        san_der.assign(data->data, data->data + data->length);
    }
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SUBJECT_ALT_NAME)), to_hex(san_der));
    const ASN1_OCTET_STRING *aki = X509_get0_authority_key_id(x.get());
    EXPECT_EQ(to_hex(c.get(ASN_CERT_AUTHORITY_KEY_ID)), aki ? to_hex(aki->data, aki->length) : "");
    const ASN1_OCTET_STRING *ski = X509_get0_subject_key_id(x.get());
    EXPECT_EQ(to_hex(c.get(ASN_CERT_SUBJECT_KEY_ID)), ski ? to_hex(ski->data, ski->length) : "");
}

// Reads, edits and writes back a certificate's tree; returns the new DER.
template <typename F> Bytes edited(const Bytes &der, F edit)
{
    _asn_t *root = asn_read(der.data(), static_cast<uint32_t>(der.size()), nullptr);
    EXPECT_NE(root, nullptr);
    if (!root)
        return {};
    edit(root);
    int32_t size = asn_write(root, 1, nullptr);
    Bytes out(size > 0 ? static_cast<size_t>(size) : 0);
    if (size > 0) {
        EXPECT_EQ(asn_write(root, 1, out.data()), size);
    }
    asn_item_free(root);
    return out;
}

_asn_t *nth_child(_asn_t *item, int n)
{
    _asn_t *child = asn_get_child(item);
    while (child && n-- > 0)
        child = asn_get_next(child);
    return child;
}

// Moves every child of from to the end of to's children.
void move_children(_asn_t *from, _asn_t *to)
{
    while (_asn_t *child = asn_get_child(from))
        ASSERT_EQ(asn_item_paste(to, asn_item_cut(child, 0), 1, 0), 1);
}

_asn_t *tbs_of(_asn_t *root)
{
    return asn_get_child(root);
}

_asn_t *extensions_list_of(_asn_t *root)
{
    return asn_get_child(asn_find(tbs_of(root), 1, 0, 0x80, 0x20, 3));
}

} // namespace

TEST(AsnCert, V1CertificateFieldsAgreeWithOpenSsl)
{
    CertSpec spec;
    spec.version = 0;
    Bytes der = make_der(spec);
    expect_fields_agree(der);
    Ctx c(der);
    EXPECT_EQ(c.get(ASN_CERT_VERSION), Bytes({0, 0, 0, 0}));
}

TEST(AsnCert, V3CertificateFieldsAgreeWithOpenSsl)
{
    Bytes der = make_der(full_v3_spec());
    expect_fields_agree(der);
    Ctx c(der);
    asn_cert_usage_t u = c.usage();
    EXPECT_EQ(u.key_usage, 0xC0000007u) << "critical digitalSignature|nonRepudiation|keyEnc";
    EXPECT_EQ(u.ext_key_usage, 0x8000010Au) << "clientAuth|emailProtection|smart-card logon";
    EXPECT_EQ(u.cert_type, 0x80000005u) << "client|email";
    EXPECT_EQ(c.ctx->not_before->tag, 23u) << "UTCTime";
    EXPECT_EQ(c.ctx->not_after->tag, 24u) << "GeneralizedTime after 2049";
    EXPECT_EQ(c.text(ASN_CERT_NOT_AFTER), "20501231235959");
    EXPECT_EQ(c.text(ASN_CERT_KEY_ALGORITHM_OID), "1.2.840.113549.1.1.1");
    EXPECT_EQ(c.text(ASN_CERT_SIG_ALGORITHM_OID), "1.2.840.113549.1.1.11");
}

TEST(AsnCert, SerialNumbersWithAndWithoutSignOctet)
{
    struct Row {
        const char *magnitude;
        const char *der;
        const char *value;
    } rows[] = {
        {"F301", "020300F301", "F301"},
        {"7F01", "02027F01", "7F01"},
        {"01", "020101", "01"},
        {"80000000000000000000000000000000000001", "02140080000000000000000000000000000000000001",
         "80000000000000000000000000000000000001"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.magnitude);
        CertSpec spec;
        spec.serial = hex(r.magnitude);
        Bytes der = make_der(spec);
        Ctx c(der);
        ASSERT_EQ(c.rc, 0);
        EXPECT_EQ(to_hex(c.get(ASN_CERT_SERIAL)), r.der);
        EXPECT_EQ(to_hex(c.get(ASN_CERT_SERIAL_VALUE)), r.value);
        expect_fields_agree(der);
    }
}

TEST(AsnCert, ReadThenWriteGivesTheSameBytes)
{
    CertSpec v1;
    v1.version = 0;
    CertSpec ec = full_v3_spec();
    ec.ec_key = true;
    for (const Bytes &der : {make_der(v1), make_der(full_v3_spec()), make_der(ec)}) {
        Bytes back = edited(der, [](_asn_t *) {});
        EXPECT_EQ(to_hex(back), to_hex(der));
    }
}

TEST(AsnCert, EllipticCurveKey)
{
    CertSpec spec = full_v3_spec();
    spec.ec_key = true;
    Bytes der = make_der(spec);
    expect_fields_agree(der);
    Ctx c(der);
    EXPECT_EQ(c.size(ASN_CERT_RSA_KEY), -1);
    EXPECT_EQ(c.size(ASN_CERT_RSA_KEY_DER), -1);
    EXPECT_EQ(c.text(ASN_CERT_KEY_ALGORITHM_OID), "1.2.840.10045.2.1");
    EXPECT_EQ(to_hex(c.get(ASN_CERT_KEY_PARAMETERS)), "06082A8648CE3D030107");
}

TEST(AsnCert, UsageRecordTable)
{
    struct Row {
        const char *why;
        std::vector<std::pair<std::string, std::string>> extensions;
        int32_t size;
        uint64_t key_usage, ext_key_usage, cert_type;
    } rows[] = {
        {"no extensions", {}, 32, 0, 0, 0},
        {"critical key usage",
         {{"keyUsage", "critical,digitalSignature,nonRepudiation"}},
         32,
         0xC0000003,
         0,
         0},
        {"decipherOnly is bit 8",
         {{"keyUsage", "keyAgreement,decipherOnly"}},
         32,
         0x80000110,
         0,
         0},
        {"unknown purpose, not critical", {{"extendedKeyUsage", "1.2.3.4"}}, 32, 0, 0x80000000, 0},
        {"unknown purpose beside known ones",
         {{"extendedKeyUsage", "serverAuth,1.2.3.4,timeStamping"}},
         32,
         0,
         0x80000081,
         0},
        {"unknown purpose, critical", {{"extendedKeyUsage", "critical,1.2.3.4"}}, -1, 0, 0, 0},
        {"all known purposes, critical",
         {{"extendedKeyUsage",
           "critical,serverAuth,clientAuth,codeSigning,emailProtection,1.3.6.1.5.5.7.3.5,"
           "1.3.6.1.5.5.7.3.6,1.3.6.1.5.5.7.3.7,timeStamping,1.3.6.1.4.1.311.20.2.2"}},
         32,
         0,
         0xC00001FF,
         0},
        {"certificate type", {{"nsCertType", "server,objsign"}}, 32, 0, 0, 0x8000000A},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        CertSpec spec;
        spec.extensions = r.extensions;
        Bytes der = make_der(spec);
        Ctx c(der);
        ASSERT_EQ(c.rc, 0);
        ASSERT_EQ(c.size(ASN_CERT_USAGE), r.size);
        if (r.size < 0)
            continue;
        asn_cert_usage_t u = c.usage();
        EXPECT_EQ(u.key_usage, r.key_usage);
        EXPECT_EQ(u.ext_key_usage, r.ext_key_usage);
        EXPECT_EQ(u.cert_type, r.cert_type);
        expect_fields_agree(der);
    }
}

TEST(AsnCert, MalformedExtensionValues)
{
    // Each row replaces the extnValue content of the last extension of a certificate; the
    // authority key identifier needs the subject's one before it.
    struct Row {
        const char *why;
        const char *extension;
        const char *config;
        const char *content; // new extnValue content
        uint32_t id;
        int32_t expected;
    } rows[] = {
        {"key usage BIT STRING empty", "keyUsage", "digitalSignature", "0300", ASN_CERT_USAGE, -1},
        {"key usage unused bits above 7", "keyUsage", "digitalSignature", "03020980",
         ASN_CERT_USAGE, -1},
        {"key usage unused bits without octets", "keyUsage", "digitalSignature", "030107",
         ASN_CERT_USAGE, -1},
        {"key usage not a BIT STRING", "keyUsage", "digitalSignature", "0401FF", ASN_CERT_USAGE,
         -1},
        {"key usage content does not parse", "keyUsage", "digitalSignature", "0305", ASN_CERT_USAGE,
         -1},
        {"key usage of no bits", "keyUsage", "digitalSignature", "030100", ASN_CERT_USAGE, 32},
        {"certificate type of nine bits", "nsCertType", "client", "0303078080", ASN_CERT_USAGE, -1},
        {"extended key usage empty", "extendedKeyUsage", "serverAuth", "3000", ASN_CERT_USAGE, -1},
        {"extended key usage not a SEQUENCE", "extendedKeyUsage", "serverAuth", "0500",
         ASN_CERT_USAGE, -1},
        {"authority key id does not parse", "authorityKeyIdentifier", "keyid:always", "3005",
         ASN_CERT_AUTHORITY_KEY_ID, -1},
        {"authority key id without keyIdentifier", "authorityKeyIdentifier", "keyid:always",
         "3003820101", ASN_CERT_AUTHORITY_KEY_ID, 0},
        {"subject key id does not parse", "subjectKeyIdentifier", "hash", "04",
         ASN_CERT_SUBJECT_KEY_ID, -1},
        {"subject key id not an OCTET STRING", "subjectKeyIdentifier", "hash", "0500",
         ASN_CERT_SUBJECT_KEY_ID, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        CertSpec spec;
        bool ski = strcmp(r.extension, "subjectKeyIdentifier") == 0;
        if (!ski)
            spec.extensions.push_back({"subjectKeyIdentifier", "hash"});
        spec.extensions.push_back({r.extension, r.config});
        Bytes der = edited(make_der(spec), [&](_asn_t *root) {
            _asn_t *ext = nth_child(extensions_list_of(root), ski ? 0 : 1);
            _asn_t *value = asn_get_next(asn_get_child(ext));
            ASSERT_TRUE(asn_is_current(value, 0, 0, 4));
            Bytes content = hex(r.content);
            _asn_t *replacement =
                asn_item_new(0, 0, 4, content.data(), static_cast<uint32_t>(content.size()));
            ASSERT_EQ(asn_item_copy_data(value, replacement), static_cast<int32_t>(content.size()));
            asn_item_free(replacement);
        });
        Ctx c(der);
        ASSERT_EQ(c.rc, 0);
        EXPECT_EQ(c.size(r.id), r.expected);
    }
}

TEST(AsnCert, CriticalFlagWithoutValueAndIdentifiersAfterIt)
{
    // An extension whose BOOLEAN has no content is malformed; a critical subject alternative
    // name is not looked at by the identifier fields.
    CertSpec spec;
    spec.extensions = {{"keyUsage", "critical,digitalSignature"},
                       {"subjectAltName", "critical,DNS:a.test"}};
    Bytes der = edited(make_der(spec), [](_asn_t *root) {
        _asn_t *ext = asn_get_child(extensions_list_of(root));
        _asn_t *critical = asn_get_next(asn_get_child(ext));
        ASSERT_TRUE(asn_is_current(critical, 0, 0, 1));
        _asn_t *empty = asn_item_new(0, 0, 1, nullptr, 0);
        ASSERT_EQ(asn_item_copy_data(critical, empty), 0);
        asn_item_free(empty);
    });
    Ctx c(der);
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(c.size(ASN_CERT_USAGE), -1);
    EXPECT_EQ(c.size(ASN_CERT_SUBJECT_ALT_NAME), 0);
}

TEST(AsnCert, InitRefusesBadShapes)
{
    Bytes good = make_der(full_v3_spec());
    CertSpec v1spec;
    v1spec.version = 0;
    Bytes v1 = make_der(v1spec);
    auto set_version = [](int32_t value) {
        return [value](_asn_t *root) {
            _asn_t *integer = asn_get_child(asn_get_child(tbs_of(root)));
            _asn_t *replacement = asn_encode(0, 2, &value, 4, nullptr);
            ASSERT_GE(asn_item_copy_data(integer, replacement), 1);
            asn_item_free(replacement);
        };
    };
    auto append_to_tbs = [](const char *hex_item) {
        return [hex_item](_asn_t *root) {
            Bytes b = hex(hex_item);
            _asn_t *item = asn_read(b.data(), static_cast<uint32_t>(b.size()), nullptr);
            ASSERT_EQ(asn_item_paste(tbs_of(root), item, 1, 0), 1);
        };
    };
    struct Row {
        const char *why;
        Bytes der;
    } rows[] = {
        {"truncated", Bytes(good.begin(), good.end() - 1)},
        {"v2 with extensions", edited(good, set_version(1))},
        {"v1 coded with extensions", edited(good, set_version(0))},
        {"version 3 with extensions", edited(good, set_version(3))},
        {"unique id in v1", edited(v1, append_to_tbs("810100"))},
        {"element after extensions", edited(good, append_to_tbs("0500"))},
        {"extensions twice", edited(good, append_to_tbs("A3023000"))},
        {"signature value followed by more",
         edited(good,
                [](_asn_t *root) {
                    ASSERT_EQ(
                        asn_item_paste(nth_child(root, 2), asn_item_new(0, 0, 5, nullptr, 0), 0, 0),
                        1);
                })},
        {"no validity end", edited(good,
                                   [](_asn_t *root) {
                                       _asn_t *validity = nth_child(tbs_of(root), 4);
                                       ASSERT_TRUE(asn_is_child(validity, 0, 0, 23));
                                       ASSERT_EQ(asn_item_delete(nth_child(validity, 1)), 1);
                                   })},
        {"time of wrong type",
         edited(good, [](_asn_t *root) { asn_get_child(nth_child(tbs_of(root), 4))->tag = 4; })},
        {"key not a BIT STRING", edited(good,
                                        [](_asn_t *root) {
                                            _asn_t *spki = nth_child(tbs_of(root), 6);
                                            ASSERT_TRUE(asn_is_child(spki, 0, 0x20, 16));
                                            asn_get_next(asn_get_child(spki))->tag = 4;
                                        })},
        {"signature algorithm without OID",
         edited(good, [](_asn_t *root) { asn_get_child(asn_get_next(tbs_of(root)))->tag = 5; })},
        {"root not a SEQUENCE", edited(good, [](_asn_t *root) { root->tag = 17; })},
        {"tbs only", edited(good,
                            [](_asn_t *root) {
                                asn_item_delete(asn_get_next(asn_get_next(tbs_of(root))));
                                asn_item_delete(asn_get_next(tbs_of(root)));
                            })},
        {"SEQUENCE of nothing", hex("3000")},
        {"not DER at all", hex("0102")},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        ASSERT_FALSE(r.der.empty());
        _asn_cert_ctx_t *ctx = reinterpret_cast<_asn_cert_ctx_t *>(0x1);
        EXPECT_EQ(asn_cert_ctx_init(r.der.data(), static_cast<uint32_t>(r.der.size()), &ctx), -1);
        EXPECT_EQ(ctx, nullptr);
    }
    // Elements after the certificate are ignored; a unique id in v2 is fine.
    Bytes trailing = good;
    trailing.push_back(0x05);
    trailing.push_back(0x00);
    EXPECT_EQ(Ctx(trailing).rc, 0);
    // v1 turned into v2 by putting [0] { INTEGER 1 } in front and a subjectUniqueID behind.
    Bytes v2 = edited(v1, [](_asn_t *root) {
        int32_t one = 1;
        _asn_t *tbs = asn_item_new(0, 0x20, 16, nullptr, 0);
        _asn_t *version = asn_item_new(0x80, 0x20, 0, nullptr, 0);
        ASSERT_EQ(asn_item_paste(version, asn_encode(0, 2, &one, 4, nullptr), 1, 0), 1);
        ASSERT_EQ(asn_item_paste(tbs, version, 1, 0), 1);
        _asn_t *old_tbs = asn_item_cut(tbs_of(root), 0);
        move_children(old_tbs, tbs);
        asn_item_free(old_tbs);
        ASSERT_EQ(asn_item_paste(tbs, asn_item_new(0x80, 0, 2, "\x00", 1), 1, 0), 1);
        _asn_t *holder = asn_item_new(0, 0x20, 16, nullptr, 0);
        move_children(root, holder);
        ASSERT_EQ(asn_item_paste(root, tbs, 1, 0), 1);
        move_children(holder, root);
        asn_item_free(holder);
    });
    Ctx c2(v2);
    EXPECT_EQ(c2.rc, 0);
    EXPECT_EQ(c2.get(ASN_CERT_VERSION), Bytes({1, 0, 0, 0}));
    EXPECT_EQ(c2.size(ASN_CERT_USAGE), 0);
}

TEST(AsnCert, BadArgumentsAndContexts)
{
    Bytes der = make_der(full_v3_spec());
    _asn_cert_ctx_t *ctx = nullptr;
    EXPECT_EQ(asn_cert_ctx_init(nullptr, 10, &ctx), -1);
    EXPECT_EQ(asn_cert_ctx_init(der.data(), 0, &ctx), -1);
    EXPECT_EQ(asn_cert_ctx_init(der.data(), static_cast<uint32_t>(der.size()), nullptr), -1);

    Ctx c(der);
    ASSERT_EQ(c.rc, 0);
    for (uint32_t id : {0u, 4u, 17u, 34u, 67u, 82u, 99u, 116u, 0xFFFFFFFFu})
        EXPECT_EQ(c.size(id), -1) << id;
    EXPECT_EQ(asn_cert_ctx_get_attribute(nullptr, ASN_CERT_SERIAL, nullptr), -1);
    _asn_cert_ctx_t fake;
    memset(&fake, 0, sizeof(fake));
    EXPECT_EQ(asn_cert_ctx_get_attribute(&fake, ASN_CERT_SERIAL, nullptr), -1);
    EXPECT_EQ(asn_cert_ctx_final(&fake), -1);
    EXPECT_EQ(asn_cert_ctx_final(nullptr), -1);
}

TEST(AsnCert, HostileKeyAndTimeFields)
{
    Bytes good = make_der(full_v3_spec());
    auto spki_of = [](_asn_t *root) { return nth_child(tbs_of(root), 6); };
    struct Row {
        const char *why;
        const char *key_content; // new subjectPublicKey content
        int32_t rsa_der, rsa_record;
    } rows[] = {
        {"empty BIT STRING", "", -1, -1},
        {"unused bits above 7", "0930060201010201 03", -1, -1},
        {"one octet", "00", 0, -1},
        {"three INTEGERs", "00300902010102010302 0105", 11, -1},
        {"one INTEGER", "003003020101", 5, -1},
        {"trailing bytes", "00300602010102010300", 9, -1},
        {"small valid key", "0030060201C1020103", 8, 32 + 1 + 1},
        {"empty modulus", "00300502000201 03", 7, -1},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        Bytes der = edited(good, [&](_asn_t *root) {
            _asn_t *key = asn_get_next(asn_get_child(spki_of(root)));
            ASSERT_TRUE(asn_is_current(key, 0, 0, 3));
            Bytes content = hex(r.key_content);
            _asn_t *replacement = asn_item_new(0, 0, 3, content.empty() ? nullptr : content.data(),
                                               static_cast<uint32_t>(content.size()));
            ASSERT_GE(asn_item_copy_data(key, replacement), 0);
            asn_item_free(replacement);
        });
        Ctx c(der);
        ASSERT_EQ(c.rc, 0);
        EXPECT_EQ(c.size(ASN_CERT_RSA_KEY_DER), r.rsa_der);
        EXPECT_EQ(c.size(ASN_CERT_RSA_KEY), r.rsa_record);
        c.get(ASN_CERT_RSA_KEY);
        c.get(ASN_CERT_RSA_KEY_DER);
    }
    // Times whose zone offset moves them out of four-digit years are refused, not overrun.
    struct TimeRow {
        const char *text;
        uint32_t tag;
        int32_t size;
        const char *value;
    } times[] = {
        {"99991231235959-0100", 24, -1, ""},
        {"00000101000000+0100", 24, -1, ""},
        {"491231235959-1200", 23, 15, "20500101115959"},
        {"0912311200+0130", 23, 15, "20091231103000"},
        {"991231235959", 23, 15, "19991231235959"},
    };
    for (const TimeRow &t : times) {
        SCOPED_TRACE(t.text);
        Bytes der = edited(good, [&](_asn_t *root) {
            _asn_t *validity = nth_child(tbs_of(root), 4);
            _asn_t *not_after = asn_get_next(asn_get_child(validity));
            _asn_t *replacement =
                asn_item_new(0, 0, t.tag, t.text, static_cast<uint32_t>(strlen(t.text)));
            not_after->tag = t.tag;
            ASSERT_GE(asn_item_copy_data(not_after, replacement), 0);
            asn_item_free(replacement);
        });
        Ctx c(der);
        ASSERT_EQ(c.rc, 0);
        EXPECT_EQ(c.size(ASN_CERT_NOT_AFTER), t.size);
        if (t.size > 0) {
            EXPECT_EQ(c.text(ASN_CERT_NOT_AFTER), t.value);
        }
    }
}
