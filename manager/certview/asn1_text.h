// OpenSSL values as Qt text, the same way for every builder of the viewer.
#pragma once

#include <QString>

#include <openssl/asn1.h>

namespace Orvane::Certificate::asn1
{

// The dotted-decimal text of an object, cut to 255 characters; empty when OpenSSL
// cannot write it.
QString oidText(const ASN1_OBJECT *object);

// OpenSSL's long name of the object's NID; empty for an object OpenSSL does not know.
QString longName(const ASN1_OBJECT *object);

// An INTEGER of any size in decimal; empty for null.
QString integerText(const ASN1_INTEGER *integer);

// A character string converted to UTF-8 by OpenSSL; empty, with *ok false, when it
// does not convert (a null string, a type that is no character string, bad bytes).
QString utf8Text(const ASN1_STRING *string, bool *ok = nullptr);

} // namespace Orvane::Certificate::asn1
