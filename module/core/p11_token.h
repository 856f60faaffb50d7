// The generic PKCS#11 token: the base class of every token the module presents
// in a slot. It holds the slot, the mechanism list, the open sessions, the
// token objects visible to sessions, two handle counters and the card
// connection, and keeps its token information as internal attributes.
#pragma once

#include <p11-kit/pkcs11.h>

#include "base/list.h"
#include "base/p11_base.h"

class CP11Slot;
class CP11Session;
class CP11Object;
class CCardConnection;

// Token attributes (there is no 0x2000000f).
constexpr unsigned long TOKEN_A_LABEL = 0x20000001UL;
constexpr unsigned long TOKEN_A_MANUFACTURER = 0x20000002UL;
constexpr unsigned long TOKEN_A_MODEL = 0x20000003UL;
constexpr unsigned long TOKEN_A_SERIAL_NUMBER = 0x20000004UL;
constexpr unsigned long TOKEN_A_MAX_SESSIONS = 0x20000005UL;
constexpr unsigned long TOKEN_A_OPEN_SESSIONS = 0x20000006UL; // read-only sessions
constexpr unsigned long TOKEN_A_MAX_RW_SESSIONS = 0x20000007UL;
constexpr unsigned long TOKEN_A_OPEN_RW_SESSIONS = 0x20000008UL;
constexpr unsigned long TOKEN_A_MAX_PIN_LEN = 0x20000009UL;
constexpr unsigned long TOKEN_A_MIN_PIN_LEN = 0x2000000aUL;
constexpr unsigned long TOKEN_A_MAX_PUBLIC_MEM = 0x2000000bUL;
constexpr unsigned long TOKEN_A_FREE_PUBLIC_MEM = 0x2000000cUL;
constexpr unsigned long TOKEN_A_MAX_PRIVATE_MEM = 0x2000000dUL;
constexpr unsigned long TOKEN_A_FREE_PRIVATE_MEM = 0x2000000eUL;
constexpr unsigned long TOKEN_A_HW_VERSION_MAJOR = 0x20000010UL;
constexpr unsigned long TOKEN_A_HW_VERSION_MINOR = 0x20000011UL;
constexpr unsigned long TOKEN_A_FW_VERSION_MAJOR = 0x20000012UL;
constexpr unsigned long TOKEN_A_FW_VERSION_MINOR = 0x20000013UL;
constexpr unsigned long TOKEN_A_PKCS11_FLAGS = 0x20000014UL;
constexpr unsigned long TOKEN_A_MIN_RSA_KEY_SIZE = 0x20000015UL;
constexpr unsigned long TOKEN_A_MAX_RSA_KEY_SIZE = 0x20000016UL;

class CP11Token : public CP11Base
{
  public:
    // Called only from a token class's constructor. The slot is not owned.
    // Throws CP11Exception(CKR_HOST_MEMORY).
    explicit CP11Token(CP11Slot *slot);
    CP11Token(CP11Token const &) = delete;
    CP11Token &operator=(CP11Token const &) = delete;
    ~CP11Token() override;

    CP11Slot *GetSlot() const { return m_slot; }

    // C_GetTokenInfo: texts blank-padded and cut at the field width, never
    // NUL-terminated; utcTime all zero bytes.
    void GetInfo(CK_TOKEN_INFO *info);
    // C_GetMechanismList with the PKCS#11 size-query convention.
    void GetMechanismList(unsigned long *list, unsigned long *count);
    // Returns when type is in the mechanism list, else throws CKR_MECHANISM_INVALID.
    void FindMechanism(unsigned long type);

    // True when the token recognises the card in its slot.
    virtual bool IsKnown();
    // Brings the token up after IsKnown said yes.
    virtual void Initialize();
    // Validates and clears info; the token class fills it afterwards.
    virtual void GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info);

    void releaseMechanisms();

  protected:
    CP11Slot *m_slot;
    CList<unsigned long> m_mechanisms; // supported mechanism types, in order added
    CList<CP11Session *> m_sessions;   // open sessions, owned
    CList<CP11Object *> m_objects;     // token objects visible to sessions, owned
    unsigned long m_sessionCounter;    // raised before each new session handle
    unsigned long m_objectCounter;     // raised before each new token-object handle
    CCardConnection *m_connection;     // the token's card connection, owned
};
