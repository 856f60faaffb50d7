// Creating and copying objects on the identity-card token: the new object is
// built by the object model's rules for the operation and kept by the session,
// or handed to the card by its class (a data file, a certificate or public key
// for an existing container, a private key into a new one).
//
// Invariants:
// - No object of any kind is created in a read-only session; a token object, and
//   any private object, needs the user or the security officer logged in.
// - The container-name entry of a creation template only names the container a
//   certificate or public key goes into; it never becomes an attribute.
// - The object built here is freed on every way out, and the private RSA
//   components it or its template copy held are zeroed first.
#include <memory>
#include <vector>

#include <mbedtls/platform_util.h>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "channel/channel_locker.h"
#include "core/p11_session.h"
#include "objects/p11_data_object.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_template.h"
#include "objects/p11_x509_certificate.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;

namespace
{

void wipeComponents(CP11Base *bag)
{
    if (bag == nullptr)
        return;
    for (unsigned long type : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1,
                               CKA_EXPONENT_2, CKA_COEFFICIENT}) {
        CAttribute *a = bag->findAttribute(type);
        if (a == nullptr || a->GetValue() == nullptr)
            continue;
        mbedtls_platform_zeroize(const_cast<void *>(a->GetValue()), a->GetSize());
        a->Modify((void const *)nullptr, 0);
    }
}

void transferAttributes(CP11Object *to, CP11Object *from)
{
    unsigned long count = 0;
    if (!from->GetAttributes((unsigned long *)nullptr, &count))
        throw CP11Exception(CKR_HOST_MEMORY);
    std::vector<unsigned long> types(count);
    if (count != 0 && !from->GetAttributes(types.data(), &count))
        throw CP11Exception(CKR_HOST_MEMORY);
    for (unsigned long type : types) {
        CAttribute *target = to->findAttribute(type);
        CAttribute const *source = from->findAttribute(type);
        if (target != nullptr && source != nullptr)
            *target = *source;
    }
}

// An object or template that may hold private key components: they are zeroed
// before it goes.
struct WipeFirst {
    void operator()(CP11Object *object) const
    {
        wipeComponents(object);
        delete object;
    }
};
using Built = std::unique_ptr<CP11Object, WipeFirst>;

struct WipedTemplate : CP11Template {
    WipedTemplate(CK_ATTRIBUTE *templ, unsigned long count) : CP11Template(templ, count) {}
    ~WipedTemplate() override { wipeComponents(this); }
};

// A new, empty object of a class the token creates; NULL for another.
CP11Object *newObjectOf(unsigned long cls)
{
    switch (cls) {
    case CKO_DATA:
        return new CP11DataObject();
    case CKO_CERTIFICATE:
        return new CP11X509Certificate();
    case CKO_PUBLIC_KEY:
        return new CP11RSAPublicKey();
    case CKO_PRIVATE_KEY:
        return new CP11RSAPrivateKey();
    default:
        return nullptr;
    }
}

// A copy of the object as T: by T's copy constructor when it is one, else a new T
// given the object's attributes.
template <typename T> CP11Object *copyAs(CP11Object *object)
{
    if (T *same = dynamic_cast<T *>(object))
        return new T(*same);
    std::unique_ptr<T> copy(new T());
    transferAttributes(copy.get(), object);
    copy->SetHandle(object->GetHandle());
    return copy.release();
}

// Classes whose template must name a key type or a certificate type: the code for
// a template without it and for one with another.
void requireType(CP11Template &templ, unsigned long type, unsigned long wanted, char const *name,
                 unsigned long otherCode)
{
    bool found = false;
    unsigned long value = templ.FindLongAttribute(type, &found);
    if (found && value == wanted)
        return;
    hl_log(HL_ERROR, "Unexpected '%s' attribute value.\n", name);
    throw CP11Exception(found ? otherCode : CKR_TEMPLATE_INCOMPLETE);
}

} // namespace

void CP11Token_eiD::applyTemplate(CP11Object *object, CK_ATTRIBUTE *templ, unsigned long count,
                                  P11Operation operation, CBlob *name)
{
    for (unsigned long i = 0; i < count; ++i) {
        CK_ATTRIBUTE *entry = &templ[i];
        if (name != nullptr && entry->type == CKA_OBJECT_CONTAINER_NAME) {
            if ((entry->pValue == nullptr) != (entry->ulValueLen == 0) ||
                entry->ulValueLen > 0xFFFFFFFFUL)
                throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
            if (entry->ulValueLen == 0)
                name->Clear();
            else if (!name->Set(entry->pValue, (unsigned)entry->ulValueLen))
                throw CP11Exception(CKR_HOST_MEMORY);
            continue;
        }
        if (entry->type == CKA_HIDDEN || entry->type == CKA_USER_ID ||
            entry->type == CKA_USER_FLAGS) {
            hl_log(HL_ERROR, "Unknown or unsupported attribute [ %s ( 0x%.8lx ) ]!\n",
                   CP11Convert::CKA2String(entry->type) != nullptr
                       ? CP11Convert::CKA2String(entry->type)
                       : "?",
                   entry->type);
            throw CP11Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        }
        object->SetAttribute(entry, operation);
    }
}

CP11Object *CP11Token_eiD::classCopy(CP11Object *object)
{
    switch (object->FindLongAttribute(CKA_CLASS)) {
    case CKO_DATA:
        return copyAs<CP11DataObject>(object);
    case CKO_CERTIFICATE:
        if (object->FindLongAttribute(CKA_CERTIFICATE_TYPE) != CKC_X_509)
            return nullptr;
        return copyAs<CP11X509Certificate>(object);
    case CKO_PUBLIC_KEY:
        return copyAs<CP11RSAPublicKey>(object);
    case CKO_PRIVATE_KEY:
        return copyAs<CP11RSAPrivateKey>(object);
    default:
        return nullptr;
    }
}

