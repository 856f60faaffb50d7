// The attributes the card does not store, derived when the token builds its
// objects: a certificate's fields, check value and CKA_ID (the SHA-1 of its RSA
// modulus), and a key's CKA_ID (the SHA-1 of its modulus, so that a key and its
// certificate share it) and modulus size.
#include <cstring>
#include <memory>

#include "asn1/asn_cert.h"
#include "base/linux/linux_log.h"
#include "crypto/digest.h"
#include "objects/p11_object.h"
#include "token/p11_token_eid.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;

namespace
{

// Sets an attribute as the token's own write.
void setInternal(CP11Object *object, unsigned long type, void const *value, unsigned long length)
{
    CK_ATTRIBUTE a = {type, const_cast<void *>(value), length};
    object->SetAttribute(&a, P11_OP_INTERNAL);
}

bool hasValue(CP11Object *object, unsigned long type)
{
    unsigned long length = 0;
    return object->FindBinaryAttribute(type, &length) != nullptr && length != 0;
}

// Sets a derived value (logged under its name) unless it is empty.
void fill(CP11Object *object, unsigned long type, char const *name,
          std::vector<unsigned char> const &value)
{
    if (value.empty())
        return;
    setInternal(object, type, value.data(), value.size());
    hl_log(HL_DEBUG, "Filled '%s' attribute value :\n", name);
    vok_log::incloglevel();
    hl_hd(HL_DEBUG, value.data(), (int)value.size());
    vok_log::decloglevel();
}

std::vector<unsigned char> sha1(void const *data, unsigned long length)
{
    std::vector<unsigned char> digest(20);
    CSHA1 hash;
    hash.Hash(data, length);
    hash.Get(digest.data(), CDigest::FORM_RAW);
    return digest;
}

using CertContext = std::unique_ptr<_asn_cert_ctx_t, int32_t (*)(_asn_cert_ctx_t *)>;

// A field of the certificate, empty when it has none.
std::vector<unsigned char> field(_asn_cert_ctx_t const *ctx, uint32_t id)
{
    int32_t size = asn_cert_ctx_get_attribute(ctx, id, nullptr);
    if (size <= 0)
        return {};
    std::vector<unsigned char> value((size_t)size);
    if (asn_cert_ctx_get_attribute(ctx, id, value.data()) != size)
        return {};
    return value;
}

// A date of the certificate as CK_DATE: the year, month and day of its text.
std::vector<unsigned char> date(_asn_cert_ctx_t const *ctx, uint32_t id)
{
    std::vector<unsigned char> text = field(ctx, id);
    if (text.size() < 8)
        return {};
    text.resize(8);
    return text;
}

// CKA_ID of the certificate: the SHA-1 of its RSA modulus.
std::vector<unsigned char> modulusId(_asn_cert_ctx_t const *ctx)
{
    std::vector<unsigned char> record = field(ctx, ASN_CERT_RSA_KEY);
    if (record.size() < sizeof(asn_cert_rsa_key_t))
        return {};
    asn_cert_rsa_key_t key;
    std::memcpy(&key, record.data(), sizeof(key));
    if (key.modulus_length == 0 || key.modulus_length > record.size() - sizeof(key))
        return {};
    return sha1(record.data() + sizeof(key), (unsigned long)key.modulus_length);
}

} // namespace

void CP11Token_eiD::fillObject(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::fillObject(%p)\n", (void *)object);
    frame(
        "fillObject",
        [&] {
            switch (object->FindLongAttribute(CKA_CLASS)) {
            case CKO_DATA:
                fillDataObject(object);
                break;
            case CKO_CERTIFICATE:
                fillCertificate(object);
                break;
            case CKO_PUBLIC_KEY:
                fillPublicKey(object);
                break;
            case CKO_PRIVATE_KEY:
                fillPrivateKey(object);
                break;
            default:
                throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
            }
        },
        true);
}

