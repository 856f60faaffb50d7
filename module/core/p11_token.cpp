#include "core/p11_token.h"

#include <cstring>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "core/core_support.h"
#include "core/default_attributes.h"
#include "core/p11_slot.h"

namespace
{

using vok_core::putText;
using vok_core::rethrow;
using vok_core::rvName;
using vok_core::text;

} // namespace

CP11Token::CP11Token(CP11Slot *slot)
    : CP11Base(), m_slot(nullptr), m_sessionCounter(0), m_objectCounter(0), m_connection(nullptr),
      m_sessionObjectCounter(0x80000000UL)
{
    hl_log(HL_ENTER, "CP11Token::CP11Token(%p)\n", (void *)slot);
    log("Token slot ID  ( 0x%.8lx)\n",
        slot != nullptr ? slot->FindLongAttribute(SLOT_A_ID) : CK_UNAVAILABLE_INFORMATION);
    log("Token slot name( %s )\n",
        text(slot != nullptr ? slot->FindStringAttribute(SLOT_A_NAME) : nullptr));
    m_slot = slot;

    using vok_core::DefaultAttribute;
    static DefaultAttribute const defaults[] = {
        {"TOKEN_A_LABEL", TOKEN_A_LABEL, DefaultAttribute::TEXT, 0},
        {"TOKEN_A_MANUFACTURER", TOKEN_A_MANUFACTURER, DefaultAttribute::TEXT, 0},
        {"TOKEN_A_MODEL", TOKEN_A_MODEL, DefaultAttribute::TEXT, 0},
        {"TOKEN_A_SERIAL_NUMBER", TOKEN_A_SERIAL_NUMBER, DefaultAttribute::TEXT, 0},
        {"TOKEN_A_MAX_SESSIONS", TOKEN_A_MAX_SESSIONS, DefaultAttribute::LONG,
         CK_UNAVAILABLE_INFORMATION},
        {"TOKEN_A_OPEN_SESSIONS", TOKEN_A_OPEN_SESSIONS, DefaultAttribute::LONG, 0},
        {"TOKEN_A_MAX_RW_SESSIONS", TOKEN_A_MAX_RW_SESSIONS, DefaultAttribute::LONG,
         CK_UNAVAILABLE_INFORMATION},
        {"TOKEN_A_OPEN_RW_SESSIONS", TOKEN_A_OPEN_RW_SESSIONS, DefaultAttribute::LONG, 0},
        {"TOKEN_A_MAX_PIN_LEN", TOKEN_A_MAX_PIN_LEN, DefaultAttribute::LONG,
         CK_UNAVAILABLE_INFORMATION},
        {"TOKEN_A_MIN_PIN_LEN", TOKEN_A_MIN_PIN_LEN, DefaultAttribute::LONG, 0},
        {"TOKEN_A_MAX_PUBLIC_MEM", TOKEN_A_MAX_PUBLIC_MEM, DefaultAttribute::LONG, 0},
        {"TOKEN_A_FREE_PUBLIC_MEM", TOKEN_A_FREE_PUBLIC_MEM, DefaultAttribute::LONG, 0},
        {"TOKEN_A_MAX_PRIVATE_MEM", TOKEN_A_MAX_PRIVATE_MEM, DefaultAttribute::LONG, 0},
        {"TOKEN_A_FREE_PRIVATE_MEM", TOKEN_A_FREE_PRIVATE_MEM, DefaultAttribute::LONG, 0},
        {"TOKEN_A_HW_VERSION_MAJOR", TOKEN_A_HW_VERSION_MAJOR, DefaultAttribute::BYTE, 0},
        {"TOKEN_A_HW_VERSION_MINOR", TOKEN_A_HW_VERSION_MINOR, DefaultAttribute::BYTE, 0},
        {"TOKEN_A_FW_VERSION_MAJOR", TOKEN_A_FW_VERSION_MAJOR, DefaultAttribute::BYTE, 0},
        {"TOKEN_A_FW_VERSION_MINOR", TOKEN_A_FW_VERSION_MINOR, DefaultAttribute::BYTE, 0},
        {"TOKEN_A_PKCS11_FLAGS", TOKEN_A_PKCS11_FLAGS, DefaultAttribute::LONG, 0},
        {"TOKEN_A_MIN_RSA_KEY_SIZE", TOKEN_A_MIN_RSA_KEY_SIZE, DefaultAttribute::LONG, 0},
        {"TOKEN_A_MAX_RSA_KEY_SIZE", TOKEN_A_MAX_RSA_KEY_SIZE, DefaultAttribute::LONG, 0},
    };
    if (!vok_core::pushDefaultAttributes(m_attributes, defaults)) {
        releaseAttributes();
        rethrow("CP11Token::CP11Token", CP11Exception(CKR_HOST_MEMORY));
    }
    hl_log(HL_LEAVE, "CP11Token::CP11Token( )\n");
}

CP11Token::~CP11Token()
{
    hl_log(HL_ENTER, "CP11Token::~CP11Token()\n");
    try {
        CP11Token::Finalize();
        releaseMechanisms();
    } catch (CP11Exception &e) {
        decloglevel();
        hl_log(HL_EXCEPTION, "CP11Token::~CP11Token( 0x%.8lx [ %s ] )\n", e.GetErrorCode(),
               rvName(e.GetErrorCode()));
    }
    hl_log(HL_LEAVE, "CP11Token::~CP11Token( )\n");
}

