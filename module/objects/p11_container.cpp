#include "objects/p11_container.h"

#include <new>

#include "asn1/asn_edit.h"
#include "asn1/asn_item.h"
#include "asn1/asn_nav.h"
#include "objects/p11_certificate.h"
#include "objects/p11_frame.h"
#include "objects/p11_private_key.h"
#include "objects/p11_public_key.h"
#include "objects/p11_template.h"

using vok_log::hl_log;

namespace
{

// Member tags inside a container element.
uint32_t const TAG_CERTIFICATE = 1;
uint32_t const TAG_PUBLIC_KEY = 2;
uint32_t const TAG_PRIVATE_KEY = 3;

bool isHidden(CP11Object const *object)
{
    return object != nullptr && object->FindByteAttribute(CKA_HIDDEN) != 0;
}

// Appends a detached member element; the element is freed when it cannot be.
void attachMember(_asn_t *container, _asn_t *member)
{
    if (member == nullptr)
        throw CP11Exception(CKR_HOST_MEMORY);
    if (asn_item_paste(container, member, 1, 0) != 1) {
        asn_item_free(member);
        throw CP11Exception(CKR_HOST_MEMORY);
    }
}

} // namespace

CP11Container::CP11Container(CP11PublicKey *publicKey, CP11PrivateKey *privateKey,
                             CP11Certificate *certificate)
    : CP11Base(), m_publicKey(publicKey), m_privateKey(privateKey), m_certificate(certificate)
{
    try {
        CAttribute *a = new (std::nothrow) CAttribute();
        addAttribute(a, a != nullptr &&
                            a->Set("CKA_CONTAINER_ID", CKA_CONTAINER_ID, (unsigned char)0xFF));
        a = new (std::nothrow) CAttribute();
        addAttribute(a, a != nullptr && a->Set("CKA_CONTAINER_TYPE", CKA_CONTAINER_TYPE, 0UL));
        a = new (std::nothrow) CAttribute();
        addAttribute(a, a != nullptr && a->Set("CKA_CONTAINER_LABEL", CKA_CONTAINER_LABEL,
                                               (char const *)nullptr));
        a = new (std::nothrow) CAttribute();
        addAttribute(a, a != nullptr && a->Set("CKA_CONTAINER_KEY_NUMBER", CKA_CONTAINER_KEY_NUMBER,
                                               (unsigned char)0xFF));
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11Container::CP11Container ", e);
    }
}

CP11Container::~CP11Container() {}

void CP11Container::addAttribute(CAttribute *attribute, bool ok)
{
    if (!adoptAttribute(attribute, ok))
        throw CP11Exception(CKR_HOST_MEMORY);
}

unsigned long CP11Container::GetObjectCount()
{
    unsigned long count = 0;
    CP11Object const *members[] = {m_certificate, m_publicKey, m_privateKey};
    for (CP11Object const *member : members)
        if (member != nullptr && !isHidden(member))
            ++count;
    return count;
}

// The container element with its members' storage forms: each member's own (no
// templates), or the attributes the member's template names. The exception path
// leaves by the Encode frame that called it.
_asn_t *CP11Container::encodeMembers(CP11Template *const *templates)
{
    _asn_t *element = nullptr;
    try {
        element = asn_item_new(ASN_CLASS_CONTEXT, ASN_CONSTRUCTED,
                               (uint32_t)FindLongAttribute(CKA_CONTAINER_TYPE), nullptr, 0);
        if (element == nullptr)
            throw CP11Exception(CKR_HOST_MEMORY);
        CP11Object *members[] = {m_certificate, m_publicKey, m_privateKey};
        for (int i = 0; i < 3; ++i) {
            if (members[i] == nullptr)
                continue;
            attachMember(element, templates == nullptr
                                      ? members[i]->Encode()
                                      : members[i]->CP11Object::Encode(templates[i]));
        }
    } catch (CP11Exception const &e) {
        asn_item_free(element);
        p11_frame::rethrow("CP11Container::Encode ", e);
    }
    return element;
}

_asn_t *CP11Container::Encode()
{
    hl_log(HL_ENTER, "CP11Container::Encode()\n");
    _asn_t *element = encodeMembers(nullptr);
    hl_log(HL_LEAVE, "CP11Container::Encode( %p )\n", (void *)element);
    return element;
}

