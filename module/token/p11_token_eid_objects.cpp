// The card's objects in the identity-card token: the change counters that tell
// another application's changes from the token's own, the load of the first
// session and its release, the visible-object list by login state, the lookups
// of containers, and the card reads that the read cache may answer.
#include <cstring>

#include "base/linux/linux_log.h"
#include "base/p11_log.h"
#include "card/qvmd.h"
#include "objects/p11_certificate.h"
#include "objects/p11_container.h"
#include "objects/p11_data_object.h"
#include "objects/p11_private_key.h"
#include "objects/p11_public_key.h"
#include "objects/p11_template.h"
#include "token/p11_token_eid.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_INFO;
using vok_log::HL_LEAVE;

namespace
{

struct Counter {
    unsigned long flag;
    size_t at, length; // bytes of "cardcf"
    char const *name;
};
Counter const COUNTERS[] = {
    {QVMD_CACHE_PIN, 1, 1, "QV_MD_OPERATION_CHANGE_CACHE_PIN"},
    {QVMD_CACHE_CONTAINERS, 2, 2, "QV_MD_OPERATION_CHANGE_CACHE_CONTAINERS"},
    {QVMD_CACHE_FILES, 4, 2, "QV_MD_OPERATION_CHANGE_CACHE_FILES"},
};

// The members of a container in the order they are listed and released.
void members(CP11Container *c, CP11Object *out[3])
{
    out[0] = c->GetCertificate();
    out[1] = c->GetKeyPrivate();
    out[2] = c->GetKeyPublic();
}

void logReleased(CP11Object *object)
{
    hl_log(HL_INFO, "Object(%p) handle[ 0x%.8lx ( %d ) ] released\n", (void *)object,
           object->GetHandle(), (int)object->GetHandle());
}

} // namespace

