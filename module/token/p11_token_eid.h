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
#include <memory>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "base/blob.h"
#include "base/list.h"
#include "base/p11_exception.h"
#include "objects/p11_object.h"
#include "card/qvmd_card.h"
#include "card/qvmd_files.h"
#include "card/token_transmit.h"
#include "token/card_crypto_set.h"
#include "core/p11_token.h"
#include "token/card_read_cache.h"

struct _qv_md_container_usage_record;

class CChannel;
class CContainersUsage;
class CKeyAsymetric;
class CP11Container;
class CP11DataObject;
class CP11Key;
class CP11Object;
class CP11PrivateKey;
class CP11PublicKey;
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
    // Allowed mechanisms a key gets by its class when nobody names them: the
    // token's mechanisms with one of these purposes.
    static constexpr unsigned long PRIVATE_KEY_MECHANISMS =
        CKF_DECRYPT | CKF_SIGN | CKF_SIGN_RECOVER | CKF_UNWRAP;
    static constexpr unsigned long PUBLIC_KEY_MECHANISMS =
        CKF_ENCRYPT | CKF_VERIFY | CKF_VERIFY_RECOVER | CKF_WRAP;
    // The card directories and the container map file, as card names.
    static constexpr unsigned char QV_P11_DIR[8] = {'q', 'v', '_', 'p', '1', '1', 0, 0};
    static constexpr unsigned char MSCP_DIR[8] = {'m', 's', 'c', 'p', 0, 0, 0, 0};
    static constexpr unsigned char CMAP_FILE[8] = {'c', 'm', 'a', 'p', 'f', 'i', 'l', 'e'};

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

    // Destroying objects.
    void DestroyObject(unsigned long session, unsigned long object) override;

    // Creating, copying and changing objects; key pairs generated on the card.
    void CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                      unsigned long *object) override;
    void CopyObject(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                    unsigned long count, unsigned long *newObject) override;
    void SetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                           unsigned long count) override;
    void GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                         CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                         CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                         unsigned long *publicKey, unsigned long *privateKey) override;

    // Digests, verification and encryption in software; the refused operation
    // kinds of the same families.
    void DigestInit(unsigned long session, CK_MECHANISM *mechanism) override;
    void Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                unsigned char *digest, unsigned long *digestLength) override;
    void DigestUpdate(unsigned long session, unsigned char *part,
                      unsigned long partLength) override;
    void DigestKey(unsigned long session, unsigned long key) override;
    void DigestFinal(unsigned long session, unsigned char *digest,
                     unsigned long *digestLength) override;
    void VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key) override;
    void Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                unsigned char *signature, unsigned long signatureLength) override;
    void VerifyUpdate(unsigned long session, unsigned char *part,
                      unsigned long partLength) override;
    void VerifyFinal(unsigned long session, unsigned char *signature,
                     unsigned long signatureLength) override;
    void EncryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key) override;
    void Encrypt(unsigned long session, unsigned char *data, unsigned long dataLength,
                 unsigned char *encrypted, unsigned long *encryptedLength) override;
    void EncryptUpdate(unsigned long session, unsigned char *part, unsigned long partLength,
                       unsigned char *encrypted, unsigned long *encryptedLength) override;
    void EncryptFinal(unsigned long session, unsigned char *lastPart,
                      unsigned long *lastPartLength) override;
    void DecryptUpdate(unsigned long session, unsigned char *encryptedPart,
                       unsigned long encryptedLength, unsigned char *part,
                       unsigned long *partLength) override;
    void DecryptFinal(unsigned long session, unsigned char *lastPart,
                      unsigned long *lastPartLength) override;
    void GetOperationState(unsigned long session, unsigned char *state,
                           unsigned long *stateLength) override;
    void SetOperationState(unsigned long session, unsigned char *state, unsigned long stateLength,
                           unsigned long encryptionKey, unsigned long authenticationKey) override;

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
    // container-map record each; counted again only when the card's containers
    // counter has moved since the last count.
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
    // Rewrites (or creates) the "contNN" file of the container's number: the
    // container's element first, its companion's second.
    void writeContainerFile(CP11Container *container);
    // Creates or overwrites the data file the object's CKA_USER_ID names.
    void writeDataObject(CP11Object *object, bool create);
    // A copy of the data object stored in the lowest free data file and kept in
    // the token's list (not yet in the visible list); its handle.
    void pushDataObject(CP11Object *object, unsigned long *handle);
    // The other container type of a card container number.
    static unsigned long companionType(unsigned long type);
    // The 8-byte card name in a data object's CKA_USER_ID (zero-terminated or
    // zero-padded); CKR_GENERAL_ERROR when it has none.
    static void cardNameOf(CP11Object *object, unsigned char name[8]);
    // Raises the card's files counter and takes the new value as the token's.
    void raiseFilesCounter();

    // The checks the Init operations of the crypto families share.
    // The mechanism logged, NULL refused (CKR_ARGUMENTS_BAD).
    static void logMechanism(CK_MECHANISM *mechanism);
    // CKR_MECHANISM_INVALID, with its line, unless the mechanism has the
    // purpose flag.
    void requirePurpose(unsigned long mechanism, unsigned long flag, char const *flagName);
    // The RSA key of a key operation: its class (the other key class is
    // CKR_KEY_FUNCTION_NOT_PERMITTED, anything else CKR_KEY_HANDLE_INVALID), key
    // type, allowed mechanism and usage attribute checked.
    CP11Key *keyFor(unsigned long handle, unsigned long cls, unsigned long mechanism,
                    unsigned long usage, char const *usageName);
    // The refusal (CKR_FUNCTION_NOT_SUPPORTED) of an operation kind the token
    // does not carry out, once the session is found.
    void refusedForSession(char const *method, unsigned long session);
    // A new RSA context of the session over the public key, initialised for
    // the operation.
    static CKeyAsymetric *publicContext(CP11Session *session, CP11Key *key, unsigned long handle,
                                        unsigned long mechanism, unsigned long operation);

    // Destroying: a token object from the card and the token (freed, except a
    // key that stays hidden in a surviving container).
    void destroyObject(CP11Object *object);
    // A certificate or key: its file deleted or the key hidden, the container
    // and its twin destroyed when neither has a visible member left.
    void destroyMember(CP11Object *object, unsigned long cls);
    void deleteCertificateFile(unsigned char number, unsigned long type);
    // Whether the card holds the key of a container type under the number.
    bool keyOnCard(unsigned char number, unsigned long type);
    void destroyDataObject(CP11Object *object);
    // Deletes the card container and its record in the container map; the
    // container leaves the token's list and is freed with its members.
    void destroyContainer(CP11Container *container);
    // The same; *gone (when given) is set once the card container is deleted,
    // from when the container is freed even if a later step fails.
    void destroyContainer(CP11Container *container, bool *gone);
    // Takes a container out of the token and frees it (NULL: nothing).
    void dropContainer(CP11Container *container);

    // The session of a handle for a change of objects, and its state;
    // CKR_SESSION_READ_ONLY (with its line) for a read-only session.
    CP11Session *writableSession(unsigned long handle, unsigned long *state);
    // A read-write session of the user or the security officer.
    static bool loggedInReadWrite(unsigned long state)
    {
        return state == CKS_RW_USER_FUNCTIONS || state == CKS_RW_SO_FUNCTIONS;
    }
    // The classes whose objects carry CKA_TRUSTED: certificates, public and
    // secret keys.
    static bool trustable(unsigned long cls)
    {
        return cls == CKO_CERTIFICATE || cls == CKO_PUBLIC_KEY || cls == CKO_SECRET_KEY;
    }
    // Applies a caller's template to an object with the operation's rules, entry
    // by entry. The module's own object attributes (CKA_HIDDEN, CKA_USER_ID,
    // CKA_USER_FLAGS) are nobody else's to write: CKR_ATTRIBUTE_TYPE_INVALID.
    // With name, a CKA_OBJECT_CONTAINER_NAME entry goes into it instead (the
    // last one counts).
    static void applyTemplate(CP11Object *object, CK_ATTRIBUTE *templ, unsigned long count,
                              P11Operation operation, CBlob *name = nullptr);
    // A new object of the class its CKA_CLASS names (data object, X.509
    // certificate, RSA public or private key) with the object's attributes and
    // handle, so with that class's rules also when the object is a session
    // object kept without them; NULL for another class.
    static CP11Object *classCopy(CP11Object *object);
    // Every attribute of from that to has, given to to as it is.
    static void copyAttributes(CP11Object *to, CP11Object *from);
    // Zeroes and empties the private RSA components an attribute bag holds.
    static void wipePrivateComponents(CP11Base *bag);
    // A card key's public exponent as the token keeps it: the card's four
    // bytes 00 01 00 01 become 01 00 01, any other is kept.
    static void cardExponent(unsigned char const *&exponent, unsigned long &length);

    // Key pairs generated on the card. The card path of GenerateKeyPair: copies
    // of the two keys (which stay the caller's) in a new card container; their
    // handles.
    void generateKeyPair(CP11PublicKey *pub, CP11PrivateKey *priv, unsigned long *phPublicKey,
                         unsigned long *phPrivateKey);
    // A new container object with a free container number for a key of that
    // size, not yet on the card nor in the list. CKR_KEY_SIZE_RANGE for a size
    // the card does not list, CKR_DEVICE_MEMORY for a full card.
    CP11Container *newContainer(unsigned long bits);
    // The new container of a private key, as newContainer gives it, with the
    // type and key number the key's usage gives (containerKindOf) and a new
    // name as its label; *usage receives the container flags for
    // createContainer. Generation and import take their containers here.
    CP11Container *newKeyContainer(CP11Object *privateKey, unsigned long bits,
                                   unsigned long *usage);
    // Registers the container in the container map and has the card create it
    // (generating the key when an exponent of at most 8 bytes is given, else
    // keeping the slot for an import); then the container is in the list. A
    // failure leaves the card as it was. The map as it was before stays in
    // m_mapBeforeCreate for discardContainer.
    void createContainer(CP11Container *container, unsigned long flags, unsigned long bits,
                         unsigned char const *exponent, unsigned long exponentLength);
    // Undoes a createContainer whose generation or import failed later: the card
    // container (and its attribute file) deleted, the container map put back,
    // the container freed with its members. Nothing is thrown.
    void discardContainer(CP11Container *container);
    // The card side of that: the counters raised, the card container of the
    // number deleted and m_mapBeforeCreate written back; failures only logged.
    void undoNewContainer(unsigned char number);
    // A new container name of at most size - 1 characters, never one the card's
    // map or the token holds: "VOK-RAL-", the serial number and a hash of the
    // container number, the time and random bytes.
    void generateContainerName(char *name, unsigned long size, unsigned char number);
    // The private memory the card's containers take has changed by the new
    // container's key size, and nobody else's change came between.
    void containerAdded(unsigned long bits);

    // Certificate and key import. pushObject hands a new token object to the
    // card by its class; each push stores the token's own copy and gives its
    // handle, with the card locked and the PIN presented by the caller.
    void pushObject(CP11Object *object, CBlob *name, unsigned long *handle);
    void pushCertificate(CP11Object *certificate, CBlob *name, unsigned long *handle);
    void pushPublicKey(CP11Object *key, CBlob *name, unsigned long *handle);
    void pushPrivateKey(CP11Object *key, unsigned long *handle);
    // Puts the private key into the card container under secure messaging and
    // records its size in the container map; on success the container holds it.
    void importContainerKey(CP11Container *container, CP11Object *privateKey);
    // The container's members written to its attribute file with member
    // (certificate, public or private key by its class) standing in for the
    // one of its class; memory is left as it was.
    void writeContainerFileWith(CP11Container *container, CP11Object *member);

    // Attributes.
    void setAllowedMechanisms(CP11Object *key, unsigned long mask);
    void getVendorAttribute(CP11Object *object, CK_ATTRIBUTE *attribute);
    // CKA_CONTAINERS_USAGE: per entry of the card's key capacity table its key
    // size, the valid containers with a key of that size and the rest free.
    std::vector<unsigned char> containersUsage();
    // The object a handle names for this token's sessions: a session object
    // of any session (bit 31 set) or a visible token object.
    CP11Object *objectOf(unsigned long handle);

    // Memory the card layer handed out, given back with QVMD_Free at the end of
    // the scope.
    using CardMemory = std::unique_ptr<unsigned char, std::function<void(unsigned char *)>>;
    CardMemory cardMemory(unsigned char *p)
    {
        return CardMemory(p, [this](unsigned char *q) { QVMD_Free(m_card, q); });
    }

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
    // The same for a read that hands out a buffer of the card's alloc hook.
    using BufferReader = std::function<uint32_t(unsigned char **, unsigned long *)>;
    uint32_t cachedBuffer(CCardReadCache::Kind kind, unsigned char const *dir,
                          unsigned char const *name, CCardReadCache::Life life,
                          BufferReader const &read, unsigned char **data, unsigned long *length);
    // A copy of bytes from the card's alloc hook (NULL and 0 for none).
    static uint32_t cardBytes(_qv_md_card_struct *card, std::vector<unsigned char> const &bytes,
                              unsigned char **data, unsigned long *length);

    CTokenAuthenticator m_authenticator;
    CTransmitParam m_transmitParam;
    _qv_md_card_struct *m_card;                   // malloc'd, owned; NULL until Initialize
    unsigned char m_cardcf[6];                    // the token's copy of "cardcf"
    CList<CP11Container *> m_containers;          // owned, with their members
    CList<CP11DataObject *> m_dataObjects;        // owned
    unsigned char m_dataSlots[DATA_SLOTS];        // entry n: n while data file n exists, else 0xFF
    CCardReadCache m_readCache;                   // card reads keyed on the change counters
    CCardCryptoSet m_crypto;                      // all zero outside a card RSA step
    std::vector<unsigned char> m_mapBeforeCreate; // "cmapfile" before the last new container
    // Private memory the valid card containers take, as last counted, and the
    // card's containers counter ("cardcf" bytes 2-3) it was counted at.
    struct PrivateUse {
        bool known = false;
        unsigned char counter[2] = {};
        unsigned long used = 0;
    } m_privateUse;

    friend class CContainersUsage; // its callbacks read through the token's cache
};
