#include "core/p11_slot.h"

#include <cstring>
#include <new>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "channel/channel.h"

namespace
{

char const *text(char const *s)
{
    return s != nullptr ? s : vok_log::NULL_TEXT;
}

// Blank-fills a fixed-width field, then copies at most width bytes of s (no NUL).
void putText(unsigned char *field, size_t width, char const *s)
{
    std::memset(field, ' ', width);
    if (s == nullptr)
        return;
    size_t n = std::strlen(s);
    std::memcpy(field, s, n < width ? n : width);
}

} // namespace

CP11Slot::CP11Slot(CChannel *channel) : CP11Base(), m_channel(nullptr)
{
    hl_log(1, "CP11Slot::CP11Slot(%p)\n", (void *)channel);
    log("Slot channel ID  ( 0x%.8x)\n", channel != nullptr ? channel->GetId() : 0UL);
    log("Slot channel name( %s )\n",
        channel != nullptr ? text((char const *)channel->GetName().GetData()) : vok_log::NULL_TEXT);
    m_channel = channel;

    struct Default {
        char const *name;
        unsigned long id;
        int kind; // 1 byte, 2 unsigned long, 3 text
        unsigned long value;
    };
    static Default const defaults[] = {
        {"SLOT_A_ID", SLOT_A_ID, 2, CK_UNAVAILABLE_INFORMATION},
        {"SLOT_A_NAME", SLOT_A_NAME, 3, 0},
        {"SLOT_A_MANUFACTURER", SLOT_A_MANUFACTURER, 3, 0},
        {"SLOT_A_HW_VERSION_MAJOR", SLOT_A_HW_VERSION_MAJOR, 1, 0},
        {"SLOT_A_HW_VERSION_MINOR", SLOT_A_HW_VERSION_MINOR, 1, 0},
        {"SLOT_A_FW_VERSION_MAJOR", SLOT_A_FW_VERSION_MAJOR, 1, 0},
        {"SLOT_A_FW_VERSION_MINOR", SLOT_A_FW_VERSION_MINOR, 1, 0},
        {"SLOT_A_PLUGGEN_IN", SLOT_A_PLUGGEN_IN, 1, 0},
        {"SLOT_A_CARD_INSERTED", SLOT_A_CARD_INSERTED, 1, 0},
        {"SLOT_A_CHANGED", SLOT_A_CHANGED, 1, 0},
    };
    for (Default const &d : defaults) {
        CAttribute *a = new (std::nothrow) CAttribute();
        bool ok = a != nullptr;
        if (ok && d.kind == 1)
            ok = a->Set(d.name, d.id, (unsigned char)d.value);
        else if (ok && d.kind == 2)
            ok = a->Set(d.name, d.id, d.value);
        else if (ok)
            ok = a->Set(d.name, d.id, (char const *)nullptr);
        unsigned int before = m_attributes.Count();
        if (ok)
            m_attributes.PushBack(a);
        if (!ok || m_attributes.Count() == before) {
            delete a;
            releaseAttributes();
            decloglevel();
            hl_log(0x10, "CP11Slot::CP11Slot( 0x%.8x [ %s ] )\n", CKR_HOST_MEMORY,
                   text(CP11Convert::CKR2String(CKR_HOST_MEMORY)));
            throw CP11Exception(CKR_HOST_MEMORY);
        }
    }
    hl_log(2, "CP11Slot::CP11Slot( )\n");
}

CP11Slot::~CP11Slot()
{
    hl_log(1, "CP11Slot::~CP11Slot()\n");
    releaseAttributes();
    hl_log(2, "CP11Slot::~CP11Slot( )\n");
}

void CP11Slot::GetInfo(CK_SLOT_INFO *info)
{
    hl_log(1, "CP11Slot::GetInfo(%p)\n", (void *)info);
    try {
        if (info == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);

        char const *name = FindStringAttribute(SLOT_A_NAME);
        char const *manufacturer = FindStringAttribute(SLOT_A_MANUFACTURER);

        putText(info->slotDescription, sizeof(info->slotDescription), name);
        putText(info->manufacturerID, sizeof(info->manufacturerID), nullptr);

        // A PC/SC reader name begins with its maker's name: use the first word
        // when no manufacturer text was given.
        if (m_channel != nullptr && m_channel->GetName().Compare("PCSC") == 0 &&
            manufacturer == nullptr && name != nullptr) {
            size_t word = std::strcspn(name, " ");
            if (word < sizeof(info->manufacturerID))
                std::memcpy(info->manufacturerID, name, word);
        }
        if (manufacturer != nullptr)
            putText(info->manufacturerID, sizeof(info->manufacturerID), manufacturer);

        info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
        if (FindByteAttribute(SLOT_A_CARD_INSERTED) != 0)
            info->flags |= CKF_TOKEN_PRESENT;

        info->hardwareVersion.major = FindByteAttribute(SLOT_A_HW_VERSION_MAJOR);
        info->hardwareVersion.minor = FindByteAttribute(SLOT_A_HW_VERSION_MINOR);
        info->firmwareVersion.major = FindByteAttribute(SLOT_A_FW_VERSION_MAJOR);
        info->firmwareVersion.minor = FindByteAttribute(SLOT_A_FW_VERSION_MINOR);
    } catch (CP11Exception &e) {
        decloglevel();
        hl_log(0x10, "CP11Slot::GetInfo( 0x%.8x [ %s ] )\n", e.GetErrorCode(),
               text(CP11Convert::CKR2String(e.GetErrorCode())));
        throw CP11Exception(e.GetErrorCode());
    }
    hl_log(2, "CP11Slot::GetInfo( )\n");
}

void CP11Slot::CardRemoved()
{
    hl_log(1, "CP11Slot::CardRemoved()\n");
    SetAttribute(SLOT_A_CARD_INSERTED, (unsigned char)0);
    hl_log(2, "CP11Slot::CardRemoved( )\n");
}

void CP11Slot::ReaderRemoved()
{
    hl_log(1, "CP11Slot::ReaderRemoved()\n");
    SetAttribute(SLOT_A_PLUGGEN_IN, (unsigned char)0);
    SetAttribute(SLOT_A_CARD_INSERTED, (unsigned char)0);
    hl_log(2, "CP11Slot::ReaderRemoved( )\n");
}