_asn_t *CP11Container::Encode(CP11Template *cert, CP11Template *pub, CP11Template *priv)
{
    hl_log(HL_ENTER, "CP11Container::Encode(%p,%p,%p)\n", (void *)cert, (void *)pub, (void *)priv);
    CP11Template *templates[] = {cert, pub, priv};
    _asn_t *element = encodeMembers(templates);
    hl_log(HL_LEAVE, "CP11Container::Encode( %p )\n", (void *)element);
    return element;
}

_asn_t *CP11Container::MergeEncodedContainer(_asn_t *first, _asn_t *second)
{
    if (first == nullptr && second == nullptr)
        return nullptr;
    _asn_t *file = asn_item_new(ASN_CLASS_UNIVERSAL, ASN_CONSTRUCTED, 16, nullptr, 0);
    try {
        if (file == nullptr)
            throw CP11Exception(CKR_HOST_MEMORY);
        if (first != nullptr && asn_item_paste(file, first, 1, 0) != 1)
            throw CP11Exception(CKR_HOST_MEMORY);
        if (second != nullptr && asn_item_paste(file, second, 1, 0) != 1) {
            // Hand first back to the caller, who still owns both.
            if (first != nullptr)
                asn_item_cut(first, 0);
            throw CP11Exception(CKR_HOST_MEMORY);
        }
    } catch (CP11Exception const &e) {
        asn_item_free(file);
        p11_frame::raiseLogged("CP11Container::MergeEncodedContainer ", e.GetErrorCode());
    }
    return file;
}

_asn_t *CP11Container::FindEncodedContainer(_asn_t *file, unsigned long type)
{
    if (file == nullptr)
        return nullptr;
    if (asn_is_current(file, ASN_CLASS_UNIVERSAL, ASN_CONSTRUCTED, 16) != 1)
        throw CP11Exception(CKR_DATA_INVALID);
    if (type > 0xFFFFFFFFUL)
        return nullptr;
    _asn_t *child = asn_get_child(file);
    for (int i = 0; i < 2 && child != nullptr; ++i, child = child->next)
        if (asn_is_current(child, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, (uint32_t)type) == 1)
            return child;
    return nullptr;
}

void CP11Container::Decode(_asn_t *element, CP11Template *cert, CP11Template *pub,
                           CP11Template *priv, bool release)
{
    if (element == nullptr)
        return;
    hl_log(HL_ENTER, "CP11Container::Decode(%p,%p,%p,%p,%d)\n", (void *)element, (void *)cert,
           (void *)pub, (void *)priv, release ? 1 : 0);
    try {
        unsigned long type = FindLongAttribute(CKA_CONTAINER_TYPE);
        if (type > 0xFFFFFFFFUL ||
            asn_is_current(element, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, (uint32_t)type) != 1)
            throw CP11Exception(CKR_DATA_INVALID);
        for (_asn_t *child = asn_get_child(element); child != nullptr; child = child->next) {
            CP11Object *member = nullptr;
            CP11Template *t = nullptr;
            if (asn_is_current(child, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, TAG_CERTIFICATE)) {
                member = m_certificate;
                t = cert;
            } else if (asn_is_current(child, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, TAG_PUBLIC_KEY)) {
                member = m_publicKey;
                t = pub;
            } else if (asn_is_current(child, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, TAG_PRIVATE_KEY)) {
                member = m_privateKey;
                t = priv;
            } else {
                throw CP11Exception(CKR_DATA_INVALID);
            }
            if (member == nullptr)
                continue;
            if (t == nullptr) {
                member->Decode(child, false);
                continue;
            }
            // Into the template only: the member keeps its own visibility.
            unsigned char hidden = member->FindByteAttribute(CKA_HIDDEN);
            try {
                member->Decode(child, *t, false);
            } catch (CP11Exception const &) {
                member->SetAttribute(CKA_HIDDEN, (unsigned char)(hidden != 0 ? 1 : 0));
                throw;
            }
            member->SetAttribute(CKA_HIDDEN, (unsigned char)(hidden != 0 ? 1 : 0));
        }
    } catch (CP11Exception const &e) {
        if (release)
            asn_item_free(element);
        vok_log::decloglevel();
        throw CP11Exception(e.GetErrorCode());
    }
    if (release)
        asn_item_free(element);
    hl_log(HL_LEAVE, "CP11Container::Decode( )\n");
}
