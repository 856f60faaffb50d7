#include "token/p11_token_eid.h"

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"

CP11Token_eiD::CP11Token_eiD(CP11Slot *slot) : CP11Token(slot)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CP11Token_eiD(%p)\n", (void *)slot);
    try {
        SetAttribute(TOKEN_A_LABEL, "vOK RAL", (unsigned long)-1);
        SetAttribute(TOKEN_A_MAX_SESSIONS, 16UL);
        SetAttribute(TOKEN_A_MAX_RW_SESSIONS, 16UL);
        SetAttribute(TOKEN_A_PKCS11_FLAGS,
                     (unsigned long)(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED));
    } catch (CP11Exception &e) {
        char const *name = CP11Convert::CKR2String(e.GetErrorCode());
        decloglevel();
        hl_log(HL_EXCEPTION, "CP11Token_eiD::CP11Token_eiD( 0x%.8lX - %s )\n", e.GetErrorCode(),
               name != nullptr ? name : vok_log::NULL_TEXT);
        throw;
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::CP11Token_eiD()\n");
}

CP11Token_eiD::~CP11Token_eiD() {}

bool CP11Token_eiD::IsKnown()
{
    hl_log(HL_ENTER, "CP11Token_eiD::IsKnown()\n");
    // The card application layer is not part of the module yet: no card is
    // recognised.
    hl_log(HL_LEAVE, "CP11Token_eiD::IsKnown( %s )\n", "NO");
    return false;
}
