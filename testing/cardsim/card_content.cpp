#include "card_content.h"

#include "openssl_handles.h"
#include "rsa_key.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace cardsim
{

namespace
{

bool Fail(std::string *error, const std::string &what)
{
    if (error)
        *error = what;
    return false;
}

// An extension under a private arc whose value is an OCTET STRING of random bytes.
bool AddPadding(X509 *cert, size_t padding)
{
    Bytes random(padding);
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
        return false;
    OpenSslHandle<ASN1_OCTET_STRING> inner(ASN1_OCTET_STRING_new());
    if (!inner ||
        ASN1_OCTET_STRING_set(inner.get(), random.data(), static_cast<int>(random.size())) != 1)
        return false;
    unsigned char *encoded = nullptr;
    int length = i2d_ASN1_OCTET_STRING(inner.get(), &encoded);
    if (length <= 0)
        return false;
    OpenSslHandle<ASN1_OCTET_STRING> value(ASN1_OCTET_STRING_new());
    bool set = value && ASN1_OCTET_STRING_set(value.get(), encoded, length) == 1;
    OPENSSL_free(encoded);
    OpenSslHandle<ASN1_OBJECT> oid(OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1));
    OpenSslHandle<X509_EXTENSION> ext(
        set && oid ? X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()) : nullptr);
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

} // namespace

bool InstallKey(CardState &s, int index, int spec, const KeyOptions &o, std::string *error,
                Bytes *privateDer)
{
    if (index < 0 || index >= s.containers || spec < 0 || spec > 1)
        return Fail(error, "no container " + std::to_string(index) + " key " +
                               std::to_string(spec) + " on this card");
    Bytes der = o.privateDer;
    if (der.empty() && !GenerateRsaKey(o.bits, o.exponent, der))
        return Fail(error, "cannot make an RSA key of " + std::to_string(o.bits) + " bits");
    int bits = RsaBits(der, false);
    if (bits <= 0 || bits % 512 != 0 || bits > 0xFFFF)
        return Fail(error, "the key is no RSA key of a multiple of 512 bits");
    CardKey k;
    k.bits = static_cast<uint16_t>(bits);
    k.usage = o.usage ? o.usage : (spec == 0 ? 0x01 : 0x06);
    k.access[0] = o.access[0];
    k.access[1] = o.access[1];
    k.form = o.publicOnly ? CardKey::Form::Public : CardKey::Form::Private;
    if (o.publicOnly) {
        if (!RsaPublicDer(der, k.der))
            return Fail(error, "cannot take the public key");
    } else {
        k.der = der;
    }
    s.keys[{index, spec}] = k;
    s.ListKeySize(k.bits);
    if (privateDer)
        *privateDer = std::move(der);
    return true;
}

bool MakeCertificate(const Bytes &privateDer, const std::string &commonName, long serial,
                     bool expired, Bytes &der, size_t padding)
{
    const unsigned char *p = privateDer.data();
    Pkey key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(privateDer.size())));
    OpenSslHandle<X509> cert(X509_new());
    if (!key || !cert)
        return false;
    const long year = 365L * 24 * 3600;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * year : 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -year : 3 * year);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("CZ"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    if (padding > 0 && !AddPadding(cert.get(), padding))
        return false;
    if (X509_set_pubkey(cert.get(), key.get()) != 1 ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0)
        return false;
    int length = i2d_X509(cert.get(), nullptr);
    if (length <= 0)
        return false;
    der.resize(static_cast<size_t>(length));
    unsigned char *out = der.data();
    i2d_X509(cert.get(), &out);
    return true;
}

CardFile StoredPlain(const Bytes &plain, unsigned char access)
{
    CardFile f;
    f.stored = plain;
    f.stored.push_back(Crc8(plain));
    f.plainLength = static_cast<uint32_t>(plain.size());
    f.fileSize = static_cast<uint32_t>(f.stored.size());
    f.access = access;
    return f;
}

CardFile StoredPacked(const Bytes &plain, unsigned char access)
{
    CardFile f;
    f.stored = PackCardFile(plain);
    f.plainLength = static_cast<uint32_t>(plain.size());
    f.fileSize = static_cast<uint32_t>(f.stored.size());
    f.access = access;
    return f;
}

std::string CertificateFileName(int index, int spec)
{
    char name[16];
    std::snprintf(name, sizeof name, "%s%02d", spec == 0 ? "ksc" : "kxc", index % 100);
    return name;
}

Bytes CmapRecord(const std::string &name, unsigned char flags, uint16_t signatureBits,
                 uint16_t exchangeBits)
{
    Bytes r(86, 0);
    for (size_t i = 0; i < name.size() && i < 39; ++i)
        r[2 * i] = static_cast<unsigned char>(name[i]); // ASCII as UTF-16LE
    r[80] = flags;
    r[82] = static_cast<unsigned char>(signatureBits);
    r[83] = static_cast<unsigned char>(signatureBits >> 8);
    r[84] = static_cast<unsigned char>(exchangeBits);
    r[85] = static_cast<unsigned char>(exchangeBits >> 8);
    return r;
}

void SetCmapRecord(CardState &s, int index, const Bytes &record)
{
    auto &files = s.dirs["mscp"].files;
    unsigned char access = files.count("cmapfile") ? files["cmapfile"].access : 0x3D;
    CardFile &f = files["cmapfile"];
    Bytes plain;
    if (!f.stored.empty())
        plain.assign(f.stored.begin(), f.stored.end() - 1);
    size_t at = static_cast<size_t>(index) * 86;
    if (plain.size() < at + 86)
        plain.resize(at + 86, 0x00);
    Bytes r = record;
    r.resize(86, 0x00);
    std::copy(r.begin(), r.end(), plain.begin() + static_cast<long>(at));
    f = StoredPlain(plain, access);
}

void MarkContainer(CardState &s, int index, int spec, uint16_t bits)
{
    Bytes record(86, 0x00);
    const CardFile *f = s.FindFile("mscp", "cmapfile");
    size_t at = static_cast<size_t>(index) * 86;
    if (f && f->stored.size() > at + 86)
        record.assign(f->stored.begin() + static_cast<long>(at),
                      f->stored.begin() + static_cast<long>(at + 86));
    if (record[0] == 0) {
        char name[40];
        std::snprintf(name, sizeof name, "cardsim-container-%02d", index);
        Bytes named = CmapRecord(name, 0, 0, 0);
        std::copy(named.begin(), named.begin() + 80, record.begin());
    }
    record[80] |= 0x01;
    record[82 + 2 * spec] = static_cast<unsigned char>(bits);
    record[83 + 2 * spec] = static_cast<unsigned char>(bits >> 8);
    SetCmapRecord(s, index, record);
}

} // namespace cardsim
