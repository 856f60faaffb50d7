#include "core/p11_session.h"

#include <memory>
#include <new>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "core/core_support.h"
#include "core/default_attributes.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"
#include "crypto/digest.h"
#include "crypto/key_asymetric.h"
#include "objects/p11_data_object.h"
#include "objects/p11_object.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_secret_key.h"
#include "objects/p11_storage_object.h"
#include "objects/p11_x509_certificate.h"

namespace
{

using vok_core::ckaName;
using vok_core::rethrow;

// When source is a T: its copy, made by T's copy constructor, in copy.
template <class T>
bool copyAs(CP11StorageObject const &source, std::unique_ptr<CP11StorageObject> &copy)
{
    T const *typed = dynamic_cast<T const *>(&source);
    if (typed == nullptr)
        return false;
    copy.reset(new (std::nothrow) T(*typed));
    if (copy == nullptr)
        throw CP11Exception(CKR_HOST_MEMORY);
    return true;
}

// A copy that keeps the class of its source, and with it the class's attribute
// rules: a key made by C_CreateObject can be used like a generated one. The most
// derived classes are tried first.
std::unique_ptr<CP11StorageObject> copyOf(CP11StorageObject const &source)
{
    std::unique_ptr<CP11StorageObject> copy;
    copyAs<CP11RSAPrivateKey>(source, copy) || copyAs<CP11RSAPublicKey>(source, copy) ||
        copyAs<CP11SecretKey>(source, copy) || copyAs<CP11PrivateKey>(source, copy) ||
        copyAs<CP11PublicKey>(source, copy) || copyAs<CP11Key>(source, copy) ||
        copyAs<CP11X509Certificate>(source, copy) || copyAs<CP11Certificate>(source, copy) ||
        copyAs<CP11DataObject>(source, copy) || copyAs<CP11StorageObject>(source, copy);
    return copy;
}

int logLength(unsigned long length)
{
    return length > 0x7FFFFFFFUL ? 0x7FFFFFFF : (int)length;
}

} // namespace

CP11Session::CP11Session(CP11Token *token, unsigned long handle)
    : CP11Base(), m_searchTemplate(nullptr, 0), m_searchActive(false), m_token(token)
{
    hl_log(HL_ENTER, "CP11Session::CP11Session(%p,0x%.8lx)\n", (void *)token, handle);
    if (token == nullptr)
        rethrow("CP11Session::CP11Session", CKR_SLOT_ID_INVALID);
    using vok_core::DefaultAttribute;
    DefaultAttribute const defaults[] = {
        {"SESSION_A_ID", SESSION_A_ID, DefaultAttribute::LONG, handle},
        {"SESSION_A_STATE", SESSION_A_STATE, DefaultAttribute::LONG, 0},
        {"SESSION_A_FLAGS", SESSION_A_FLAGS, DefaultAttribute::LONG, 0},
        {"SESSION_A_BASE_OBJ_ID", SESSION_A_BASE_OBJ_ID, DefaultAttribute::LONG, 0},
        {"SESSION_A_LAST_OBJ_ID", SESSION_A_LAST_OBJ_ID, DefaultAttribute::LONG, 0},
    };
    if (!vok_core::pushDefaultAttributes(m_attributes, defaults)) {
        releaseAttributes();
        rethrow("CP11Session::CP11Session", CKR_HOST_MEMORY);
    }
    m_searchCursor = m_searchHandles.end();
}

CP11Session::~CP11Session()
{
    hl_log(HL_ENTER, "CP11Session::~CP11Session()\n");
    m_digestCtx.reset();
    m_signCtx.reset();
    m_verifyCtx.reset();
    m_encryptCtx.reset();
    m_decryptCtx.reset();
    m_searchTemplate.Clear();
    m_searchHandles.Clear();
    releaseObjects();
    m_puk.Clear();
    hl_log(HL_LEAVE, "CP11Session::~CP11Session( )\n");
}

