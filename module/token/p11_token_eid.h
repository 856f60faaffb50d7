// The token for the vOK identity card. It reads the card into PKCS#11 objects
// (key containers with their certificates and keys, and data objects), keeps
// them in step with the card's change counters, caches the PIN encrypted so it
// can present it again around each card operation, and reaches the card only
// through the card application layer over its own card connection.
//
// Invariants:
// - The card context exists exactly while the token is initialised; every card
//   call takes it first and every APDU goes on m_connection through the slot's
//   channel (CTransmitParam).
// - Containers and data objects are owned by m_containers and m_dataObjects; the
//   base's visible-object list m_objects only points at some of their members
//   (never at anything else), so it is emptied, never released, by this class.
// - Objects exist only while a session is open: the first OpenSession loads them
//   (from empty lists) and the last CloseSession, CloseAllSessions or Finalize
//   releases them, also when a card step on the way fails.
// - Entries of the data-file slot table are indexed 0 to 15 only; a card data
//   file numbered 16 or more is loaded but takes no slot.
// - Token-object handles come from the base's object counter and are never
//   reused while the token lives.
#pragma once

#include <functional>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "base/blob.h"
#include "base/list.h"
#include "base/p11_exception.h"
#include "card/qvmd_card.h"
#include "card/qvmd_files.h"
#include "card/token_transmit.h"
#include "token/card_crypto_set.h"
#include "core/p11_token.h"
#include "token/card_read_cache.h"

struct _qv_md_container_usage_record;

class CChannel;
class CContainersUsage;
class CP11Container;
class CP11DataObject;
class CKeyAsymetric;
class CP11Object;
class CP11Template;

// Container types of the token: one container per key of a card container.
constexpr unsigned long CONTAINER_TYPE_EXCHANGE = 21;
constexpr unsigned long CONTAINER_TYPE_SIGNATURE = 22;

// The token's vendor attributes (0x80001000 to 0x80001005).
constexpr CK_ATTRIBUTE_TYPE CKA_CARD_ATR = 0x80001000UL;
constexpr CK_ATTRIBUTE_TYPE CKA_CARD_AID = 0x80001001UL;
constexpr CK_ATTRIBUTE_TYPE CKA_USER_PIN_INFO = 0x80001002UL;
constexpr CK_ATTRIBUTE_TYPE CKA_SO_PIN_INFO = 0x80001003UL;
constexpr CK_ATTRIBUTE_TYPE CKA_CONTAINERS_USAGE = 0x80001004UL;
constexpr CK_ATTRIBUTE_TYPE CKA_OBJECT_CONTAINER_NAME = 0x80001005UL;

class CP11Token_eiD : public CP11Token
{
  public:
    // Card roles of the PIN cache and of the card's authentication state.
    enum : unsigned char { ROLE_NOBODY = 1, ROLE_USER = 2, ROLE_SO = 4 };
    // Number of entries of the data-file slot table; a free entry holds 0xFF.
    enum : unsigned { DATA_SLOTS = 16 };
    // Private memory one record of the container map takes.
    enum : unsigned { CONTAINER_MAP_RECORD_SIZE = 86 };

    // The PIN of the last successful login, encrypted in memory, presented to the
    // card again by CAuthenticatorWorker. The plain PIN is never kept: it lives
    // in a wiped buffer for the length of one presentation.
    class CTokenAuthenticator
    {
      public:
        CTokenAuthenticator();
        ~CTokenAuthenticator();
        CTokenAuthenticator(CTokenAuthenticator const &) = delete;
        CTokenAuthenticator &operator=(CTokenAuthenticator const &) = delete;

