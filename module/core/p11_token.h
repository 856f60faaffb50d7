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

    // Token interface: one operation per token-level PKCS#11 function, in
    // function-list order. Every failure is a thrown CP11Exception; the
    // generic bodies of the operations a token class does not override
    // answer CKR_FUNCTION_NOT_SUPPORTED.

    // True when the token recognises the card in its slot.
    virtual bool IsKnown();
    // Brings the token up after IsKnown said yes.
    virtual void Initialize();
    // Ends the working state: sessions, token objects and the card connection.
    virtual void Finalize();
    // Validates and clears info; the token class fills it afterwards.
    virtual void GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info);
    virtual void InitToken(unsigned char *pin, unsigned long pinLength, unsigned char *label);
    virtual void InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength);
    virtual void SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                        unsigned char *newPin, unsigned long newLength);
    virtual void OpenSession(unsigned long flags, void *application, CK_NOTIFY notify,
                             unsigned long *session);
    virtual void CloseSession(unsigned long session);
    virtual void CloseAllSessions();
    virtual void GetSessionInfo(unsigned long session, CK_SESSION_INFO *info);
    virtual void GetOperationState(unsigned long session, unsigned char *state,
                                   unsigned long *stateLength);
    virtual void SetOperationState(unsigned long session, unsigned char *state,
                                   unsigned long stateLength, unsigned long encryptionKey,
                                   unsigned long authenticationKey);
    virtual void Login(unsigned long session, unsigned long userType, unsigned char *pin,
                       unsigned long pinLength);
    virtual void Logout(unsigned long session);
    virtual void CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                              unsigned long *object);
    virtual void CopyObject(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                            unsigned long count, unsigned long *newObject);
    virtual void DestroyObject(unsigned long session, unsigned long object);
    virtual void GetObjectSize(unsigned long session, unsigned long object, unsigned long *size);
    virtual void GetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                                   unsigned long count);
    virtual void SetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                                   unsigned long count);
    virtual void FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count);
    virtual void FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                             unsigned long *count);
    virtual void FindObjectsFinal(unsigned long session);
    virtual void EncryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key);
    virtual void Encrypt(unsigned long session, unsigned char *data, unsigned long dataLength,
                         unsigned char *encrypted, unsigned long *encryptedLength);
    virtual void EncryptUpdate(unsigned long session, unsigned char *part, unsigned long partLength,
                               unsigned char *encrypted, unsigned long *encryptedLength);
    virtual void EncryptFinal(unsigned long session, unsigned char *lastPart,
                              unsigned long *lastPartLength);
    virtual void DecryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key);
    virtual void Decrypt(unsigned long session, unsigned char *encrypted,
                         unsigned long encryptedLength, unsigned char *data,
                         unsigned long *dataLength);
    virtual void DecryptUpdate(unsigned long session, unsigned char *encryptedPart,
                               unsigned long encryptedLength, unsigned char *part,
                               unsigned long *partLength);
    virtual void DecryptFinal(unsigned long session, unsigned char *lastPart,
                              unsigned long *lastPartLength);
    virtual void DigestInit(unsigned long session, CK_MECHANISM *mechanism);
    virtual void Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                        unsigned char *digest, unsigned long *digestLength);
    virtual void DigestUpdate(unsigned long session, unsigned char *part, unsigned long partLength);
    virtual void DigestKey(unsigned long session, unsigned long key);
    virtual void DigestFinal(unsigned long session, unsigned char *digest,
                             unsigned long *digestLength);
    virtual void SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key);
    virtual void Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
                      unsigned char *signature, unsigned long *signatureLength);
    virtual void SignUpdate(unsigned long session, unsigned char *part, unsigned long partLength);
    virtual void SignFinal(unsigned long session, unsigned char *signature,
                           unsigned long *signatureLength);
    virtual void SignRecoverInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key);
    virtual void SignRecover(unsigned long session, unsigned char *data, unsigned long dataLength,
                             unsigned char *signature, unsigned long *signatureLength);
    virtual void VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key);
    virtual void Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                        unsigned char *signature, unsigned long signatureLength);
    virtual void VerifyUpdate(unsigned long session, unsigned char *part, unsigned long partLength);
    virtual void VerifyFinal(unsigned long session, unsigned char *signature,
                             unsigned long signatureLength);
    virtual void VerifyRecoverInit(unsigned long session, CK_MECHANISM *mechanism,
                                   unsigned long key);
    virtual void VerifyRecover(unsigned long session, unsigned char *signature,
                               unsigned long signatureLength, unsigned char *data,
                               unsigned long *dataLength);
    virtual void DigestEncryptUpdate(unsigned long session, unsigned char *part,
                                     unsigned long partLength, unsigned char *encryptedPart,
                                     unsigned long *encryptedPartLength);
    virtual void DecryptDigestUpdate(unsigned long session, unsigned char *encryptedPart,
                                     unsigned long encryptedPartLength, unsigned char *part,
                                     unsigned long *partLength);
    virtual void SignEncryptUpdate(unsigned long session, unsigned char *part,
                                   unsigned long partLength, unsigned char *encryptedPart,
                                   unsigned long *encryptedPartLength);
    virtual void DecryptVerifyUpdate(unsigned long session, unsigned char *encryptedPart,
                                     unsigned long encryptedPartLength, unsigned char *part,
                                     unsigned long *partLength);
    virtual void GenerateKey(unsigned long session, CK_MECHANISM *mechanism, CK_ATTRIBUTE *templ,
                             unsigned long count, unsigned long *key);
    virtual void GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                                 CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                                 CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                                 unsigned long *publicKey, unsigned long *privateKey);
    virtual void WrapKey(unsigned long session, CK_MECHANISM *mechanism, unsigned long wrappingKey,
                         unsigned long key, unsigned char *wrappedKey,
                         unsigned long *wrappedKeyLength);
    virtual void UnwrapKey(unsigned long session, CK_MECHANISM *mechanism,
                           unsigned long unwrappingKey, unsigned char *wrappedKey,
                           unsigned long wrappedKeyLength, CK_ATTRIBUTE *templ, unsigned long count,
                           unsigned long *key);
    virtual void DeriveKey(unsigned long session, CK_MECHANISM *mechanism, unsigned long baseKey,
                           CK_ATTRIBUTE *templ, unsigned long count, unsigned long *key);
    virtual void SeedRandom(unsigned long session, unsigned char *seed, unsigned long seedLength);
    virtual void GenerateRandom(unsigned long session, unsigned char *randomData,
                                unsigned long randomLength);

    // Bookkeeping of sessions and token objects.

    // The open session with this handle; CKR_SESSION_HANDLE_INVALID if none.
    CP11Session *GetSession(unsigned long handle);
    // The listed token object with this handle (session objects are not
    // looked at); CKR_OBJECT_HANDLE_INVALID if none.
    CP11Object *GetObject(unsigned long handle);
    // Unlinks the object; the caller owns it from then on.
    void RemoveObject(CP11Object *object);
    CP11Object *RemoveObject(unsigned long handle);
    // Number of sessions whose flags equal flags (exact) or hold all its bits.
    unsigned long getSessionCount(unsigned long flags, bool exact);
    // Unlinks the session without deleting it.
    void removeSession(CP11Session *session);
    void releaseSessions();
    void releaseObjects();
    // Drops the private session objects of every session.
    void logoutSessions();
    // Sets every session's state for the user now logged in (all ones: nobody).
    void updateSessionsState(unsigned long userType);

    // Handle for a new session: the slot ID in bits 16 and up, a counter
    // that stays within 16 bits, never 0 and never the handle of a session
    // still open. All 65535 in use: CKR_SESSION_COUNT.
    unsigned long newSessionHandle();
    // Session objects belong to the session that made them but are seen by
    // every session of the token, so their handles are unique in the token.
    // The handle a new one would get after `after` (0: after the last one
    // given); it is only taken by sessionObjectHandleTaken.
    unsigned long nextSessionObjectHandle(unsigned long after = 0) const;
    void sessionObjectHandleTaken(unsigned long handle);
    // Numbering starts again at the base once no session holds an object.
    void sessionObjectsReleased();
    // A token object or a session object of any session, without a log line
    // or a throw; owner receives the session holding a session object (NULL
    // for a token object).
    CP11Object *findObject(unsigned long handle, CP11Session **owner = nullptr) const;

    CList<CP11Session *> const &GetSessions() const { return m_sessions; }
    CList<CP11Object *> const &GetObjects() const { return m_objects; }

    void releaseMechanisms();

  protected:
    CP11Slot *m_slot;
    CList<unsigned long> m_mechanisms;    // supported mechanism types, in order added
    CList<CP11Session *> m_sessions;      // open sessions, owned
    CList<CP11Object *> m_objects;        // token objects visible to sessions, owned
    unsigned long m_sessionCounter;       // raised before each new session handle
    unsigned long m_objectCounter;        // raised before each new token-object handle
    CCardConnection *m_connection;        // the token's card connection, owned
    unsigned long m_sessionObjectCounter; // last session-object handle given
};
