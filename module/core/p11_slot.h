// The module's PKCS#11 slot: one per card-reader name, holding its state as
// internal attributes and the channel through which its reader is reached.
#pragma once

#include <p11-kit/pkcs11.h>

#include "base/p11_base.h"

class CChannel;

// Slot attributes.
constexpr unsigned long SLOT_A_ID = 0x10000001UL;               // CK_SLOT_ID, all ones until set
constexpr unsigned long SLOT_A_NAME = 0x10000002UL;             // reader name
constexpr unsigned long SLOT_A_MANUFACTURER = 0x10000003UL;     // manufacturer text
constexpr unsigned long SLOT_A_HW_VERSION_MAJOR = 0x10000004UL; // bytes
constexpr unsigned long SLOT_A_HW_VERSION_MINOR = 0x10000005UL;
constexpr unsigned long SLOT_A_FW_VERSION_MAJOR = 0x10000006UL;
constexpr unsigned long SLOT_A_FW_VERSION_MINOR = 0x10000007UL;
constexpr unsigned long SLOT_A_PLUGGEN_IN = 0x10000008UL;    // non-zero while the reader is there
constexpr unsigned long SLOT_A_CARD_INSERTED = 0x10000009UL; // non-zero while a card is in it
constexpr unsigned long SLOT_A_CHANGED = 0x1000000cUL; // set on a change, cleared when reported

class CP11Slot : public CP11Base
{
  public:
    // The channel is not owned. Throws CP11Exception(CKR_HOST_MEMORY).
    explicit CP11Slot(CChannel *channel);
    CP11Slot(CP11Slot const &) = delete;
    CP11Slot &operator=(CP11Slot const &) = delete;
    ~CP11Slot() override;

    // Fills the caller's CK_SLOT_INFO: texts blank-padded, cut at the field
    // width, never NUL-terminated.
    void GetInfo(CK_SLOT_INFO *info);
    CChannel *GetChannel() const { return m_channel; }

    // Presence marks for the manager: a card that left, or a reader that went
    // away (taking its card with it), must not leave CKF_TOKEN_PRESENT behind.
    void CardRemoved();
    void ReaderRemoved();

  private:
    CChannel *m_channel;
};
