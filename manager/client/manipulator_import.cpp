// Importing a key pair with its certificate from a PKCS#12 file, and a
// certificate from a file, into the token's key containers.
//
// The token puts a new private key into a new container whose name it
// chooses; the public key and the certificate then name that container. An
// import that fails part-way destroys again what it created, so that no
// half-filled container keeps one of the card's few places. The key's
// private components live in one buffer that is wiped when the import ends.
#include "client/pkcs11_manipulator.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>

#include "client/client_codes.h"
#include "client/openssl_key_files.h"
#include "client/vendor_attributes.h"

namespace
{

// No certificate comes near this; a larger file is not read.
constexpr qint64 MAX_CERTIFICATE_FILE = 1 << 20;
constexpr int KEY_BITS = 2048;

struct Component {
    char const *param; // OpenSSL's name of it
    int width;         // of its field
    CK_ATTRIBUTE_TYPE type;
    char const *label; // of its trace line
};
Component const COMPONENTS[] = {
    {OSSL_PKEY_PARAM_RSA_N, 256, CKA_MODULUS, "ComponentLength: ln: "},
    {OSSL_PKEY_PARAM_RSA_E, 256, CKA_PUBLIC_EXPONENT, "ComponentLength: le: "},
    {OSSL_PKEY_PARAM_RSA_D, 256, CKA_PRIVATE_EXPONENT, "ComponentLength: ld: "},
    {OSSL_PKEY_PARAM_RSA_FACTOR1, 128, CKA_PRIME_1, "ComponentLength: lp: "},
    {OSSL_PKEY_PARAM_RSA_FACTOR2, 128, CKA_PRIME_2, "ComponentLength: lq: "},
    {OSSL_PKEY_PARAM_RSA_EXPONENT1, 128, CKA_EXPONENT_1, "ComponentLength: ldmp1: "},
    {OSSL_PKEY_PARAM_RSA_EXPONENT2, 128, CKA_EXPONENT_2, "ComponentLength: ldmq1: "},
    {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, 128, CKA_COEFFICIENT, "ComponentLength: liqmp: "},
};
constexpr size_t COMPONENT_COUNT = sizeof(COMPONENTS) / sizeof(COMPONENTS[0]);
constexpr size_t MODULUS = 0;
constexpr size_t EXPONENT = 1;

// The key's components, each right-aligned in its field, and the number of
// significant bytes of each (-1: it does not fit). Wiped when it goes.
struct KeyComponents {
    unsigned char fields[COMPONENT_COUNT][256] = {};
    int length[COMPONENT_COUNT] = {};

    KeyComponents() = default;
    KeyComponents(KeyComponents const &) = delete;
    KeyComponents &operator=(KeyComponents const &) = delete;
    ~KeyComponents() { OPENSSL_cleanse(fields, sizeof(fields)); }

    bool fit() const
    {
        for (int l : length)
            if (l < 0)
                return false;
        return true;
    }
    // Whether each component has the length a 2048-bit key's usually has.
    bool usual() const
    {
        int const half = length[MODULUS] / 2;
        for (size_t i = 3; i < COMPONENT_COUNT; ++i)
            if (half == 0 || length[i] % half != 0)
                return false;
        return length[2] == length[MODULUS];
    }
    // The component's significant bytes.
    CK_ATTRIBUTE attribute(size_t i)
    {
        return {COMPONENTS[i].type, fields[i] + COMPONENTS[i].width - length[i],
                static_cast<CK_ULONG>(length[i])};
    }
};

CK_BBOOL TRUE_VALUE = CK_TRUE;
CK_BBOOL FALSE_VALUE = CK_FALSE;
CK_KEY_TYPE RSA_TYPE = CKK_RSA;

CK_ATTRIBUTE flag(CK_ATTRIBUTE_TYPE type, bool value)
{
    return {type, value ? &TRUE_VALUE : &FALSE_VALUE, sizeof(CK_BBOOL)};
}

CK_ATTRIBUTE bytes(CK_ATTRIBUTE_TYPE type, QByteArray const &value)
{
    return {type, const_cast<char *>(value.constData()), static_cast<CK_ULONG>(value.size())};
}

} // namespace

