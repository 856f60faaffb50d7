#include "objects/p11_x509_certificate.h"

#include <cstdlib>

#include "asn1/asn_value.h"
#include "objects/p11_frame.h"

CP11X509Certificate::CP11X509Certificate() : CP11Certificate()
{
    try {
        CP11Base::SetAttribute(CKA_CERTIFICATE_TYPE, (unsigned long)CKC_X_509);
        addBinaryAttribute("CKA_ID", CKA_ID);
        addBinaryAttribute("CKA_SUBJECT", CKA_SUBJECT);
        addBinaryAttribute("CKA_ISSUER", CKA_ISSUER);
        addBinaryAttribute("CKA_SERIAL_NUMBER", CKA_SERIAL_NUMBER);
        addBinaryAttribute("CKA_VALUE", CKA_VALUE);
        addBinaryAttribute("CKA_HASH_OF_SUBJECT_PUBLIC_KEY", CKA_HASH_OF_SUBJECT_PUBLIC_KEY);
        addBinaryAttribute("CKA_HASH_OF_ISSUER_PUBLIC_KEY", CKA_HASH_OF_ISSUER_PUBLIC_KEY);
        addLongAttribute("CKA_JAVA_MIDP_SECURITY_DOMAIN", CKA_JAVA_MIDP_SECURITY_DOMAIN, 0);
        addStringAttribute("CKA_URL", CKA_URL);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11X509Certificate::CP11X509Certificate ", e);
    }
}

CP11X509Certificate::CP11X509Certificate(CP11X509Certificate const &other) : CP11Certificate(other)
{
}

CP11X509Certificate::~CP11X509Certificate() {}

bool CP11X509Certificate::setSerialNumber(CK_ATTRIBUTE *attribute)
{
    if (p11_frame::isDer(attribute, true))
        return setAttributeBinary(attribute);

    // The raw integer, kept positive by a leading 00 when its top bit is set.
    _asn_t *item = nullptr;
    if (attribute->ulValueLen < 0x7FFFFFF0UL)
        item = asn_encode(ASN_CLASS_UNIVERSAL, ASN_TAG_INTEGER, attribute->pValue,
                          (uint32_t)attribute->ulValueLen, asn_v_encode_int);
    if (item == nullptr)
        throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
    long size = Encode(item, nullptr, false);
    unsigned char *der = size > 0 ? (unsigned char *)std::malloc((size_t)size) : nullptr;
    if (der == nullptr) {
        asn_item_free(item);
        throw CP11Exception(size > 0 ? CKR_HOST_MEMORY : CKR_ATTRIBUTE_VALUE_INVALID);
    }
    Encode(item, der, true);
    CK_ATTRIBUTE wrapped = {attribute->type, der, (unsigned long)size};
    try {
        setAttributeBinary(&wrapped);
    } catch (...) {
        std::free(der);
        throw;
    }
    std::free(der);
    return true;
}

bool CP11X509Certificate::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    unsigned long const createOrInternal = P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_INTERNAL);
    switch (attribute->type) {
    case CKA_SUBJECT:
    case CKA_ISSUER:
    case CKA_VALUE:
        checkOperation(attribute, operation, createOrInternal);
        if (!p11_frame::isDer(attribute, false))
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        return setAttributeBinary(attribute);
    case CKA_SERIAL_NUMBER:
        checkOperation(attribute, operation, createOrInternal);
        return setSerialNumber(attribute);
    case CKA_ID:
    case CKA_HASH_OF_SUBJECT_PUBLIC_KEY:
    case CKA_HASH_OF_ISSUER_PUBLIC_KEY:
        return setAttributeBinary(attribute);
    case CKA_JAVA_MIDP_SECURITY_DOMAIN:
        return setAttributeLong(attribute);
    case CKA_URL:
        return setAttributeString(attribute);
    default:
        return CP11Certificate::SetAttribute(attribute, operation);
    }
}

unsigned long CP11X509Certificate::GetSize()
{
    unsigned long counted[] = {CKA_ID,
                               CKA_SUBJECT,
                               CKA_ISSUER,
                               CKA_SERIAL_NUMBER,
                               CKA_VALUE,
                               CKA_HASH_OF_SUBJECT_PUBLIC_KEY,
                               CKA_HASH_OF_ISSUER_PUBLIC_KEY};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11Certificate::GetSize();
}

void CP11X509Certificate::Verify(P11Operation operation)
{
    unsigned long type = FindLongAttribute(CKA_CERTIFICATE_TYPE);
    if (type != CKC_X_509)
        p11_frame::valueInvalid(CKA_CERTIFICATE_TYPE, &type, sizeof(type),
                                CKR_TEMPLATE_INCONSISTENT);
    unsigned long size = 0;
    FindBinaryAttribute(CKA_VALUE, &size);
    if (size == 0)
        p11_frame::presenceInvalid(CKA_VALUE, false);
    unsigned long domain = FindLongAttribute(CKA_JAVA_MIDP_SECURITY_DOMAIN);
    if (domain >= 4)
        p11_frame::valueInvalid(CKA_JAVA_MIDP_SECURITY_DOMAIN, &domain, sizeof(domain),
                                CKR_TEMPLATE_INCONSISTENT);
    CP11Certificate::Verify(operation);
}

_asn_t *CP11X509Certificate::Encode()
{
    unsigned long excluded[] = {CKA_VALUE};
    bool token = FindByteAttribute(CKA_TOKEN) == 1;
    return EncodeEx(token ? excluded : nullptr, token ? 1 : 0);
}
