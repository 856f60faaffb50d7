// Destroying objects on the identity-card token. A session object goes with its
// session's help; on the card a certificate's file and a data object's file are
// deleted at once, a key is hidden in its container's attribute file (the card
// keeps it), and the card container goes when neither of the token's two
// containers of its number holds a visible member any more.
//
// Invariants:
// - Memory follows the card: an object leaves the visible list, and a key is
//   hidden, only once the card has accepted the change; a refused change leaves
//   the object visible. Once the card container is deleted, both of the token's
//   containers of its number go, also when a later step fails.
// - The record of the container map is the one at the container's number, never
//   one found by name (two containers may share a name).
// - Only data files 00 to 15 have a slot in the data-file slot table.
// - Searches running meanwhile go on: they look each handle up again, and
//   handles are never reused.
#include <cstring>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "channel/channel_locker.h"
#include "core/p11_session.h"
#include "objects/p11_container.h"
#include "objects/p11_data_object.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;

namespace
{

bool missing(uint32_t rv)
{
    return rv == QV_E_FILE_NOT_FOUND || rv == QV_E_NO_FILE;
}

bool loggedIn(unsigned long state)
{
    return state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
}

} // namespace

void CP11Token_eiD::DestroyObject(unsigned long session, unsigned long object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DestroyObject(0x%.8lx,0x%.8lx)\n", session, object);
    deviceFrame("DestroyObject", [&] {
        CP11Session *s = GetSession(session);
        unsigned long state = s->FindLongAttribute(SESSION_A_STATE);
        if (state == CKS_RO_PUBLIC_SESSION || state == CKS_RO_USER_FUNCTIONS) {
            hl_log(HL_ERROR, "Session(0x%.8lx) state invalid (0x%.8lx).\n", session, state);
            throw CP11Exception(CKR_SESSION_READ_ONLY);
        }
        // a session object belongs to one session and is seen by all of them
        CP11Session *owner = nullptr;
        CP11Object *target = nullptr;
        if ((object & SESSION_OBJECT_HANDLE_BASE) != 0) {
            target = findObject(object, &owner);
            if (target == nullptr || owner == nullptr)
                throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
        } else {
            target = GetObject(object);
        }
        if ((target->FindByteAttribute(CKA_PRIVATE) != 0 && state == CKS_RW_PUBLIC_SESSION) ||
            (owner == nullptr && !loggedIn(state)))
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        if (owner != nullptr) {
            owner->DestroyObject(target);
            return;
        }
        CChannelLocker locker(channel(), m_connection);
        CAuthenticatorWorker worker(m_authenticator);
        destroyObject(target);
        // The card has freed a file or a container. The object is gone whatever
        // the figure's reading answers; that logs its own failure.
        try {
            updateTokenMemoryInfo();
        } catch (CP11Exception &) {
        }
        worker.Close();
    });
}

void CP11Token_eiD::destroyObject(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::destroyObject(%p)\n", (void *)object);
    frame(
        "destroyObject",
        [&] {
            switch (unsigned long cls = object->FindLongAttribute(CKA_CLASS)) {
            case CKO_CERTIFICATE:
            case CKO_PUBLIC_KEY:
            case CKO_PRIVATE_KEY:
                destroyMember(object, cls);
                break;
            case CKO_DATA:
                destroyDataObject(object);
                break;
            default: // no card object stands behind it
                object->SetAttribute(CKA_HIDDEN, (unsigned char)CK_TRUE);
                RemoveObject(object);
                break;
            }
        },
        true);
}

void CP11Token_eiD::destroyMember(CP11Object *object, unsigned long cls)
{
    CP11Container *container = findContainer(object->GetHandle(), true);
    unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
    unsigned long type = container->FindLongAttribute(CKA_CONTAINER_TYPE);
    hl_log(HL_INFO, "Container type : 0x%.8lx ( %s )\n", type,
           type == CONTAINER_TYPE_SIGNATURE ? "CKCT_SIGNATURE" : "CKCT_EXCHANGE");
    hl_log(HL_INFO, "Container number : %d\n", (int)number);
    CP11Container *twin = findContainer(number, companionType(type), false);

    bool key = cls != CKO_CERTIFICATE;
    if (key) {
        // hidden as the rewritten attribute file will store it
        object->SetAttribute(CKA_HIDDEN, (unsigned char)CK_TRUE);
    } else {
        deleteCertificateFile(number, type);
        RemoveObject(object);
        container->SetCertificate(nullptr);
        delete object;
    }
    // A twin the token could not load may still be a key on the card: the card
    // container stays for it.
    bool emptied =
        container->GetObjectCount() == 0 &&
        (twin != nullptr ? twin->GetObjectCount() == 0 : !keyOnCard(number, companionType(type)));
    bool gone = false;
    try {
        if (emptied)
            destroyContainer(container, &gone);
        else if (key)
            writeContainerFile(container);
    } catch (CP11Exception &) {
        if (gone)
            dropContainer(twin);
        else if (key)
            object->SetAttribute(CKA_HIDDEN, (unsigned char)CK_FALSE);
        throw;
    }
    if (gone)
        dropContainer(twin); // its card container has gone too
    else if (key)
        RemoveObject(object);
}

