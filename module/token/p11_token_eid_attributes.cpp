// Attribute reading and object search on the identity-card token. Only visible
// objects are found: hidden card objects never, private ones only while the
// user is logged in. Handle 0 stands for the token itself, which has vendor
// attributes only.
#include <vector>

#include "base/linux/linux_log.h"
#include "core/p11_session.h"
#include "objects/p11_object.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;

namespace
{

bool vendorType(unsigned long type)
{
    return (type & CKA_VENDOR_DEFINED) != 0;
}

} // namespace

CP11Object *CP11Token_eiD::objectOf(unsigned long handle)
{
    if ((handle & SESSION_OBJECT_HANDLE_BASE) == 0)
        return GetObject(handle);
    // a session object belongs to one session and is seen by all of them
    CP11Object *object = findObject(handle);
    if (object == nullptr)
        throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
    return object;
}

void CP11Token_eiD::GetAttributeValue(unsigned long session, unsigned long object,
                                      CK_ATTRIBUTE *templ, unsigned long count)
{
    hl_log(HL_ENTER, "CP11Token_eiD::GetAttributeValue(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", session,
           object, (void *)templ, count);
    deviceFrame("GetAttributeValue", [&] {
        if (templ == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        GetSession(session);
        CP11Object *target = nullptr;
        if (object == 0) {
            for (unsigned long i = 0; i < count; ++i)
                if (!vendorType(templ[i].type))
                    throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
        } else {
            target = objectOf(object);
        }
        // Every entry is answered; a failed one is marked unavailable and the
        // first failure is the result.
        unsigned long rv = CKR_OK;
        for (unsigned long i = 0; i < count; ++i) {
            try {
                if (vendorType(templ[i].type))
                    getVendorAttribute(target, &templ[i]);
                else
                    target->GetAttribute(&templ[i]);
            } catch (CP11Exception &e) {
                templ[i].ulValueLen = CK_UNAVAILABLE_INFORMATION;
                if (rv == CKR_OK)
                    rv = e.GetErrorCode();
            }
        }
        if (rv != CKR_OK)
            throw CP11Exception(rv);
    });
}

void CP11Token_eiD::GetObjectSize(unsigned long session, unsigned long object, unsigned long *size)
{
    hl_log(HL_ENTER, "CP11Token_eiD::GetObjectSize(0x%.8lx,0x%.8lx,%p)\n", session, object,
           (void *)size);
    deviceFrame("GetObjectSize", [&] {
        if (size == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *size = 0;
        GetSession(session);
        *size = objectOf(object)->GetSize();
    });
}

void CP11Token_eiD::FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count)
{
    hl_log(HL_ENTER, "CP11Token_eiD::FindObjectsInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)templ,
           count);
    deviceFrame("FindObjectsInit", [&] { GetSession(session)->FindObjectsInit(templ, count); });
}

void CP11Token_eiD::FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                                unsigned long *count)
{
    hl_log(HL_ENTER, "CP11Token_eiD::FindObjects(0x%.8lx,%p,0x%.8lx,%p)\n", session,
           (void *)objects, max, (void *)count);
    deviceFrame("FindObjects", [&] { GetSession(session)->FindObjects(objects, max, count); });
}

void CP11Token_eiD::FindObjectsFinal(unsigned long session)
{
    hl_log(HL_ENTER, "CP11Token_eiD::FindObjectsFinal(0x%.8lx)\n", session);
    deviceFrame("FindObjectsFinal", [&] { GetSession(session)->FindObjectsFinal(); });
}

void CP11Token_eiD::setAllowedMechanisms(CP11Object *key, unsigned long mask)
{
    hl_log(HL_ENTER, "CP11Token_eiD::setAllowedMechanisms(%p,0x%.8lx)\n", (void *)key, mask);
    frame("setAllowedMechanisms", [&] {
        std::vector<CK_MECHANISM_TYPE> allowed;
        for (auto it = m_mechanisms.begin(); it != m_mechanisms.end(); ++it) {
            CK_MECHANISM_INFO info;
            GetMechanismInfo(*it, &info);
            if ((info.flags & mask) != 0)
                allowed.push_back(*it);
        }
        CK_ATTRIBUTE a = {CKA_ALLOWED_MECHANISMS, allowed.data(),
                          allowed.size() * sizeof(CK_MECHANISM_TYPE)};
        key->SetAttribute(&a, P11_OP_INTERNAL);
    });
}
