#include "core/p11_slot.h"

#include <cstring>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "channel/channel.h"
#include "core/core_support.h"
#include "core/default_attributes.h"

using vok_core::putText;
using vok_core::text;

CP11Slot::CP11Slot(CChannel *channel) : CP11Base(), m_channel(nullptr)
{
    hl_log(HL_ENTER, "CP11Slot::CP11Slot(%p)\n", (void *)channel);
    log("Slot channel ID  ( 0x%.8lx)\n", channel != nullptr ? channel->GetId() : 0UL);
    log("Slot channel name( %s )\n",
        text(channel != nullptr ? (char const *)channel->GetName().GetData() : nullptr));
    m_channel = channel;

    using vok_core::DefaultAttribute;
    static DefaultAttribute const defaults[] = {
        {"SLOT_A_ID", SLOT_A_ID, DefaultAttribute::LONG, CK_UNAVAILABLE_INFORMATION},
        {"SLOT_A_NAME", SLOT_A_NAME, DefaultAttribute::TEXT, 0},
        {"SLOT_A_MANUFACTURER", SLOT_A_MANUFACTURER, DefaultAttribute::TEXT, 0},
        {"SLOT_A_HW_VERSION_MAJOR", SLOT_A_HW_VERSION_MAJOR, DefaultAttribute::BYTE, 0},
        {"SLOT_A_HW_VERSION_MINOR", SLOT_A_HW_VERSION_MINOR, DefaultAttribute::BYTE, 0},
        {"SLOT_A_FW_VERSION_MAJOR", SLOT_A_FW_VERSION_MAJOR, DefaultAttribute::BYTE, 0},
        {"SLOT_A_FW_VERSION_MINOR", SLOT_A_FW_VERSION_MINOR, DefaultAttribute::BYTE, 0},
        {"SLOT_A_PLUGGEN_IN", SLOT_A_PLUGGEN_IN, DefaultAttribute::BYTE, 0},
        {"SLOT_A_CARD_INSERTED", SLOT_A_CARD_INSERTED, DefaultAttribute::BYTE, 0},
        {"SLOT_A_CHANGED", SLOT_A_CHANGED, DefaultAttribute::BYTE, 0},
    };
    if (!vok_core::pushDefaultAttributes(m_attributes, defaults)) {
        releaseAttributes();
        vok_core::rethrow("CP11Slot::CP11Slot", CKR_HOST_MEMORY);
    }
    hl_log(HL_LEAVE, "CP11Slot::CP11Slot( )\n");
}

CP11Slot::~CP11Slot()
{
    hl_log(HL_ENTER, "CP11Slot::~CP11Slot()\n");
    releaseAttributes();
    hl_log(HL_LEAVE, "CP11Slot::~CP11Slot( )\n");
}

void CP11Slot::GetInfo(CK_SLOT_INFO *info)
{
    hl_log(HL_ENTER, "CP11Slot::GetInfo(%p)\n", (void *)info);
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
        vok_core::rethrow("CP11Slot::GetInfo", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Slot::GetInfo( )\n");
}

void CP11Slot::CardRemoved()
{
    hl_log(HL_ENTER, "CP11Slot::CardRemoved()\n");
    SetAttribute(SLOT_A_CARD_INSERTED, (unsigned char)0);
    hl_log(HL_LEAVE, "CP11Slot::CardRemoved( )\n");
}

void CP11Slot::ReaderRemoved()
{
    hl_log(HL_ENTER, "CP11Slot::ReaderRemoved()\n");
    SetAttribute(SLOT_A_PLUGGEN_IN, (unsigned char)0);
    SetAttribute(SLOT_A_CARD_INSERTED, (unsigned char)0);
    hl_log(HL_LEAVE, "CP11Slot::ReaderRemoved( )\n");
}