void CP11Token_eiD::fillCertificate(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::fillCertificate(%p)\n", (void *)object);
    frame(
        "fillCertificate",
        [&] {
            unsigned long length = 0;
            auto const *value =
                static_cast<unsigned char const *>(object->FindBinaryAttribute(CKA_VALUE, &length));
            if (value == nullptr || length == 0) {
                hl_log(HL_ERROR, "Unexpected 'CKA_VALUE' attribute value.\n");
                throw CP11Exception(CKR_DATA_INVALID);
            }
            _asn_cert_ctx_t *parsed = nullptr;
            if (length > 0x7FFFFFFFUL || asn_cert_ctx_init(value, (uint32_t)length, &parsed) < 0) {
                hl_log(HL_ERROR, "Invalid 'CKA_VALUE' attribute value.\n");
                vok_log::incloglevel();
                hl_hd(HL_ERROR, value, length > 0x7FFFFFFFUL ? 0x7FFFFFFF : (int)length);
                vok_log::decloglevel();
                throw CP11Exception(CKR_DATA_INVALID);
            }
            CertContext ctx(parsed, asn_cert_ctx_final);
            unsigned long category = 0;
            setInternal(object, CKA_CERTIFICATE_CATEGORY, &category, sizeof(category));

            struct Derived {
                unsigned long type;
                char const *name;
                std::vector<unsigned char> value;
            };
            std::vector<unsigned char> digest = sha1(value, length);
            bool x509 = object->FindLongAttribute(CKA_CERTIFICATE_TYPE) == CKC_X_509;
            Derived const derived[] = {
                {CKA_CHECK_VALUE, "CKA_CHECK_VALUE", {digest.begin(), digest.begin() + 3}},
                {CKA_ID, "CKA_ID", x509 ? modulusId(ctx.get()) : std::vector<unsigned char>()},
                {CKA_ISSUER, "CKA_ISSUER", field(ctx.get(), ASN_CERT_ISSUER)},
                {CKA_SUBJECT, "CKA_SUBJECT", field(ctx.get(), ASN_CERT_SUBJECT)},
                {CKA_SERIAL_NUMBER, "CKA_SERIAL_NUMBER", field(ctx.get(), ASN_CERT_SERIAL)},
                {CKA_START_DATE, "CKA_START_DATE", date(ctx.get(), ASN_CERT_NOT_BEFORE)},
                {CKA_END_DATE, "CKA_END_DATE", date(ctx.get(), ASN_CERT_NOT_AFTER)},
                {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, "CKA_HASH_OF_SUBJECT_PUBLIC_KEY",
                 field(ctx.get(), ASN_CERT_SUBJECT_KEY_ID)},
                {CKA_HASH_OF_ISSUER_PUBLIC_KEY, "CKA_HASH_OF_ISSUER_PUBLIC_KEY",
                 field(ctx.get(), ASN_CERT_AUTHORITY_KEY_ID)},
            };
            for (Derived const &d : derived)
                if (!hasValue(object, d.type))
                    fill(object, d.type, d.name, d.value);
        },
        true);
}

void CP11Token_eiD::fillPublicKey(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::fillPublicKey(%p)\n", (void *)object);
    frame(
        "fillPublicKey",
        [&] {
            fillKeyId(object);
            if (object->FindLongAttribute(CKA_MODULUS_BITS) == 0) {
                unsigned long length = 0;
                object->FindBinaryAttribute(CKA_MODULUS, &length);
                unsigned long bits = length * 8;
                setInternal(object, CKA_MODULUS_BITS, &bits, sizeof(bits));
            }
        },
        true);
}

void CP11Token_eiD::fillPrivateKey(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::fillPrivateKey(%p)\n", (void *)object);
    frame(
        "fillPrivateKey", [&] { fillKeyId(object); }, true);
}

void CP11Token_eiD::fillKeyId(CP11Object *object)
{
    if (hasValue(object, CKA_ID))
        return;
    unsigned long length = 0;
    void const *modulus = object->FindBinaryAttribute(CKA_MODULUS, &length);
    if (modulus != nullptr && length != 0)
        fill(object, CKA_ID, "CKA_ID", sha1(modulus, length));
}