unsigned long CP11Token_eiD::tokenCacheSynchronize(unsigned long mask)
{
    hl_log(HL_ENTER, "CP11Token_eiD::tokenCacheSynchronize(0x%.8lx)\n", mask);
    unsigned char now[QVMD_CACHE_RECORD];
    if (m_card == nullptr || QVMD_GetCurrentCache(m_card, now) != 0) {
        hl_log(vok_log::HL_ERROR, "QVMD_GetCurrentCache function call failed.\n");
        leaveByException("tokenCacheSynchronize", CKR_DEVICE_ERROR, true);
    }
    unsigned long changed = 0;
    for (Counter const &c : COUNTERS) {
        if (std::memcmp(now + c.at, m_cardcf + c.at, c.length) == 0)
            continue;
        hl_log(HL_DEBUG, "Changed attribute '%s'\n", c.name);
        changed |= c.flag;
        if ((mask & c.flag) != 0)
            std::memcpy(m_cardcf + c.at, now + c.at, c.length);
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::tokenCacheSynchronize( 0x%.8lx )\n", changed);
    return changed;
}

void CP11Token_eiD::loadObjects()
{
    releaseAll();
    try {
        unsigned char cardcf[QVMD_CACHE_RECORD];
        if (QVMD_GetCurrentCache(m_card, cardcf) != 0)
            cardFailed("QVMD_GetCurrentCache");
        CCardReadPass pass(m_readCache, cardcf);
        initContainers();
        initDataObjects();
    } catch (CP11Exception &) {
        releaseAll();
        throw;
    }
}

void CP11Token_eiD::releaseAll()
{
    releaseContainers();
    releaseDataObjects();
    m_objects.Clear();
}

void CP11Token_eiD::updateObjects(bool all)
{
    hl_log(HL_ENTER, "CP11Token_eiD::updateObjects(%s)\n", all ? "ALL" : "PUBLIC");
    frame("updateObjects", [&] {
        m_objects.Clear();
        updateContainerObjects(all);
        updateDataObjects(all);
    });
}

void CP11Token_eiD::updateContainerObjects(bool all)
{
    hl_log(HL_ENTER, "CP11Token_eiD::updateContainerObjects(%s)\n", all ? "ALL" : "PUBLIC");
    frame("updateContainerObjects", [&] {
        hl_log(HL_DEBUG, "Containers count : %d\n", (int)m_containers.Count());
        for (auto it = m_containers.begin(); it != m_containers.end(); ++it) {
            CP11Object *objects[3];
            members(*it, objects);
            for (CP11Object *object : objects) {
                if (object == nullptr)
                    continue;
                if (object->FindByteAttribute(CKA_HIDDEN) != 0) {
                    hl_log(HL_DEBUG, "Object ID(0x%.8lx) -> HIDDEN\n", object->GetHandle());
                    continue;
                }
                if (object->FindByteAttribute(CKA_PRIVATE) != 0 && !all)
                    continue;
                unsigned before = m_objects.Count();
                m_objects.PushBack(object);
                if (m_objects.Count() == before)
                    throw CP11Exception(CKR_HOST_MEMORY);
                hl_log(HL_DEBUG, "Object ID(0x%.8lx) -> PUSHED\n", object->GetHandle());
            }
        }
    });
}

void CP11Token_eiD::releaseContainers()
{
    hl_log(HL_ENTER, "CP11Token_eiD::releaseContainers()\n");
    while (m_containers.begin() != m_containers.end()) {
        auto first = m_containers.begin();
        CP11Container *container = *first;
        m_containers.Erase(first);
        CP11Object *objects[3];
        members(container, objects);
        for (CP11Object *object : objects) {
            if (object == nullptr)
                continue;
            RemoveObject(object);
            logReleased(object);
            delete object;
        }
        hl_log(HL_INFO, "Container(%p) name[ %s ] released\n", (void *)container,
               container->FindStringAttribute(CKA_CONTAINER_LABEL));
        delete container;
    }
    leave("releaseContainers");
}

void CP11Token_eiD::releaseDataObjects()
{
    hl_log(HL_ENTER, "CP11Token_eiD::releaseDataObjects()\n");
    while (m_dataObjects.begin() != m_dataObjects.end()) {
        auto first = m_dataObjects.begin();
        CP11DataObject *object = *first;
        m_dataObjects.Erase(first);
        RemoveObject(object);
        logReleased(object);
        delete object;
    }
    leave("releaseDataObjects");
}

void CP11Token_eiD::removeContainer(CP11Container *container)
{
    hl_log(HL_ENTER, "CP11Token_eiD::removeContainer(%p)\n", (void *)container);
    for (auto it = m_containers.begin(); it != m_containers.end(); ++it) {
        if (*it == container) {
            hl_log(HL_INFO, "Container found.\n");
            m_containers.Erase(it);
            break;
        }
    }
    if (container != nullptr) {
        CP11Object *objects[3];
        members(container, objects);
        for (CP11Object *object : objects)
            if (object != nullptr)
                RemoveObject(object);
    }
    leave("removeContainer");
}

void CP11Token_eiD::removeDataObject(CP11DataObject *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::removeDataObject(%p)\n", (void *)object);
    for (auto it = m_dataObjects.begin(); it != m_dataObjects.end(); ++it) {
        if (*it == object) {
            hl_log(HL_INFO, "Data object found.\n");
            m_dataObjects.Erase(it);
            break;
        }
    }
    leave("removeDataObject");
}

namespace
{

// The end of a container lookup: the match, NULL when there is none and raise
// is false, else CKR_OBJECT_HANDLE_INVALID.
CP11Container *found(CP11Container *container, bool raise)
{
    if (container == nullptr && raise) {
        vok_log::decloglevel();
        hl_log(vok_log::HL_EXCEPTION, "CP11Token_eiD::findContainer( 0x%.8lx [ %s ] )\n",
               (unsigned long)CKR_OBJECT_HANDLE_INVALID, "CKR_OBJECT_HANDLE_INVALID");
        throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::findContainer( %p )\n", (void *)container);
    return container;
}

char const *raiseText(bool raise)
{
    return raise ? "EXCEPTION" : "SILENT";
}

} // namespace

CP11Container *CP11Token_eiD::findContainer(unsigned long handle, bool raise)
{
    hl_log(HL_ENTER, "CP11Token_eiD::findContainer(0x%.8lx,%s)\n", handle, raiseText(raise));
    for (auto it = m_containers.begin(); it != m_containers.end(); ++it) {
        CP11Object *objects[3];
        members(*it, objects);
        for (CP11Object *object : objects)
            if (object != nullptr && object->GetHandle() == handle)
                return found(*it, raise);
    }
    return found(nullptr, raise);
}

CP11Container *CP11Token_eiD::findContainer(unsigned char number, unsigned long type, bool raise)
{
    hl_log(HL_ENTER, "CP11Token_eiD::findContainer(%d,%lu,%s)\n", (int)number, type,
           raiseText(raise));
    for (auto it = m_containers.begin(); it != m_containers.end(); ++it)
        if ((*it)->FindByteAttribute(CKA_CONTAINER_ID) == number &&
            (*it)->FindLongAttribute(CKA_CONTAINER_TYPE) == type)
            return found(*it, raise);
    return found(nullptr, raise);
}

CP11Container *CP11Token_eiD::findContainer(CP11Template *templ, CBlob *name, unsigned long flags,
                                            bool raise)
{
    hl_log(HL_ENTER, "CP11Token_eiD::findContainer(%p,%p,0x%.8lx,%s)\n", (void *)templ,
           (void *)name, flags, raiseText(raise));
    if (name != nullptr)
        hl_log(HL_INFO, "Requested container name : %s ( %d )\n", (char const *)*name,
               (int)name->GetSize());
    for (auto it = m_containers.begin(); it != m_containers.end(); ++it) {
        CP11Container *c = *it;
        if (name != nullptr) {
            char const *label = c->FindStringAttribute(CKA_CONTAINER_LABEL);
            unsigned long length = label != nullptr ? std::strlen(label) : 0;
            hl_log(HL_INFO, "Current container name : %s ( %d )\n", p11_log::text(label),
                   (int)length);
            if (CBlob(label != nullptr ? label : "", (unsigned)length).Compare(*name) != 0)
                continue;
        }
        CP11PublicKey *pub = c->GetKeyPublic();
        if ((flags & 0x1000) != 0 && pub != nullptr && pub->FindByteAttribute(CKA_HIDDEN) == 0)
            continue;
        if ((flags & 0x2000) != 0 && c->GetCertificate() != nullptr)
            continue;
        CP11Object *objects[3];
        members(c, objects);
        for (CP11Object *object : objects)
            if (object != nullptr && object->Compare(templ))
                return found(c, raise);
    }
    return found(nullptr, raise);
}
