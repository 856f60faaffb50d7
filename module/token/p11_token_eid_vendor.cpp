// The identity-card token's vendor attributes: the card's ATR, the fixed
// application identifier, the try counters of the user PIN and of the PUK, the
// use of the card's key containers by key size, and the name of the container
// an object belongs to. The first four are the token's and answer on handle 0
// as on any object; the container name needs an object of a container.
// Counters are native 64-bit integers of the host.
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "channel/card_connection.h"
#include "objects/p11_container.h"
#include "objects/p11_object.h"
#include "token/containers_usage.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;

namespace
{

using Value = std::vector<unsigned char>;

// The application identifier of the card application's second selection.
unsigned char const CARD_AID[] = {0xA0, 0x00, 0x00, 0x00, 0x28, 0x80, 0x10, 0x37, 0x01, 0x01};

void append(Value &value, uint64_t n)
{
    unsigned char const *p = reinterpret_cast<unsigned char const *>(&n);
    value.insert(value.end(), p, p + sizeof(n));
}

// Try limit, tries left and status byte B of the last PIN record of the role
// (nothing when the card lists none).
Value pinInfo(_qv_md_info_struct const *info, uint32_t role)
{
    Value value;
    for (unsigned i = 0; i < info->pinCount && i < QVMD_MAX_PINS; ++i) {
        _qv_md_pin_info_struct const &pin = info->pins[i];
        if (pin.roleMask != role)
            continue;
        value.clear();
        append(value, pin.tryLimit);
        append(value, pin.triesRemaining);
        append(value, pin.statusB);
    }
    return value;
}

// The value handed out by the PKCS#11 rules: its length for a NULL buffer, the
// bytes into a buffer large enough.
void handOut(Value const &value, CK_ATTRIBUTE *attribute)
{
    if (attribute->pValue == nullptr) {
        attribute->ulValueLen = value.size();
        return;
    }
    if (attribute->ulValueLen < value.size()) {
        attribute->ulValueLen = CK_UNAVAILABLE_INFORMATION;
        throw CP11Exception(CKR_BUFFER_TOO_SMALL);
    }
    if (!value.empty())
        std::memcpy(attribute->pValue, value.data(), value.size());
    attribute->ulValueLen = value.size();
}

} // namespace

void CP11Token_eiD::getVendorAttribute(CP11Object *object, CK_ATTRIBUTE *attribute)
{
    hl_log(HL_ENTER, "CP11Token_eiD::getVendorAttribute(%p,%p)\n", (void *)object,
           (void *)attribute);
    frame(
        "getVendorAttribute",
        [&] {
            if (attribute == nullptr)
                throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
            Value value;
            switch (attribute->type) {
            case CKA_CARD_ATR: {
                if (m_connection == nullptr)
                    throw CP11Exception(CKR_DEVICE_ERROR);
                CBlob const &atr = m_connection->GetATR();
                value.assign(atr.GetData(), atr.GetData() + atr.GetSize());
                break;
            }
            case CKA_CARD_AID:
                value.assign(CARD_AID, CARD_AID + sizeof(CARD_AID));
                break;
            case CKA_USER_PIN_INFO:
            case CKA_SO_PIN_INFO:
                if (m_card == nullptr ||
                    QVMD_GetInfo(m_card, m_card->info, QVMD_INFO_AUTH_STATE) != 0 ||
                    QVMD_GetInfo(m_card, m_card->info, QVMD_INFO_PIN_PROPERTIES) != 0)
                    cardFailed("QVMD_GetInfo");
                value = pinInfo(m_card->info,
                                attribute->type == CKA_USER_PIN_INFO ? ROLE_USER : ROLE_SO);
                break;
            case CKA_CONTAINERS_USAGE:
                value = containersUsage();
                break;
            case CKA_OBJECT_CONTAINER_NAME: {
                if (object == nullptr)
                    throw CP11Exception(CKR_OBJECT_HANDLE_INVALID);
                char const *label = findContainer(object->GetHandle(), true)
                                        ->FindStringAttribute(CKA_CONTAINER_LABEL);
                if (label != nullptr)
                    value.assign(label, label + std::strlen(label));
                break;
            }
            default:
                throw CP11Exception(CKR_ATTRIBUTE_TYPE_INVALID);
            }
            handOut(value, attribute);
        },
        true);
}

std::vector<unsigned char> CP11Token_eiD::containersUsage()
{
    if (m_card == nullptr || QVMD_GetInfo(m_card, m_card->info, QVMD_INFO_KEY_CAPACITY) != 0)
        throw CP11Exception(CKR_DEVICE_ERROR);
    CContainersUsage usage(this, HL_ERROR);
    _qv_md_info_struct const *info = m_card->info;
    Value value;
    for (uint32_t i = 0; i < info->keySizeCount && info->keySizes != nullptr; ++i) {
        uint64_t bits = info->keySizes[i].bits, used = 0;
        for (unsigned long r = 0; r < usage.Count(); ++r) {
            _qv_md_container_usage_record const &record = usage.Record(r);
            if (record.valid != 0 && (record.signatureBits == bits || record.exchangeBits == bits))
                ++used;
        }
        uint64_t count = info->keySizes[i].count;
        append(value, bits);
        append(value, used);
        append(value, used < count ? count - used : 0); // never wrapped below zero
    }
    return value;
}