void CP11Token_eiD::copyAttributes(CP11Object *to, CP11Object *from)
{
    transferAttributes(to, from);
}

void CP11Token_eiD::wipePrivateComponents(CP11Base *bag)
{
    wipeComponents(bag);
}

void CP11Token_eiD::CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                                 unsigned long *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CreateObject(0x%.8lx,%p,0x%.8lx,%p)\n", session, (void *)templ,
           count, (void *)object);
    deviceFrame("CreateObject", [&] {
        if (object == nullptr || templ == nullptr || count == 0)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        unsigned long state = 0;
        CP11Session *s = writableSession(session, &state);
        WipedTemplate scratch(templ, count);
        bool found = false;
        unsigned long cls = scratch.FindLongAttribute(CKA_CLASS, &found);
        if (!found)
            throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
        bool key = cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY;
        if (key)
            requireType(scratch, CKA_KEY_TYPE, CKK_RSA, "CKA_KEY_TYPE", CKR_KEY_TYPE_INCONSISTENT);
        if (cls == CKO_CERTIFICATE)
            requireType(scratch, CKA_CERTIFICATE_TYPE, CKC_X_509, "CKA_CERTIFICATE_TYPE",
                        CKR_ATTRIBUTE_VALUE_INVALID);
        if (trustable(cls) && scratch.FindByteAttribute(CKA_TRUSTED) != 0 &&
            state != CKS_RW_SO_FUNCTIONS) {
            hl_log(HL_ERROR, "Attribute [ %s ] can not be set!\n", "CKA_TRUSTED");
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        Built made(newObjectOf(cls));
        if (made == nullptr)
            throw CP11Exception(CKR_ATTRIBUTE_TYPE_INVALID);
        CBlob name;
        applyTemplate(made.get(), templ, count, P11_OP_CREATE, &name);
        if (key && scratch.findAttribute(CKA_ALLOWED_MECHANISMS) == nullptr)
            setAllowedMechanisms(made.get(), cls == CKO_PUBLIC_KEY ? PUBLIC_KEY_MECHANISMS
                                                                   : PRIVATE_KEY_MECHANISMS);
        made->Verify(P11_OP_CREATE);
        bool token = made->FindByteAttribute(CKA_TOKEN) != 0;
        if ((token || made->FindByteAttribute(CKA_PRIVATE) != 0) && !loggedInReadWrite(state))
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        if (!token) {
            fillObject(made.get());
            s->PushObject(made.get(), object);
            return;
        }
        CChannelLocker locker(channel(), m_connection);
        CAuthenticatorWorker worker(m_authenticator);
        pushObject(made.get(), name.GetSize() != 0 ? &name : nullptr, object);
        updateTokenMemoryInfo();
        updateObjects(true);
        worker.Close();
    });
}

void CP11Token_eiD::CopyObject(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                               unsigned long count, unsigned long *newObject)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CopyObject(0x%.8lx,0x%.8lx,%p,0x%.8lx,%p)\n", session, object,
           (void *)templ, count, (void *)newObject);
    deviceFrame("CopyObject", [&] {
        if (newObject == nullptr || templ == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *newObject = 0;
        unsigned long state = 0;
        CP11Session *s = writableSession(session, &state);
        CP11Object *source = objectOf(object);
        WipedTemplate scratch(templ, count);
        bool found = false;
        unsigned char tokenValue = scratch.FindByteAttribute(CKA_TOKEN, &found);
        bool token = found ? tokenValue != 0 : source->FindByteAttribute(CKA_TOKEN) != 0;
        if ((token || source->FindByteAttribute(CKA_PRIVATE) != 0) && !loggedInReadWrite(state))
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        unsigned long cls = source->FindLongAttribute(CKA_CLASS);
        if (trustable(cls) && source->FindByteAttribute(CKA_TRUSTED) != 0 &&
            state != CKS_RW_SO_FUNCTIONS) {
            hl_log(HL_ERROR, "Attribute [ %s ] can not be set!\n", "CKA_TRUSTED");
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        if ((object & SESSION_OBJECT_HANDLE_BASE) == 0 && cls == CKO_PRIVATE_KEY) {
            hl_log(HL_ERROR, "Unsupported operation for private token object.\n");
            throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
        }
        if (token && cls == CKO_PUBLIC_KEY) {
            hl_log(HL_ERROR, "Unsupported operation for public token object.\n");
            throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
        }
        Built copy(classCopy(source));
        if (copy == nullptr)
            throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
        applyTemplate(copy.get(), templ, count, P11_OP_COPY);
        copy->Verify(P11_OP_COPY);
        if (!token) {
            s->PushObject(copy.get(), newObject);
            return;
        }
        CChannelLocker locker(channel(), m_connection);
        CAuthenticatorWorker worker(m_authenticator);
        pushObject(copy.get(), nullptr, newObject);
        updateTokenMemoryInfo();
        updateObjects(true);
        worker.Close();
    });
}

void CP11Token_eiD::pushObject(CP11Object *object, CBlob *name, unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Token_eiD::pushObject(%p,%p,%p)\n", (void *)object, (void *)name,
           (void *)handle);
    frame(
        "pushObject",
        [&] {
            switch (object->FindLongAttribute(CKA_CLASS)) {
            case CKO_DATA:
                pushDataObject(object, handle);
                break;
            case CKO_CERTIFICATE:
                pushCertificate(object, name, handle);
                break;
            case CKO_PUBLIC_KEY:
                pushPublicKey(object, name, handle);
                break;
            case CKO_PRIVATE_KEY:
                pushPrivateKey(object, handle); // always into a new container
                break;
            default:
                throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
            }
        },
        true);
}
