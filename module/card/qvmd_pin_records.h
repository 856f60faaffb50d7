// PIN records of the card information: built from the PIN descriptors and flags
// of the applet information (kind 5) and completed by the PIN properties (kind 8).
#pragma once

#include "card/qvmd_info_struct.h"

#include <cstdint>

enum : unsigned { QVMD_PIN_DESCRIPTOR_LENGTH = 4, QVMD_PIN_PROPERTIES_LENGTH = 7 };

// Rebuilds the records: one per 4-byte descriptor (count at most 8), then one
// record without descriptor per set bit 1-7 of flags. Nothing changes and
// QV_E_UNEXPECTED is returned for a type code other than 1-3, a flag role that
// a described PIN already has, or more than 8 records.
uint32_t QVMD_PinRecordsFromDescriptors(_qv_md_info_struct *info, const unsigned char *descriptors,
                                        unsigned count, unsigned char flags);
// Applies one 7-byte properties entry to each described record, in order. Nothing
// changes and QV_E_UNEXPECTED is returned unless there is exactly one entry per
// described record.
uint32_t QVMD_PinRecordsApplyProperties(_qv_md_info_struct *info, const unsigned char *entries,
                                        unsigned count);