void CP11Session::GetInfo(CK_SESSION_INFO *info)
{
    hl_log(HL_ENTER, "CP11Session::GetInfo(%p)\n", (void *)info);
    try {
        if (info == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        if (m_token == nullptr || m_token->GetSlot() == nullptr)
            throw CP11Exception(CKR_GENERAL_ERROR);
        info->slotID = m_token->GetSlot()->FindLongAttribute(SLOT_A_ID);
        info->state = FindLongAttribute(SESSION_A_STATE);
        info->flags = FindLongAttribute(SESSION_A_FLAGS);
        info->ulDeviceError = 0;
    } catch (CP11Exception &e) {
        rethrow("CP11Session::GetInfo", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::GetInfo( )\n");
}

void CP11Session::addObject(std::unique_ptr<CP11Object> object, unsigned long handle)
{
    object->SetHandle(handle);
    hl_log(HL_INFO, "Object(%p) handle :( 0x%.8lx )\n", (void *)object.get(), handle);
    unsigned int before = m_objects.Count();
    m_objects.PushBack(object.get());
    if (m_objects.Count() == before)
        throw CP11Exception(CKR_HOST_MEMORY);
    object.release(); // the list holds it now
    SetAttribute(SESSION_A_LAST_OBJ_ID, handle);
    m_token->sessionObjectHandleTaken(handle);
}

void CP11Session::PushObject(CP11Object *object, unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Session::PushObject(%p,%p)\n", (void *)object, (void *)handle);
    try {
        if (handle == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *handle = 0;
        CP11StorageObject *source = dynamic_cast<CP11StorageObject *>(object);
        if (source == nullptr || source->FindByteAttribute(CKA_TOKEN) != 0)
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        unsigned long next = m_token->nextSessionObjectHandle();
        addObject(copyOf(*source), next);
        *handle = next;
    } catch (CP11Exception &e) {
        rethrow("CP11Session::PushObject", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::PushObject( )\n");
}

void CP11Session::CopyObject(CP11Object *source, CK_ATTRIBUTE *templ, unsigned long count,
                             unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Session::CopyObject(%p,%p,0x%.8lx,%p)\n", (void *)source, (void *)templ,
           count, (void *)handle);
    try {
        if (handle == nullptr || (templ == nullptr && count != 0))
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *handle = 0;
        CP11StorageObject *from = dynamic_cast<CP11StorageObject *>(source);
        if (from == nullptr)
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        unsigned long next = m_token->nextSessionObjectHandle();
        std::unique_ptr<CP11StorageObject> copy = copyOf(*from);
        for (unsigned long i = 0; i < count; ++i)
            copy->SetAttribute(&templ[i], P11_OP_COPY);
        if (copy->FindByteAttribute(CKA_TOKEN) != 0)
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        addObject(std::move(copy), next);
        *handle = next;
    } catch (CP11Exception &e) {
        rethrow("CP11Session::CopyObject", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::CopyObject( )\n");
}

CP11Object *CP11Session::findObject(unsigned long handle) const
{
    for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it)
        if (*it != nullptr && (*it)->GetHandle() == handle)
            return *it;
    return nullptr;
}

CP11Object *CP11Session::GetObject(unsigned long handle)
{
    hl_log(HL_ENTER, "CP11Session::GetObject(0x%.8lx)\n", handle);
    CP11Object *object = findObject(handle);
    if (object == nullptr)
        rethrow("CP11Session::GetObject", CKR_OBJECT_HANDLE_INVALID);
    hl_log(HL_LEAVE, "CP11Token::GetObject( %p )\n", (void *)object);
    return object;
}

void CP11Session::DestroyObject(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Session::DestroyObject(%p)\n", (void *)object);
    try {
        bool found = false;
        for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it) {
            if (*it == object && object != nullptr) {
                m_objects.Erase(it);
                found = true;
                break;
            }
        }
        if (!found)
            throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
        delete object;
        if (m_objects.Count() == 0) {
            SetAttribute(SESSION_A_LAST_OBJ_ID, FindLongAttribute(SESSION_A_BASE_OBJ_ID));
            m_token->sessionObjectsReleased();
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Session::DestroyObject", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::DestroyObject( )\n");
}

void CP11Session::FindObjectsInit(CK_ATTRIBUTE *templ, unsigned long count)
{
    hl_log(HL_ENTER, "CP11Session::FindObjectsInit(%p,0x%.8lx)\n", (void *)templ, count);
    try {
        if (templ == nullptr && count != 0)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        if (m_searchActive)
            throw CP11Exception(CKR_OPERATION_ACTIVE);
        try {
            m_searchTemplate.Copy(count != 0 ? templ : nullptr, count);
        } catch (CP11Exception &) {
            m_searchTemplate.Clear();
            throw;
        }
        // The candidates: token objects first, then this session's objects,
        // then those of the token's other sessions, each in list order.
        m_searchHandles.Clear();
        CList<CP11Object *> const &tokenObjects = m_token->GetObjects();
        for (CList<CP11Object *>::Iterator it = tokenObjects.begin(); it != tokenObjects.end();
             ++it)
            if (*it != nullptr)
                m_searchHandles.PushBack((*it)->GetHandle());
        for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it)
            if (*it != nullptr)
                m_searchHandles.PushBack((*it)->GetHandle());
        CList<CP11Session *> const &sessions = m_token->GetSessions();
        for (CList<CP11Session *>::Iterator s = sessions.begin(); s != sessions.end(); ++s) {
            if (*s == nullptr || *s == this)
                continue;
            CList<CP11Object *> const &others = (*s)->GetObjects();
            for (CList<CP11Object *>::Iterator it = others.begin(); it != others.end(); ++it)
                if (*it != nullptr)
                    m_searchHandles.PushBack((*it)->GetHandle());
        }
        m_searchCursor = m_searchHandles.begin();
        m_searchActive = true;

        for (unsigned long i = 0; i < count; ++i) {
            hl_log(HL_INFO, "%s : [ 0x%.8lx ( %d ) ]\n", ckaName(templ[i].type),
                   templ[i].ulValueLen, logLength(templ[i].ulValueLen));
            incloglevel();
            if (templ[i].pValue != nullptr)
                hl_hd(HL_INFO, templ[i].pValue, logLength(templ[i].ulValueLen));
            decloglevel();
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Session::FindObjectsInit", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::FindObjectsInit( )\n");
}

void CP11Session::FindObjects(unsigned long *handles, unsigned long max, unsigned long *count)
{
    hl_log(HL_ENTER, "CP11Session::FindObjects(%p,0x%.8lx,%p)\n", (void *)handles, max,
           (void *)count);
    try {
        if (handles == nullptr || count == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *count = 0;
        if (!m_searchActive)
            throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
        unsigned long room = max;
        hl_log(HL_INFO, "Total token objects : ( 0x%.8lx )\n",
               (unsigned long)m_token->GetObjects().Count());
        hl_log(HL_INFO, "Total session objects : ( 0x%.8lx )\n", (unsigned long)m_objects.Count());
        while (room != 0 && m_searchCursor != m_searchHandles.end()) {
            unsigned long handle = *m_searchCursor;
            ++m_searchCursor;
            // Looked up again: an object destroyed since the search began is
            // skipped, and one changed since is matched as it is now.
            CP11Session *owner = nullptr;
            CP11Object *object = m_token->findObject(handle, &owner);
            if (object == nullptr || !object->Compare(&m_searchTemplate))
                continue;
            handles[(*count)++] = handle;
            --room;
            hl_log(HL_INFO,
                   owner == nullptr ? "Found token object : ( 0x%.8lx [ %lu ] )\n"
                                    : "Found session object : ( 0x%.8lx [ %lu ] )\n",
                   handle, handle);
        }
        hl_log(HL_INFO, "Found object count: ( 0x%.8lx )\n", *count);
    } catch (CP11Exception &e) {
        rethrow("CP11Session::FindObjects", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::FindObjects( )\n");
}

void CP11Session::FindObjectsFinal()
{
    hl_log(HL_ENTER, "CP11Session::FindObjectsFinal()\n");
    try {
        if (!m_searchActive)
            throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
        m_searchTemplate.Clear();
        m_searchHandles.Clear();
        m_searchCursor = m_searchHandles.end();
        m_searchActive = false;
    } catch (CP11Exception &e) {
        rethrow("CP11Session::FindObjectsFinal", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::FindObjectsFinal( )\n");
}

void CP11Session::Logout()
{
    hl_log(HL_ENTER, "CP11Session::Logout()\n");
    CList<CP11Object *>::Iterator it = m_objects.begin();
    while (it != m_objects.end()) {
        CList<CP11Object *>::Iterator current = it;
        ++it;
        CP11Object *object = *current;
        if (object == nullptr || object->FindByteAttribute(CKA_PRIVATE) != 1)
            continue;
        hl_log(HL_INFO, "Object(%p) handle[ 0x%.8lx ( %lu ) ] released\n", (void *)object,
               object->GetHandle(), object->GetHandle());
        m_objects.Erase(current);
        delete object;
    }
    hl_log(HL_LEAVE, "CP11Session::Logout( )\n");
}

void CP11Session::releaseObjects()
{
    hl_log(HL_ENTER, "CP11Session::releaseObjects(%p)\n", (void *)this);
    CList<CP11Object *>::Iterator it = m_objects.begin();
    while (it != m_objects.end()) {
        CList<CP11Object *>::Iterator current = it;
        ++it;
        CP11Object *object = *current;
        m_objects.Erase(current);
        if (object != nullptr) {
            hl_log(HL_INFO, "Object(%p) handle[ 0x%.8lx ( %lu ) ] released\n", (void *)object,
                   object->GetHandle(), object->GetHandle());
            delete object;
        }
    }
    hl_log(HL_LEAVE, "CP11Session::releaseObjects( )\n");
}

void CP11Session::PukSet(unsigned char *puk, unsigned long length)
{
    if (puk == nullptr && length == 0) {
        m_puk.Clear();
        return;
    }
    if (puk == nullptr || length == 0 || length > 0xFFFFFFFFUL)
        throw CP11Exception(CKR_DATA_INVALID);
    if (!m_puk.Set(puk, (unsigned int)length))
        throw CP11Exception(CKR_HOST_MEMORY);
}