        // Replaces the cache with role 2 or 4 and the PIN. False (cache
        // untouched) for a NULL token, another role or an empty PIN, and
        // (cache emptied) when the PIN cannot be encrypted.
        bool Init(CP11Token_eiD *token, unsigned char role, unsigned char const *pin,
                  unsigned long length);
        // Presents the cached PIN when the card has no role authenticated; true
        // when it did. CKR_USER_NOT_LOGGED_IN when nothing is cached (nobody is
        // logged in) or when the card's PIN counter moved since the token last
        // looked; CKR_PIN_INCORRECT / CKR_PIN_LOCKED when the card refuses the
        // PIN; CKR_DEVICE_ERROR for a card failure. A moved counter and a refused
        // PIN end every login of the token first (logoutEverywhere), so that a
        // PIN that may be stale is never presented again.
        bool Authenticate();
        // Ends any authentication on the card of token (NULL: the cached
        // token); the cache stays. Nothing without a token or card context.
        void DeAuthenticate(CP11Token_eiD *token);
        // The card's authentication state byte (1: nobody).
        unsigned char Check();
        // Forgets the cache: no token, role 1, the secret wiped.
        void Final();
        unsigned char GetAuthRole() const { return m_role; }
        // The key the cache (and the security officer's PUK kept by a session)
        // is encrypted under: CDesEncryptor::KEY_LENGTH bytes.
        static unsigned char const *CacheKey();

      private:
        // Ends every login of the token: its PIN can no longer be trusted.
        static void forget(CP11Token_eiD *token);

        CP11Token_eiD *m_token;
        unsigned char m_role;
        CBlob m_secret; // the PIN encrypted with the cache key
    };

    // Scope guard of a card operation that needs the user's PIN: presents the
    // cached PIN on construction (a throw leaves nothing to undo) and, when it
    // presented it, de-authenticates the card on destruction. Open it inside a
    // CChannelLocker so that both form one PC/SC transaction. A failing
    // de-authentication after a successful operation is reported with Close.
    class CAuthenticatorWorker
    {
      public:
        explicit CAuthenticatorWorker(CTokenAuthenticator &authenticator);
        ~CAuthenticatorWorker();
        CAuthenticatorWorker(CAuthenticatorWorker const &) = delete;
        CAuthenticatorWorker &operator=(CAuthenticatorWorker const &) = delete;

        // Ends the guard now and throws what the de-authentication threw.
        void Close();

      private:
        bool m_authenticated;
        CTokenAuthenticator *m_authenticator;
    };

    // Builds the token for the slot (not owned); no card input or output here.
    explicit CP11Token_eiD(CP11Slot *slot);
    ~CP11Token_eiD() override;

