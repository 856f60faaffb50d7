// The small enumerations the certificate viewer and its callers exchange as plain
// numbers: the form in which a text is wanted and the filter bits of an extension
// count. The sort key of an item list is nested in X509Cert. Every enumeration of
// the viewer is int-based, so any number a caller passes is a valid value.
#pragma once

// The form of a text. Each text builder serves only the forms it names and gives
// no text for the others.
enum eTextReturnType : int {
    TextPlain = 0,             // plain text, one line or a few lines
    TextRich = 1,              // an HTML fragment built from the viewer's templates
    TextRichLine = 2,          // one rich line: bold label and plain value
    TextShort = 3,             // the first non-empty value of a name
    TextMD5 = 4,               // MD5 fingerprint
    TextSHA1 = 5,              // SHA-1 fingerprint
    TextSHA256 = 6,            // SHA-256 fingerprint
    TextCPSPointer = 7,        // URI of the first CPS pointer of the certificate policies
    TextUserNotice = 8,        // explicit text of the first user notice of the policies
    TextFreshestCRLRich = 9,   // rich CRL distribution points under the freshest-CRL title
    TextFreshestCRLPlain = 10, // plain text of the same
    TextOID = 11,              // the OID text alone (unsupported extensions)
    TextDate = 12,             // date only
    TextDateTime = 13,         // date and time
};

// Conditions of an extension count; every set bit adds one, an item counts when it
// meets all of them.
enum eItemFilter : int {
    FilterAll = 1,
    FilterCritical = 2,
    FilterNoncritical = 4,
    FilterSupported = 8,
    FilterUnsupported = 16,
};
