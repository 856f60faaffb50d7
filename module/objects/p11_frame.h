// Log helpers shared by the object classes' method frames and error lines.
#pragma once

#include <p11-kit/pkcs11.h>

#include "asn1/asn_der.h"
#include "asn1/asn_item.h"
#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"

namespace p11_frame
{

// Name of a return code for the log; never NULL.
inline char const *rvName(unsigned long rv)
{
    char const *name = CP11Convert::CKR2String(rv);
    return name != nullptr ? name : vok_log::NULL_TEXT;
}

// Name of an attribute type for the log; never NULL.
inline char const *ckaName(unsigned long type)
{
    char const *name = CP11Convert::CKA2String(type);
    return name != nullptr ? name : vok_log::NULL_TEXT;
}

// Leaves a method frame by an exception: lowers the nesting level, writes the
// exception line (fmt takes the code and its name) and throws the code on.
[[noreturn]] inline void rethrow(char const *fmt, CP11Exception const &e)
{
    vok_log::decloglevel();
    vok_log::hl_log(0x10, fmt, e.GetErrorCode(), rvName(e.GetErrorCode()));
    throw CP11Exception(e.GetErrorCode());
}

// The exception line without a frame of its own (no enter line to undo).
[[noreturn]] inline void raiseLogged(char const *fmt, unsigned long rv)
{
    vok_log::hl_log(0x10, fmt, rv, rvName(rv));
    throw CP11Exception(rv);
}

// A Verify check that failed: the attribute's name, then the checked value one
// nesting level deeper.
[[noreturn]] inline void valueInvalid(unsigned long type, void const *value, int length,
                                      unsigned long rv)
{
    vok_log::hl_log(8, "Attribute [ %s ] value invalid !\n", ckaName(type));
    vok_log::incloglevel();
    vok_log::hl_hd(8, value, length);
    vok_log::decloglevel();
    throw CP11Exception(rv);
}

// A Verify check of presence that failed: "value NULL" when a required value is
// missing, "value NOT NULL" when a value that must be absent is there.
[[noreturn]] inline void presenceInvalid(unsigned long type, bool present)
{
    vok_log::hl_log(8, "Attribute [ %s ] value %sNULL !\n", ckaName(type), present ? "NOT " : "");
    throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
}

// True when a non-empty value reads as a list of complete DER items (an empty
// value is not checked). A failure is logged as an error, or as a warning when
// the caller recovers from it.
inline bool isDer(CK_ATTRIBUTE const *attribute, bool warnOnly)
{
    if (attribute->pValue == nullptr || attribute->ulValueLen == 0)
        return true;
    _asn_t *tree = nullptr;
    if (attribute->ulValueLen <= 0x7FFFFFFFUL)
        tree = asn_read((unsigned char const *)attribute->pValue, (uint32_t)attribute->ulValueLen,
                        nullptr);
    if (tree != nullptr) {
        asn_item_free(tree);
        return true;
    }
    vok_log::hl_log(warnOnly ? 4 : 8, "Attribute [ %s ] invalid DER encoded data (%p,0x%.8x)!\n",
                    ckaName(attribute->type), attribute->pValue, attribute->ulValueLen);
    vok_log::incloglevel();
    vok_log::hl_hd(warnOnly ? 4 : 8, attribute->pValue,
                   attribute->ulValueLen > 0x7FFFFFFFUL ? 0x7FFFFFFF : (int)attribute->ulValueLen);
    vok_log::decloglevel();
    return false;
}

} // namespace p11_frame
