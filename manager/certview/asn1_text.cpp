// OpenSSL values as Qt text.
#include "certview/asn1_text.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace Orvane::Certificate::asn1
{

QString oidText(const ASN1_OBJECT *object)
{
    if (!object)
        return {};
    char buffer[256] = {};
    if (OBJ_obj2txt(buffer, sizeof(buffer), object, 1) <= 0)
        return {};
    return QString::fromUtf8(buffer);
}

QString longName(const ASN1_OBJECT *object)
{
    int nid = object ? OBJ_obj2nid(object) : NID_undef;
    const char *name = nid != NID_undef ? OBJ_nid2ln(nid) : nullptr;
    return name ? QString::fromUtf8(name) : QString();
}

QString integerText(const ASN1_INTEGER *integer)
{
    char *text = integer ? i2s_ASN1_INTEGER(nullptr, integer) : nullptr;
    QString decimal = QString::fromLatin1(text);
    OPENSSL_free(text);
    return decimal;
}

QString utf8Text(const ASN1_STRING *string, bool *ok)
{
    unsigned char *utf8 = nullptr;
    int length = string ? ASN1_STRING_to_UTF8(&utf8, string) : -1;
    if (ok)
        *ok = length >= 0;
    if (length < 0)
        return {};
    QString text = QString::fromUtf8(reinterpret_cast<const char *>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

} // namespace Orvane::Certificate::asn1