    // Lifecycle and token information.
    bool IsKnown() override;
    void Initialize() override;
    void Finalize() override;
    void GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info) override;
    void InitToken(unsigned char *pin, unsigned long pinLength, unsigned char *label) override;
    void SeedRandom(unsigned long session, unsigned char *seed, unsigned long seedLength) override;
    void GenerateRandom(unsigned long session, unsigned char *randomData,
                        unsigned long randomLength) override;

    // Sessions.
    void OpenSession(unsigned long flags, void *application, CK_NOTIFY notify,
                     unsigned long *session) override;
    void CloseSession(unsigned long session) override;
    void CloseAllSessions() override;
    void GetSessionInfo(unsigned long session, CK_SESSION_INFO *info) override;

    // Login and PINs.
    void Login(unsigned long session, unsigned long userType, unsigned char *pin,
               unsigned long pinLength) override;
    void Logout(unsigned long session) override;
    void SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                unsigned char *newPin, unsigned long newLength) override;
    void InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength) override;

    // Signing and decryption: hashing and padding in software, the raw RSA step
    // of a card key on the card.
    void SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key) override;
    void Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
              unsigned char *signature, unsigned long *signatureLength) override;
    void SignUpdate(unsigned long session, unsigned char *part, unsigned long partLength) override;
    void SignFinal(unsigned long session, unsigned char *signature,
                   unsigned long *signatureLength) override;
    void DecryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key) override;
    void Decrypt(unsigned long session, unsigned char *encrypted, unsigned long encryptedLength,
                 unsigned char *data, unsigned long *dataLength) override;

    // Attributes and search.
    void GetObjectSize(unsigned long session, unsigned long object, unsigned long *size) override;
    void GetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                           unsigned long count) override;
    void FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count) override;
    void FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                     unsigned long *count) override;
    void FindObjectsFinal(unsigned long session) override;

    // The card context (NULL while the token is not initialised) and the card
    // layer's callbacks, which take it as their context.
    _qv_md_card_struct *GetCard() const { return m_card; }
    CTokenAuthenticator &GetAuthenticator() { return m_authenticator; }

  protected:
    // Method frames. The caller writes the entry line; frame runs body, then
    // writes "CP11Token_eiD::<method>( )" as the leave line, or on a
    // CP11Exception lowers the log level, writes the type 16 line (in the
    // "( 0x%.8X - %s )" form with dashForm) and throws the code on.
    // deviceFrame first turns CKR_DEVICE_ERROR into CKR_DEVICE_REMOVED when
    // the card has gone (the session, object and crypto operations).
    template <typename Body> void frame(char const *method, Body body, bool dashForm = false)
    {
        try {
            body();
        } catch (CP11Exception &e) {
            leaveByException(method, e.GetErrorCode(), dashForm);
        }
        leave(method);
    }
    template <typename Body> void deviceFrame(char const *method, Body body)
    {
        frame(method, [&] {
            try {
                body();
            } catch (CP11Exception &e) {
                throw CP11Exception(removedCode(e.GetErrorCode()));
            }
        });
    }
    static void leave(char const *method);
    [[noreturn]] static void leaveByException(char const *method, unsigned long rv, bool dashForm);
    // CKR_DEVICE_REMOVED for CKR_DEVICE_ERROR while the card connection reports
    // the card absent; any other code as it is.
    unsigned long removedCode(unsigned long rv);
    // A failed card-layer call: the type 8 line naming it, then rv thrown.
    [[noreturn]] static void cardFailed(char const *function, unsigned long rv = CKR_DEVICE_ERROR);
    // The slot's channel, or NULL.
    CChannel *channel() const;

    // Login. Ends the login of every session: the PIN cache and every
    // session's PUK wiped, every session public without its private session
    // objects, then the PIN flags read again and (with rebuild) the visible
    // objects made the public ones. The card is not de-authenticated here. The
    // steps that need the card all run; the first failure is thrown at the end.
    void logoutEverywhere(bool rebuild = true);
    // Wipes and forgets the security officer's PUK kept by the session.
    static void clearPuk(CP11Session *session);
    // Reads the card's PIN records (information kind 8); CKR_DEVICE_ERROR.
    void readPinRecords();
    // The first PIN record of the records read whose role mask is role;
    // CKR_DEVICE_ERROR when the card lists none (its limits are unknown).
    _qv_md_pin_info_struct const &pinRecord(unsigned char role);
    // Raises the card's PIN change counter and takes its new value, so that the
    // token's own change is not taken for another application's.
    void pinChanged();

    // Signing and decryption. A new operation context for the key, checked
    // for the purpose (CKF_SIGN or CKF_DECRYPT) and the mechanism.
    CKeyAsymetric *keyContext(unsigned long session, CK_MECHANISM *mechanism, unsigned long key,
                              unsigned long purpose);
    // The raw RSA step of a card key over a block of the key's length, in
    // place: under the channel's exclusive access and the PIN guard, the key
    // looked up again by handle.
    void cardStep(unsigned long key, unsigned char *block, unsigned long length, bool sign);
    // The card's RSA private-key operation on block (the key's modulus length),
    // in place, in one secure-messaging session of its own.
    void cryptPrivateRSA(CP11Object *key, unsigned char *block, bool sign);
    // Sets up and tears down the secure-messaging provider set.
    void openCrypto();
    void closeCrypto();

    // Token information.
    void setMechanisms();
    void setTokenConstInfo();
    void updateTokenPinInfo();
    void updateTokenMemoryInfo();
    // Private memory the valid card containers take: their key bits / 8 and a
    // container-map record each.
    unsigned long usedPrivateMemory();
    // The serial-number text of 16 card serial bytes: the hex digits from the
    // start position on (16, or the second byte when the first is 0xF0); empty
    // when the start lies past the 32 digits.
    static void serialText(unsigned char const serial[16], CBlob &text);

    // A new session in the list and the open-session counts; its removal.
    CP11Session *addSession(unsigned long flags, unsigned long state);
    void dropSession(CP11Session *session);
    void countSession(CP11Session *session, int change);

    // Loading the card's objects.
    unsigned long tokenCacheSynchronize(unsigned long mask);
    void initContainers();
    CP11Container *fillContainer(void *usageRecord, unsigned long type);
    // The container of one key of a card container appended to the list; one
    // whose certificate file is damaged, or whose objects cannot be built from
    // what the card holds, is skipped with a warning line.
    void addContainer(CContainersUsage &usage, _qv_md_container_usage_record &record,
                      unsigned long type);
    // Frees a container with its members.
    static void deleteContainer(CP11Container *container);
    void fillObject(CP11Object *object);
    void fillCertificate(CP11Object *object);
    void fillPublicKey(CP11Object *object);
    void fillPrivateKey(CP11Object *object);
    void fillDataObject(CP11Object *object);
    // CKA_ID of a key without one: the SHA-1 of its modulus.
    void fillKeyId(CP11Object *object);
    void initDataObjects();
    void updateObjects(bool all);
    void updateContainerObjects(bool all);
    void updateDataObjects(bool all);
    void releaseContainers();
    void releaseDataObjects();
    void removeContainer(CP11Container *container);
    void removeDataObject(CP11DataObject *object);
    CP11Container *findContainer(unsigned long handle, bool raise);
    CP11Container *findContainer(unsigned char number, unsigned long type, bool raise);
    CP11Container *findContainer(CP11Template *templ, CBlob *name, unsigned long flags, bool raise);
    // The first session's load: containers, then data objects, from empty lists;
    // a failure leaves both lists empty.
    void loadObjects();
    // Releases containers, data objects and the visible list.
    void releaseAll();
    // One data object of the file "qv_p11"/name, appended to the list unless
    // the file can be opened but not read or decoded.
    void loadDataFile(char const *name);
    // Reads a data object's file into it; false (object unchanged) when it
    // cannot be read or decoded. With info the file information is read first,
    // and *infoRead tells whether that worked.
    bool readDataFile(CP11Object *object, char const *name, bool info, bool *infoRead);

    // Container and data files.
    void readContainerFile(CP11Container *container);

    // Attributes.
    void setAllowedMechanisms(CP11Object *key, unsigned long mask);
    void getVendorAttribute(CP11Object *object, CK_ATTRIBUTE *attribute);
    // CKA_CONTAINERS_USAGE: per entry of the card's key capacity table its key
    // size, the valid containers with a key of that size and the rest free.
    std::vector<unsigned char> containersUsage();
    // The object a handle names for this token's sessions: a session object
    // of any session (bit 31 set) or a visible token object.
    CP11Object *objectOf(unsigned long handle);

    // Card reads the read cache answers inside a pass. Data and lists come
    // from the card context's alloc hook: free them with QVMD_Free.
    uint32_t readFile(unsigned char const *dir, unsigned char const *name, unsigned char **data,
                      unsigned long *length, CCardReadCache::Life life);
    uint32_t readFileInfo(unsigned char const *dir, unsigned char const *name,
                          _qv_md_file_info *info);
    uint32_t enumFiles(unsigned char const *dir, unsigned char **names, unsigned long *length);
    // One read through the cache: read fills bytes when the cache cannot.
    using ByteReader = std::function<uint32_t(std::vector<unsigned char> &)>;
    uint32_t cachedRead(CCardReadCache::Kind kind, unsigned char const *dir,
                        unsigned char const *name, CCardReadCache::Life life,
                        std::vector<unsigned char> &bytes, ByteReader const &read);
    // A copy of bytes from the card's alloc hook (NULL and 0 for none).
    static uint32_t cardBytes(_qv_md_card_struct *card, std::vector<unsigned char> const &bytes,
                              unsigned char **data, unsigned long *length);

    CTokenAuthenticator m_authenticator;
    CTransmitParam m_transmitParam;
    _qv_md_card_struct *m_card;            // malloc'd, owned; NULL until Initialize
    unsigned char m_cardcf[6];             // the token's copy of "cardcf"
    CList<CP11Container *> m_containers;   // owned, with their members
    CList<CP11DataObject *> m_dataObjects; // owned
    unsigned char m_dataSlots[DATA_SLOTS]; // entry n: n while data file n exists, else 0xFF
    CCardReadCache m_readCache;            // card reads keyed on the change counters
    CCardCryptoSet m_crypto;               // all zero outside a card RSA step

    friend class CContainersUsage; // its callbacks read through the token's cache
};
