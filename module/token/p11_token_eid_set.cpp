// Changing attributes of an object of the identity-card token: all the template or
// nothing, by the object model's rules for a change, and for a token object the
// file that stores its attributes rewritten (its data file, or the attribute file
// of its container).
//
// Invariants:
// - The template is applied to a copy of the object first; the object itself
//   takes the copy's values only once every entry was accepted and, for a token
//   object, the card has accepted the rewritten file. A refusal anywhere leaves
//   the object as it was, so that it always reads as the card holds it.
// - CKA_MODIFIABLE FALSE refuses every change; a trusted certificate or public
//   key changes only for the security officer.
#include <memory>

#include "base/linux/linux_log.h"
#include "channel/channel_locker.h"
#include "core/p11_session.h"
#include "objects/p11_container.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;

void CP11Token_eiD::SetAttributeValue(unsigned long session, unsigned long object,
                                      CK_ATTRIBUTE *templ, unsigned long count)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SetAttributeValue(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", session,
           object, (void *)templ, count);
    deviceFrame("SetAttributeValue", [&] {
        if (templ == nullptr || count == 0)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        unsigned long state = 0;
        writableSession(session, &state);
        CP11Object *target = objectOf(object);
        if (target->FindByteAttribute(CKA_MODIFIABLE) == 0) {
            hl_log(HL_ERROR,
                   "Object function not permited ( 'CKA_MODIFIABLE' not set to TRUE ).\n");
            throw CP11Exception(CKR_ATTRIBUTE_READ_ONLY);
        }
        bool tokenObject = (object & SESSION_OBJECT_HANDLE_BASE) == 0;
        if ((tokenObject || target->FindByteAttribute(CKA_PRIVATE) != 0) &&
            !loggedInReadWrite(state))
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        unsigned long cls = target->FindLongAttribute(CKA_CLASS);
        if (trustable(cls) && target->FindByteAttribute(CKA_TRUSTED) != 0 &&
            state != CKS_RW_SO_FUNCTIONS) {
            hl_log(HL_ERROR, "Attribute [ %s ] can not be modified!\n", "CKA_TRUSTED");
            throw CP11Exception(CKR_ATTRIBUTE_READ_ONLY);
        }
        std::unique_ptr<CP11Object> scratch(classCopy(target));
        if (scratch == nullptr)
            throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
        applyTemplate(scratch.get(), templ, count, P11_OP_SET);
        if (!tokenObject) {
            copyAttributes(target, scratch.get());
            return;
        }
        CChannelLocker locker(channel(), m_connection);
        CAuthenticatorWorker worker(m_authenticator);
        if (cls == CKO_DATA)
            writeDataObject(scratch.get(), false);
        else
            writeContainerFileWith(findContainer(object, true), scratch.get());
        copyAttributes(target, scratch.get());
        updateTokenMemoryInfo();
        worker.Close();
    });
}
