// Data objects of the identity-card token: one per card file "dataNN" of the
// directory "qv_p11", read at the first session (private ones once the user is
// logged in), and the data-file slot table that names the files in use.
#include <cctype>
#include <cstring>
#include <memory>

#include "asn1/asn_item.h"
#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "objects/p11_data_object.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;
using vok_log::HL_WARNING;

namespace
{

unsigned char const QV_P11[8] = {'q', 'v', '_', 'p', '1', '1', 0, 0};

// The number of a data file name: "data" and two decimal digits, nothing else;
// -1 for any other name.
int dataFileNumber(char const *name)
{
    if (std::strlen(name) != 6 || std::strncmp(name, "data", 4) != 0 ||
        !std::isdigit((unsigned char)name[4]) || !std::isdigit((unsigned char)name[5]))
        return -1;
    return (name[4] - '0') * 10 + (name[5] - '0');
}

// The 8-byte card name of a file name (at most 8 characters, zero-padded).
void cardName(char const *name, unsigned char out[8])
{
    std::memset(out, 0, 8);
    std::memcpy(out, name, strnlen(name, 8));
}

} // namespace

void CP11Token_eiD::initDataObjects()
{
    hl_log(HL_ENTER, "CP11Token_eiD::initDataObjects()\n");
    frame(
        "initDataObjects",
        [&] {
            releaseDataObjects();
            std::memset(m_dataSlots, 0xFF, sizeof(m_dataSlots));
            unsigned char *names = nullptr;
            unsigned long length = 0;
            if (enumFiles(QV_P11, &names, &length) != 0)
                cardFailed("QVMD_EnumFilesEx");
            std::unique_ptr<unsigned char, std::function<void(unsigned char *)>> held(
                names, [this](unsigned char *p) { QVMD_Free(m_card, p); });
            // zero-terminated names, an empty one last; a list without its end stops
            // at the last whole name
            for (unsigned long at = 0; at < length && names[at] != 0;) {
                char const *name = reinterpret_cast<char const *>(names + at);
                size_t n = strnlen(name, length - at);
                if (n == length - at)
                    break;
                at += n + 1;
                hl_log(HL_INFO, "Found file : %s\n", name);
                int number = dataFileNumber(name);
                if (number < 0)
                    continue;
                // files numbered 16 to 99 are loaded but take no slot
                if (number < (int)DATA_SLOTS)
                    m_dataSlots[number] = (unsigned char)number;
                loadDataFile(name);
            }
        },
        true);
}

void CP11Token_eiD::loadDataFile(char const *name)
{
    std::unique_ptr<CP11DataObject> object(new CP11DataObject());
    object->SetAttribute(CKA_USER_ID, (void const *)name, (unsigned long)std::strlen(name) + 1);
    object->SetAttribute(CKA_HIDDEN, (unsigned char)0);
    object->SetAttribute(CKA_USER_FLAGS, 0UL);
    bool infoRead = false;
    if (!readDataFile(object.get(), name, true, &infoRead) && infoRead)
        return; // the file cannot be read or decoded: the object is dropped
    object->SetHandle(++m_objectCounter);
    unsigned before = m_dataObjects.Count();
    m_dataObjects.PushBack(object.get());
    if (m_dataObjects.Count() == before)
        throw CP11Exception(CKR_HOST_MEMORY);
    CP11DataObject *added = object.release();
    hl_log(HL_INFO, "Object(%p) handle[ 0x%.8lx ( %d ) ] read\n", (void *)added, added->GetHandle(),
           (int)added->GetHandle());
}

bool CP11Token_eiD::readDataFile(CP11Object *object, char const *name, bool info, bool *infoRead)
{
    unsigned char file[8];
    cardName(name, file);
    CCardReadCache::Life life = CCardReadCache::NEVER;
    if (info) {
        _qv_md_file_info fileInfo = {};
        *infoRead = readFileInfo(QV_P11, file, &fileInfo) == 0;
        if (!*infoRead) {
            hl_log(HL_WARNING, "QVMD_ReadFileInfo (%s) function call failed.\n", name);
            return false;
        }
        // what anybody may read may be kept; a private file never is
        if ((fileInfo.access & 1) != 0)
            life = CCardReadCache::COUNTERS;
    }
    unsigned char *data = nullptr;
    unsigned long length = 0;
    if (readFile(QV_P11, file, &data, &length, life) != 0) {
        if (info)
            hl_log(HL_ERROR, "QVMD_ReadFile (%s) function call failed.\n", name);
        else
            hl_log(HL_ERROR, "QVMD_ReadFile function call failed.\n");
        return false;
    }
    std::unique_ptr<unsigned char, std::function<void(unsigned char *)>> held(
        data, [this](unsigned char *p) { QVMD_Free(m_card, p); });
    if (data == nullptr || length == 0) {
        hl_log(HL_ERROR, "File (%s) invalid data (%p,0x%.8lx).\n", name, (void *)data, length);
        return false;
    }
    try {
        object->Decode(CP11Object::Decode(data, length), true);
        object->SetAttribute(CKA_USER_FLAGS, 1UL);
    } catch (CP11Exception &) {
        return false;
    }
    return true;
}

void CP11Token_eiD::updateDataObjects(bool all)
{
    hl_log(HL_ENTER, "CP11Token_eiD::updateDataObjects(%s)\n", all ? "ALL" : "PUBLIC");
    frame("updateDataObjects", [&] {
        for (auto it = m_dataObjects.begin(); it != m_dataObjects.end(); ++it) {
            CP11DataObject *object = *it;
            if (object->FindByteAttribute(CKA_HIDDEN) != 0 ||
                (object->FindByteAttribute(CKA_PRIVATE) != 0 && !all))
                continue;
            if (object->FindLongAttribute(CKA_USER_FLAGS) == 0) {
                unsigned long length = 0;
                char const *id =
                    static_cast<char const *>(object->FindBinaryAttribute(CKA_USER_ID, &length));
                if (id == nullptr || length == 0)
                    continue;
                std::string name(id, strnlen(id, length));
                if (!readDataFile(object, name.c_str(), false, nullptr))
                    continue;
            }
            unsigned before = m_objects.Count();
            m_objects.PushBack(object);
            if (m_objects.Count() == before)
                throw CP11Exception(CKR_HOST_MEMORY);
        }
    });
}

void CP11Token_eiD::fillDataObject(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token_eiD::fillDataObject(%p)\n", (void *)object);
    leave("fillDataObject");
}