void CP11Token::GetInfo(CK_TOKEN_INFO *info)
{
    hl_log(HL_ENTER, "CP11Token::GetInfo(%p)\n", (void *)info);
    try {
        if (info == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);

        putText(info->label, sizeof(info->label), FindStringAttribute(TOKEN_A_LABEL));
        putText(info->manufacturerID, sizeof(info->manufacturerID),
                FindStringAttribute(TOKEN_A_MANUFACTURER));
        putText(info->model, sizeof(info->model), FindStringAttribute(TOKEN_A_MODEL));
        putText(info->serialNumber, sizeof(info->serialNumber),
                FindStringAttribute(TOKEN_A_SERIAL_NUMBER));

        info->flags = FindLongAttribute(TOKEN_A_PKCS11_FLAGS);
        info->ulMaxSessionCount = FindLongAttribute(TOKEN_A_MAX_SESSIONS);
        // ulSessionCount counts every open session; the read-only and the
        // read-write ones are kept apart in the attributes.
        unsigned long ro = FindLongAttribute(TOKEN_A_OPEN_SESSIONS);
        unsigned long rw = FindLongAttribute(TOKEN_A_OPEN_RW_SESSIONS);
        info->ulSessionCount =
            (ro == CK_UNAVAILABLE_INFORMATION || rw == CK_UNAVAILABLE_INFORMATION)
                ? CK_UNAVAILABLE_INFORMATION
                : ro + rw;
        info->ulMaxRwSessionCount = FindLongAttribute(TOKEN_A_MAX_RW_SESSIONS);
        info->ulRwSessionCount = rw;
        info->ulMaxPinLen = FindLongAttribute(TOKEN_A_MAX_PIN_LEN);
        info->ulMinPinLen = FindLongAttribute(TOKEN_A_MIN_PIN_LEN);
        info->ulTotalPublicMemory = FindLongAttribute(TOKEN_A_MAX_PUBLIC_MEM);
        info->ulFreePublicMemory = FindLongAttribute(TOKEN_A_FREE_PUBLIC_MEM);
        info->ulTotalPrivateMemory = FindLongAttribute(TOKEN_A_MAX_PRIVATE_MEM);
        info->ulFreePrivateMemory = FindLongAttribute(TOKEN_A_FREE_PRIVATE_MEM);

        info->hardwareVersion.major = FindByteAttribute(TOKEN_A_HW_VERSION_MAJOR);
        info->hardwareVersion.minor = FindByteAttribute(TOKEN_A_HW_VERSION_MINOR);
        info->firmwareVersion.major = FindByteAttribute(TOKEN_A_FW_VERSION_MAJOR);
        info->firmwareVersion.minor = FindByteAttribute(TOKEN_A_FW_VERSION_MINOR);

        std::memset(info->utcTime, 0, sizeof(info->utcTime));
    } catch (CP11Exception &e) {
        rethrow("CP11Token::GetInfo", e);
    }
    hl_log(HL_LEAVE, "CP11Token::GetInfo( )\n");
}

void CP11Token::GetMechanismList(unsigned long *list, unsigned long *count)
{
    hl_log(HL_ENTER, "CP11Token::GetMechanismList(%p,%p)\n", (void *)list, (void *)count);
    try {
        if (count == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        unsigned long needed = m_mechanisms.Count();
        if (list != nullptr && *count < needed) {
            *count = needed;
            throw CP11Exception(CKR_BUFFER_TOO_SMALL);
        }
        *count = needed;
        if (list != nullptr) {
            *count = 0;
            for (CList<unsigned long>::Iterator it = m_mechanisms.begin(); it != m_mechanisms.end();
                 ++it)
                list[(*count)++] = *it;
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Token::GetMechanismList", e);
    }
    hl_log(HL_LEAVE, "CP11Token::GetMechanismList( )\n");
}

void CP11Token::FindMechanism(unsigned long type)
{
    hl_log(HL_ENTER, "CP11Token::FindMechanism(0x%.8lx)\n", type);
    hl_log(HL_DEBUG, "Mechanism : %s\n", text(CP11Convert::CKM2String(type)));
    for (CList<unsigned long>::Iterator it = m_mechanisms.begin(); it != m_mechanisms.end(); ++it) {
        if (*it == type) {
            hl_log(HL_LEAVE, "CP11Token::FindMechanism( )\n");
            return;
        }
    }
    rethrow("CP11Token::FindMechanism", CP11Exception(CKR_MECHANISM_INVALID));
}

bool CP11Token::IsKnown()
{
    hl_log(HL_ENTER, "CChannel::IsKnown()\n");
    hl_log(HL_LEAVE, "CChannel::IsKnown( %s )\n", "NO");
    return false;
}

void CP11Token::Initialize()
{
    hl_log(HL_ENTER, "CP11Token::Initialize()\n");
    hl_log(HL_LEAVE, "CP11Token::Initialize( )\n");
}

void CP11Token::GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info)
{
    hl_log(HL_ENTER, "CP11Token::GetMechanismInfo(0x%.8lx,%p)\n", type, (void *)info);
    char const *name = text(CP11Convert::CKM2String(type));
    hl_log(HL_DEBUG, "Mechanism : %s\n", name);
    try {
        if (info == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        info->ulMinKeySize = 0;
        info->ulMaxKeySize = 0;
        info->flags = 0;
        bool listed = false;
        for (CList<unsigned long>::Iterator it = m_mechanisms.begin();
             it != m_mechanisms.end() && !listed; ++it)
            listed = *it == type;
        if (!listed) {
            hl_log(HL_ERROR, "Unsupported mechanism type ( %s )\n", name);
            throw CP11Exception(CKR_MECHANISM_INVALID);
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Token::GetMechanismInfo", e);
    }
    hl_log(HL_LEAVE, "CP11Token::GetMechanismInfo( )\n");
}

void CP11Token::releaseMechanisms()
{
    hl_log(HL_ENTER, "CP11Token::releaseMechanisms()\n");
    m_mechanisms.Clear();
    hl_log(HL_LEAVE, "CP11Token::releaseMechanisms( )\n");
}