bool CP11Token_eiD::keyOnCard(unsigned char number, unsigned long type)
{
    _qv_md_container_key_info key;
    QVMD_ContainerInitStruct(&key);
    key.container = number;
    key.keySpec =
        type == CONTAINER_TYPE_SIGNATURE ? QVMD_KEY_SPEC_SIGNATURE : QVMD_KEY_SPEC_EXCHANGE;
    uint32_t rv = QVMD_GetContainerInfo(m_card, &key, QVMD_KEY_INFO_SHORT);
    QVMD_ContainerReleaseStruct(m_card, &key);
    if (rv != 0 && rv != QV_E_NO_FILE && rv != QV_E_NO_KEY_CONTAINER)
        cardFailed("QVMD_GetContainerInfo");
    return rv == 0;
}

void CP11Token_eiD::deleteCertificateFile(unsigned char number, unsigned long type)
{
    raiseFilesCounter();
    unsigned char name[8] = {};
    unsigned long keySpec =
        type == CONTAINER_TYPE_SIGNATURE ? QVMD_KEYSPEC_SIGNATURE : QVMD_KEYSPEC_EXCHANGE;
    if (QVMD_FillCertFileName(m_card, name, number, keySpec) != 0)
        cardFailed("QVMD_FillCertFileName", CKR_GENERAL_ERROR);
    hl_log(HL_INFO, "Certificate file name :\n");
    hl_hd(HL_INFO, name, sizeof(name));
    m_readCache.Forget();
    uint32_t rv = QVMD_DeleteFile(m_card, MSCP_DIR, name);
    if (rv != 0 && !missing(rv))
        cardFailed("QVMD_DeleteFile");
}

void CP11Token_eiD::destroyDataObject(CP11Object *object)
{
    unsigned char name[8];
    cardNameOf(object, name);
    hl_log(HL_INFO, "Data file name : %.8s\n", (char const *)name);
    // the slot whose file name it is; a file numbered 16 or more has none
    unsigned slot = 0;
    for (unsigned char slotName[8]; slot < DATA_SLOTS; ++slot) {
        std::memset(slotName, 0, sizeof(slotName));
        if (QVMD_PKCS11_FillDataFileName(m_card, slotName, slot) == 0 &&
            std::memcmp(slotName, name, sizeof(name)) == 0)
            break;
    }
    hl_log(HL_INFO, "Data file index : %d\n", slot < DATA_SLOTS ? (int)slot : -1);
    raiseFilesCounter();
    m_readCache.Forget();
    uint32_t rv = QVMD_DeleteFile(m_card, QV_P11_DIR, name);
    if (rv != 0 && !missing(rv))
        cardFailed("QVMD_DeleteFile");
    if (slot < DATA_SLOTS)
        m_dataSlots[slot] = 0xFF;
    RemoveObject(object);
    removeDataObject(static_cast<CP11DataObject *>(object));
    delete object;
}

void CP11Token_eiD::destroyContainer(CP11Container *container)
{
    destroyContainer(container, nullptr);
}

void CP11Token_eiD::destroyContainer(CP11Container *container, bool *gone)
{
    hl_log(HL_ENTER, "CP11Token_eiD::destroyContainer(%p)\n", (void *)container);
    frame("destroyContainer", [&] {
        unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
        hl_log(HL_INFO, "Container index : 0x%.8x\n", (unsigned)number);
        unsigned char *map = nullptr;
        unsigned long size = 0;
        if (QVMD_ReadFile(m_card, MSCP_DIR, CMAP_FILE, &map, &size) != 0)
            cardFailed("QVMD_ReadFile");
        CardMemory held = cardMemory(map);
        // the record of the container's number: the one its creation wrote
        _qv_md_container_map_record cleared = {};
        if (QVMD_CmapFile_ChangeContainerDataByIndex(map, size, number, &cleared,
                                                     QVMD_CMAP_BECAME_INVALID) != 0)
            cardFailed("QVMD_CmapFile_ChangeContainerDataByIndex", CKR_GENERAL_ERROR);
        m_readCache.Forget();
        if (QVMD_OperationChangeCache(m_card, QVMD_CACHE_CONTAINERS) != 0)
            cardFailed("QVMD_OperationChangeCache");
        tokenCacheSynchronize(QVMD_CACHE_CONTAINERS);
        if (QVMD_DeleteContainer(m_card, number) != 0)
            cardFailed("QVMD_DeleteContainer");
        // the card container has gone: the token's goes now, whatever follows
        removeContainer(container);
        deleteContainer(container);
        if (gone != nullptr)
            *gone = true;
        raiseFilesCounter();
        if (QVMD_WriteFile(m_card, MSCP_DIR, CMAP_FILE, map, size) != 0)
            cardFailed("QVMD_WriteFile");
    });
}

void CP11Token_eiD::dropContainer(CP11Container *container)
{
    if (container == nullptr)
        return;
    removeContainer(container);
    deleteContainer(container);
}