int Pkcs11Manipulator::ExportBN(BIGNUM const *bn, unsigned char *out, int width)
{
    if (bn == nullptr || out == nullptr || width < 0)
        return -1;
    int const significant = (BN_num_bits(bn) + 7) / 8;
    if (significant > width)
        return -1;
    std::memset(out, 0, static_cast<size_t>(width - significant));
    if (BN_bn2bin(bn, out + width - significant) != significant)
        return -1;
    return significant;
}

int Pkcs11Manipulator::ImportKey(int slot, QString file, QString password)
{
    QString const what = QStringLiteral("ImportKey(%1, %2, QString password)").arg(slot).arg(file);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    EvpPkeyPtr key;
    X509Ptr certificate;
    Pkcs12Outcome outcome = Pkcs12Outcome::WRONG_PASSWORD;
    {
        SecretBytes secret;
        if (secret.assignPin(password))
            outcome = ReadPkcs12(file, secret.text(), key, certificate);
        // The caller's copy is its own to wipe; this one is wiped here.
        password.fill(QChar(0));
    }
    if (outcome != Pkcs12Outcome::NOT_PKCS12)
        traced(QStringLiteral(
                   "openssl: PKCS12_parse(p12, password.toUtf8().data(), &evp_key, &cert, NULL)"),
               outcome == Pkcs12Outcome::READ ? 1 : 0);
    if (outcome == Pkcs12Outcome::WRONG_PASSWORD)
        return leave(what, client_code::KEY_PASSWORD);
    if (outcome != Pkcs12Outcome::READ)
        return leave(what, client_code::KEY_FILE);
    if (key == nullptr || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        return leave(what, client_code::KEY_TYPE);
    if (EVP_PKEY_get_bits(key.get()) != KEY_BITS)
        return leave(what, client_code::KEY_SIZE);

    KeyComponents components;
    for (size_t i = 0; i < COMPONENT_COUNT; ++i) {
        BignumPtr number = RsaComponent(key.get(), COMPONENTS[i].param);
        if (number == nullptr)
            return leave(what, client_code::KEY_TYPE); // no CRT form: not for the card
        components.length[i] = ExportBN(number.get(), components.fields[i], COMPONENTS[i].width);
        traced(QString::fromLatin1(COMPONENTS[i].label),
               static_cast<CK_RV>(static_cast<long>(components.length[i])));
    }
    key.reset();
    // A part longer than its field would reach the token cut short.
    if (!components.fit())
        return leave(what, client_code::KEY_SIZE);
    if (!components.usual())
        std::fputs("Warning - spatnta delka atributu\n", stdout);

    CK_SESSION_HANDLE const session = hSes[slot];
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    std::vector<CK_ATTRIBUTE> privateTemplate = {
        {CKA_CLASS, &privateClass, sizeof(privateClass)},
        flag(CKA_TOKEN, true),
        flag(CKA_MODIFIABLE, false),
        flag(CKA_PRIVATE, true),
        flag(CKA_SENSITIVE, true),
        {CKA_KEY_TYPE, &RSA_TYPE, sizeof(RSA_TYPE)},
    };
    for (size_t i = 0; i < COMPONENT_COUNT; ++i)
        privateTemplate.push_back(components.attribute(i));
    CK_OBJECT_HANDLE ho = CK_INVALID_HANDLE;
    CK_RV rv = traced(
        QStringLiteral("C_CreateObject(hSes[%1], privKeyTemplate, 14, &ho)").arg(slot),
        pFunctionList->C_CreateObject(session, privateTemplate.data(), privateTemplate.size(), &ho),
        QStringLiteral("CKO_PRIVATE_KEY"));
    if (rv != CKR_OK)
        return leave(what, rv);
    std::vector<CK_OBJECT_HANDLE> created = {ho};

    AttributeValues value;
    rv = readAttributes(session, ho, {CKA_OBJECT_CONTAINER_NAME}, value,
                        QStringLiteral("C_GetAttributeValue(hSes[%1], ho, templ, 1)").arg(slot));
    QByteArray const name = rv == CKR_OK ? nameOf(value[0]) : QByteArray();
    if (rv == CKR_OK) {
        CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
        std::vector<CK_ATTRIBUTE> publicTemplate = {
            {CKA_CLASS, &publicClass, sizeof(publicClass)},
            bytes(CKA_OBJECT_CONTAINER_NAME, name),
            bytes(CKA_LABEL, name),
            flag(CKA_TOKEN, true),
            flag(CKA_MODIFIABLE, false),
            flag(CKA_PRIVATE, false),
            {CKA_KEY_TYPE, &RSA_TYPE, sizeof(RSA_TYPE)},
            components.attribute(MODULUS),
            components.attribute(EXPONENT),
        };
        rv = traced(QStringLiteral("C_CreateObject(hSes[%1], pubKeyTemplate, 9, &ho)").arg(slot),
                    pFunctionList->C_CreateObject(session, publicTemplate.data(),
                                                  publicTemplate.size(), &ho),
                    QStringLiteral("CKO_PUBLIC_KEY"));
        if (rv == CKR_OK)
            created.push_back(ho);
    }
    if (rv == CKR_OK && certificate != nullptr)
        rv = traced(QStringLiteral("ImportCert(%1, cert, %2)").arg(slot).arg(QString::fromUtf8(name)),
                    importCertificate(slot, certificate.get(), name),
                    QStringLiteral("CKO_CERTIFICATE"));
    if (rv != CKR_OK)
        destroyCreated(slot, created);
    return leave(what, rv);
}

int Pkcs11Manipulator::ImportCert(int slot, X509 *certificate, QString container)
{
    return importCertificate(slot, certificate, container.toUtf8());
}

int Pkcs11Manipulator::importCertificate(int slot, X509 *certificate, QByteArray const &container)
{
    QString const what = QStringLiteral("ImportCert(%1, X509 *certificate, %2)")
                             .arg(slot)
                             .arg(QString::fromUtf8(container));
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    unsigned char *der = nullptr;
    int const length = certificate != nullptr ? i2d_X509(certificate, &der) : -1;
    traced(QStringLiteral("i2d_X509(certificate, &buffer)"), 0,
           QStringLiteral("certificate length=%1").arg(length));
    if (length < 0)
        return leave(what, CKR_ARGUMENTS_BAD);
    CK_RV rv = createCertificate(slot, der, static_cast<size_t>(length), container);
    OPENSSL_free(der);
    return leave(what, rv);
}

int Pkcs11Manipulator::ImportCert(int slot, QString file, QString container)
{
    QString const what = QStringLiteral("ImportCert(%1, %2, %3)").arg(slot).arg(file).arg(container);
    enter(what);
    if (long bad = unusable(slot))
        return leave(what, bad);
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly) || in.size() > MAX_CERTIFICATE_FILE)
        return leave(what, client_code::CERT_FILE);
    QByteArray const value = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return leave(what, client_code::CERT_FILE);
    traced(QStringLiteral("is.tellg()"), 0,
           QStringLiteral("certificate length=%1").arg(value.size()));
    return leave(what, createCertificate(slot, reinterpret_cast<unsigned char const *>(value.constData()),
                                         static_cast<size_t>(value.size()), container.toUtf8()));
}

