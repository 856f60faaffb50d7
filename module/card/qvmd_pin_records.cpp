#include "card/qvmd_pin_records.h"

#include "card/qv_result.h"

#include <cstring>

namespace
{

enum : uint8_t { METHOD_NONE = 0, METHOD_PIN = 1, METHOD_CHALLENGE = 2 };
enum : uint32_t { TYPE_NO_DESCRIPTOR = 1 };

bool knownType(unsigned char typeByte)
{
    unsigned code = typeByte & 0x0F;
    return code >= 1 && code <= 3;
}

// The records are zero when these fill them.
void describe(_qv_md_pin_info_struct &pin, const unsigned char *d)
{
    pin.descriptor = static_cast<uint32_t>(d[0]) << 24 | d[1] << 16 | d[2] << 8 | d[3];
    pin.type = (d[1] & 0x0F) + 1u;
    pin.method = (d[1] & 0x0F) == 2 ? METHOD_CHALLENGE : METHOD_PIN; // type 3
    pin.roleMask = d[2];
    pin.updaters = d[3];
    pin.flag = (d[1] >> 4) & 1;
    pin.tryLimit = d[0];
}

void undescribe(_qv_md_pin_info_struct &pin, unsigned role)
{
    pin.type = TYPE_NO_DESCRIPTOR;
    pin.method = METHOD_NONE;
    pin.roleMask = role;
}

} // namespace

uint32_t QVMD_PinRecordsFromDescriptors(_qv_md_info_struct *info, const unsigned char *descriptors,
                                        unsigned count, unsigned char flags)
{
    if (count > QVMD_MAX_PINS)
        return QV_E_UNEXPECTED;
    unsigned describedRoles = 0;
    for (unsigned i = 0; i < count; i++) {
        const unsigned char *d = descriptors + i * QVMD_PIN_DESCRIPTOR_LENGTH;
        if (!knownType(d[1]))
            return QV_E_UNEXPECTED;
        describedRoles |= d[2];
    }
    unsigned flagRoles = flags & 0xFE;
    unsigned extra = 0;
    for (unsigned bit = 1; bit < 8; bit++)
        extra += (flagRoles >> bit) & 1;
    if ((flagRoles & describedRoles) != 0 || count + extra > QVMD_MAX_PINS)
        return QV_E_UNEXPECTED;

    memset(info->pins, 0, sizeof(info->pins));
    for (unsigned i = 0; i < count; i++)
        describe(info->pins[i], descriptors + i * QVMD_PIN_DESCRIPTOR_LENGTH);
    unsigned n = count;
    for (unsigned bit = 1; bit < 8; bit++)
        if ((flagRoles >> bit) & 1)
            undescribe(info->pins[n++], 1u << bit);
    info->pinCount = static_cast<uint8_t>(n);
    info->undescribedPins = static_cast<uint8_t>(extra);
    return QV_OK;
}

uint32_t QVMD_PinRecordsApplyProperties(_qv_md_info_struct *info, const unsigned char *entries,
                                        unsigned count)
{
    if (count + info->undescribedPins != info->pinCount)
        return QV_E_UNEXPECTED;
    for (unsigned i = 0; i < count; i++) {
        const unsigned char *e = entries + i * QVMD_PIN_PROPERTIES_LENGTH;
        _qv_md_pin_info_struct &pin = info->pins[i];
        pin.statusA = e[0];
        pin.triesRemaining = e[1];
        pin.statusB = e[2];
        pin.updaters = e[3];
        memcpy(pin.cspInfo, e + 4, 3);
    }
    return QV_OK;
}
