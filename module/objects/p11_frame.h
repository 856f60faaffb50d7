// Log helpers shared by the object classes' method frames and error lines.
#pragma once

#include <p11-kit/pkcs11.h>

#include "asn1/asn_der.h"
#include "asn1/asn_item.h"
#include "base/linux/linux_log.h"
#include "base/p11_base.h"
#include "base/p11_log.h"

namespace p11_frame
{

using p11_log::ckaName;
using p11_log::raiseLogged;
using p11_log::rethrow;
using p11_log::rvName;

// The way out of a constructor whose default attributes could not all be made:
// what was made is released, then the exception line and the throw.
[[noreturn]] inline void constructionFailed(CP11Base &object, char const *where,
                                            CP11Exception const &e)
{
    object.releaseAttributes();
    raiseLogged(where, e.GetErrorCode());
}

// A Verify check that failed: the attribute's name, then the checked value one
// nesting level deeper.
[[noreturn]] inline void valueInvalid(unsigned long type, void const *value, int length,
                                      unsigned long rv)
{
    vok_log::hl_log(vok_log::HL_ERROR, "Attribute [ %s ] value invalid !\n", ckaName(type));
    vok_log::incloglevel();
    vok_log::hl_hd(vok_log::HL_ERROR, value, length);
    vok_log::decloglevel();
    throw CP11Exception(rv);
}

// A Verify check of presence that failed: "value NULL" when a required value is
// missing, "value NOT NULL" when a value that must be absent is there.
[[noreturn]] inline void presenceInvalid(unsigned long type, bool present)
{
    vok_log::hl_log(vok_log::HL_ERROR, "Attribute [ %s ] value %sNULL !\n", ckaName(type),
                    present ? "NOT " : "");
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
    vok_log::hl_log(warnOnly ? vok_log::HL_WARNING : vok_log::HL_ERROR,
                    "Attribute [ %s ] invalid DER encoded data (%p,0x%.8lx)!\n",
                    ckaName(attribute->type), attribute->pValue, attribute->ulValueLen);
    vok_log::incloglevel();
    vok_log::hl_hd(warnOnly ? vok_log::HL_WARNING : vok_log::HL_ERROR, attribute->pValue,
                   attribute->ulValueLen > 0x7FFFFFFFUL ? 0x7FFFFFFF : (int)attribute->ulValueLen);
    vok_log::decloglevel();
    return false;
}

} // namespace p11_frame