CK_RV Pkcs11Manipulator::createCertificate(int slot, unsigned char const *der, size_t length,
                                           QByteArray const &container)
{
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_ATTRIBUTE certificateTemplate[] = {
        {CKA_CLASS, &cls, sizeof(cls)},
        bytes(CKA_LABEL, container),
        flag(CKA_TOKEN, true),
        flag(CKA_MODIFIABLE, false),
        flag(CKA_PRIVATE, false),
        bytes(CKA_OBJECT_CONTAINER_NAME, container),
        {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
        {CKA_VALUE, const_cast<unsigned char *>(der), static_cast<CK_ULONG>(length)},
    };
    CK_OBJECT_HANDLE ho = CK_INVALID_HANDLE;
    return traced(QStringLiteral("C_CreateObject(hSes[%1], certificateTemplate, 8, &ho)").arg(slot),
                  pFunctionList->C_CreateObject(hSes[slot], certificateTemplate, 8, &ho));
}

void Pkcs11Manipulator::destroyCreated(int slot, std::vector<CK_OBJECT_HANDLE> const &created)
{
    for (auto ho = created.rbegin(); ho != created.rend(); ++ho)
        traced(QStringLiteral("C_DestroyObject(hSes[%1], ho)").arg(slot),
               pFunctionList->C_DestroyObject(hSes[slot], *ho));
}
