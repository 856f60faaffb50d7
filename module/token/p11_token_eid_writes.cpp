// The identity-card token's writes of its files in the card directory "qv_p11":
// the attribute file "contNN" of the two containers of one card container number,
// and the data files "dataNN", one per data object.
//
// Invariants:
// - A "contNN" file holds the element of the container written first and the
//   element of its companion (the other type, same number) second. A companion in
//   memory is written with the attribute sets stored before and its members'
//   current visible flags; a companion not in memory keeps its stored element as
//   it was, so that labels, IDs and hidden keys of a container the token could not
//   load are never lost.
// - Creating a file raises the card's files counter first; overwriting "contNN"
//   leaves the counters alone; every data-file write raises the files counter.
//   The token's copy of the counters follows its own changes.
// - A failed write leaves the token's objects as they were in memory; nothing the
//   read cache kept survives a write. A file whose creation failed part way is
//   deleted again.
#include <cstring>
#include <memory>
#include <vector>

#include "asn1/asn_edit.h"
#include "asn1/asn_item.h"
#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "objects/p11_container.h"
#include "objects/p11_data_object.h"
#include "objects/p11_template.h"
#include "token/p11_token_eid.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;

namespace
{

using Tree = std::unique_ptr<_asn_t, void (*)(_asn_t *)>;

void freeTree(_asn_t *tree)
{
    asn_item_free(tree);
}

unsigned char const ACCESS_PRIVATE = 0x3C;
unsigned char const ACCESS_PUBLIC = 0x3D;

// The DER bytes of a tree, which stays the caller's.
std::vector<unsigned char> derOf(_asn_t *tree)
{
    long size = CP11Object::Encode(tree, nullptr, false);
    if (size <= 0)
        throw CP11Exception(CKR_GENERAL_ERROR);
    std::vector<unsigned char> bytes((size_t)size);
    if (CP11Object::Encode(tree, bytes.data(), false) != size)
        throw CP11Exception(CKR_GENERAL_ERROR);
    return bytes;
}

bool missing(uint32_t rv)
{
    return rv == QV_E_FILE_NOT_FOUND || rv == QV_E_NO_FILE;
}

// Creates a "qv_p11" file with its contents. A file the card created but did not
// take the contents of is deleted again, so that no empty file is left to stand
// in the way of the next create; one that was there before is not touched.
void createFile(_qv_md_card_struct *card, unsigned char const name[8],
                std::vector<unsigned char> const &bytes, unsigned char access)
{
    uint32_t rv =
        QVMD_CreateFile(card, CP11Token_eiD::QV_P11_DIR, name, bytes.data(), bytes.size(), access);
    if (rv == 0)
        return;
    if (rv != QV_ERROR_FILE_EXISTS && QVMD_DeleteFile(card, CP11Token_eiD::QV_P11_DIR, name) != 0)
        hl_log(vok_log::HL_WARNING, "QVMD_DeleteFile function call failed.\n");
    hl_log(HL_ERROR, "QVMD_CreateFile function call failed.\n");
    throw CP11Exception(CKR_DEVICE_ERROR);
}

} // namespace

unsigned long CP11Token_eiD::companionType(unsigned long type)
{
    return type == CONTAINER_TYPE_SIGNATURE ? CONTAINER_TYPE_EXCHANGE : CONTAINER_TYPE_SIGNATURE;
}

void CP11Token_eiD::cardNameOf(CP11Object *object, unsigned char name[8])
{
    unsigned long length = 0;
    char const *id = static_cast<char const *>(object->FindBinaryAttribute(CKA_USER_ID, &length));
    if (id == nullptr || length == 0 || id[0] == 0) {
        hl_log(HL_ERROR, "Missing 'CKA_USER_ID' attribute value.\n");
        throw CP11Exception(CKR_GENERAL_ERROR);
    }
    std::memset(name, 0, 8);
    std::memcpy(name, id, strnlen(id, length < 8 ? length : 8));
}

void CP11Token_eiD::raiseFilesCounter()
{
    if (QVMD_OperationChangeCache(m_card, QVMD_CACHE_FILES) != 0)
        cardFailed("QVMD_OperationChangeCache");
    tokenCacheSynchronize(QVMD_CACHE_FILES);
}

void CP11Token_eiD::writeContainerFile(CP11Container *container)
{
    hl_log(HL_ENTER, "CP11Token_eiD::writeContainerFile(%p)\n", (void *)container);
    frame("writeContainerFile", [&] {
        unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
        unsigned long type = container->FindLongAttribute(CKA_CONTAINER_TYPE);
        hl_log(HL_INFO, "Container number : %d\n", (int)number);
        unsigned char name[8] = {};
        if (QVMD_PKCS11_FillContainerFileName(m_card, name, number) != 0)
            cardFailed("QVMD_PKCS11_FillContainerFileName", CKR_GENERAL_ERROR);
        hl_log(HL_INFO, "Container file name :\n");
        hl_hd(HL_INFO, name, sizeof(name));
        CP11Container *companion = findContainer(number, companionType(type), false);

        // What the file holds now: the companion's stored attribute sets, or its
        // whole element when the companion is not in memory.
        CP11Template cert(nullptr, 0), pub(nullptr, 0), priv(nullptr, 0);
        Tree kept(nullptr, freeTree);
        unsigned char *data = nullptr;
        unsigned long length = 0;
        uint32_t rv = QVMD_ReadFile(m_card, QV_P11_DIR, name, &data, &length);
        if (rv != 0 && !missing(rv))
            cardFailed("QVMD_ReadFile");
        bool exists = rv == 0;
        CardMemory held = cardMemory(data);
        if (exists && length != 0) {
            Tree old(CP11Object::Decode(data, length), freeTree);
            _asn_t *element = CP11Container::FindEncodedContainer(old.get(), companionType(type));
            if (element != nullptr && companion != nullptr) {
                companion->Decode(element, &cert, &pub, &priv, false);
            } else if (element != nullptr) {
                kept.reset(asn_item_copy(element));
                if (kept == nullptr)
                    throw CP11Exception(CKR_HOST_MEMORY);
            }
        }

        hl_log(HL_DEBUG, "Encoding of first container(%p)\n", (void *)container);
        Tree first(container->Encode(), freeTree);
        Tree second(std::move(kept));
        if (companion != nullptr) {
            hl_log(HL_DEBUG, "Encoding of second container %p\n", (void *)companion);
            second.reset(companion->Encode(&cert, &pub, &priv));
        }
        hl_log(HL_DEBUG, "Merge containers\n");
        Tree file(CP11Container::MergeEncodedContainer(first.get(), second.get()), freeTree);
        first.release(); // the file holds both now
        second.release();
        std::vector<unsigned char> bytes = derOf(file.get());
        hl_log(HL_DEBUG, "Container file content :\n");
        hl_hd(HL_DEBUG, bytes.data(), (int)bytes.size());

        m_readCache.Forget();
        if (exists) {
            if (QVMD_WriteFile(m_card, QV_P11_DIR, name, bytes.data(), bytes.size()) != 0)
                cardFailed("QVMD_WriteFile");
            return;
        }
        raiseFilesCounter();
        createFile(m_card, name, bytes, ACCESS_PUBLIC);
    });
}

void CP11Token_eiD::writeDataObject(CP11Object *object, bool create)
{
    hl_log(HL_ENTER, "CP11Token_eiD::writeDataObject(%p,%s)\n", (void *)object,
           create ? "CREATE" : "UPDATE");
    frame(
        "writeDataObject",
        [&] {
            unsigned char name[8];
            cardNameOf(object, name);
            hl_log(HL_INFO, "Data file ID : %.8s\n", (char const *)name);
            Tree element(object->Encode(), freeTree);
            if (element == nullptr)
                throw CP11Exception(CKR_GENERAL_ERROR);
            std::vector<unsigned char> bytes = derOf(element.get());
            hl_log(HL_DEBUG, "Data file content :\n");
            hl_hd(HL_DEBUG, bytes.data(), (int)bytes.size());

            m_readCache.Forget();
            raiseFilesCounter();
            if (!create) {
                if (QVMD_WriteFile(m_card, QV_P11_DIR, name, bytes.data(), bytes.size()) != 0)
                    cardFailed("QVMD_WriteFile");
                return;
            }
            unsigned char access =
                object->FindByteAttribute(CKA_PRIVATE) != 0 ? ACCESS_PRIVATE : ACCESS_PUBLIC;
            createFile(m_card, name, bytes, access);
        },
        true);
}

void CP11Token_eiD::pushDataObject(CP11Object *object, unsigned long *handle)
{
    hl_log(HL_ENTER, "CP11Token_eiD::pushDataObject(%p,%p)\n", (void *)object, (void *)handle);
    frame(
        "pushDataObject",
        [&] {
            if (handle == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            *handle = 0;
            unsigned slot = 0;
            while (slot < DATA_SLOTS && m_dataSlots[slot] != 0xFF)
                ++slot;
            if (slot == DATA_SLOTS) {
                hl_log(HL_ERROR, "Data object file range.\n");
                throw CP11Exception(CKR_DEVICE_MEMORY);
            }
            unsigned char name[8] = {};
            if (QVMD_PKCS11_FillDataFileName(m_card, name, slot) != 0)
                cardFailed("QVMD_PKCS11_FillDataFileName", CKR_GENERAL_ERROR);
            hl_log(HL_INFO, "Data file name :\n");
            hl_hd(HL_INFO, name, sizeof(name));

            auto *source = dynamic_cast<CP11DataObject *>(object);
            if (source == nullptr)
                throw CP11Exception(CKR_GENERAL_ERROR);
            std::unique_ptr<CP11DataObject> copy(new CP11DataObject(*source));
            copy->SetAttribute(CKA_USER_FLAGS, 1UL);
            copy->SetAttribute(CKA_USER_ID, (void const *)name, sizeof(name));
            writeDataObject(copy.get(), true);

            unsigned before = m_dataObjects.Count();
            m_dataObjects.PushBack(copy.get());
            if (m_dataObjects.Count() == before)
                throw CP11Exception(CKR_HOST_MEMORY);
            CP11DataObject *stored = copy.release();
            m_dataSlots[slot] = (unsigned char)slot;
            stored->SetHandle(++m_objectCounter);
            *handle = stored->GetHandle();
            hl_log(HL_INFO, "Object(%p) handle :( 0x%.8lx )\n", (void *)stored, *handle);
        },
        true);
}
