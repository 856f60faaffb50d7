// The card manager's binding to the PKCS#11 module, which it loads at run time
// by path and reaches only through the module's function list.
//
// One object stands for the loaded module. It keeps one read-write session
// per slot, opened by SaveReader; slots are addressed by their position in
// the module's slot list (the slot index, from 0), never by slot ID. Records
// of readers, cards, keys and certificates are read into plain structures
// (client_records.h) that the window copies out. Every operation writes an
// entry line, one line per PKCS#11 call and a closing line to the trace log
// (trace_log.h); no PIN, attribute value or key material ever reaches it.
//
// Results are ints: 0, the PKCS#11 code of the failing call passed on
// unchanged, or one of the client's codes (client_codes.h). Beyond those:
// a slot index the client does not know gives CKR_SLOT_ID_INVALID, a PIN text
// that has no UTF-8 form CKR_PIN_INVALID, and a value too long for its record
// field CKR_BUFFER_TOO_SMALL. While no module is loaded, operations that
// return a code give client_code::NO_MODULE and the counts are 0.
//
// One thread only: the object has no locks.
#pragma once

#include <QFile>
#include <QLibrary>
#include <QString>

#include <openssl/types.h>
#include <p11-kit/pkcs11.h>

#include <functional>
#include <memory>
#include <vector>

#include "client/client_records.h"
#include "client/secret_bytes.h"

class Pkcs11Manipulator : public QLibrary
{
  public:
    // Opens (and empties) the trace log; loads nothing.
    Pkcs11Manipulator();
    // Finalises the module when this client's C_Initialize succeeded (a module
    // that another user had initialised already is left to it), unloads it,
    // and wipes the kept PIN.
    ~Pkcs11Manipulator() override;
    Pkcs11Manipulator(Pkcs11Manipulator const &) = delete;
    Pkcs11Manipulator &operator=(Pkcs11Manipulator const &) = delete;

    // Loads the module named by the program's single argument (exactly one
    // argument), else the first of the default paths that loads, and
    // initialises it. Returns C_Initialize's code, or NO_MODULE when the named
    // file does not exist or no module loads or offers C_GetFunctionList.
    int LoadApi();
    // The same with the module path given by the caller: a non-empty path is
    // the only file tried, as the program argument is; an empty one means the
    // default paths.
    int LoadApi(QString const &modulePath);
    // The module's library version as "major.minor"; empty when unknown.
    QString GetInfo();
    // The number of slots of the module; makes the per-slot records anew.
    int GetReadersCount();
    // Closes all sessions of every slot index; returns the last result.
    int Reinitialize();
    // Closes all sessions of the slot at this index only; the other slots'
    // sessions, and their log-ins, stay.
    int Reinitialize(int slot);

    // Appends one line to the trace log (see TraceLine); status 1000 is
    // written as "entered" and 1001 as "finished".
    void logToFile(QString who, QString what, unsigned long status, QString info);
    // The trace log's path; empty when no log could be opened.
    QString traceLogPath() const;

    // Reads the slot's reader record; for a slot with a token, opens the
    // slot's session and reads the card's ATR. A slot without a token is no
    // failure.
    int SaveReader(int slot);
    // Reads the slot's card record: serial, memory, PIN tries, containers.
    int SaveCard(int slot);
    // Reads every key and certificate the slot's session sees into the
    // slot's tables. An object whose value does not fit its record is left
    // out; the result is then CKR_BUFFER_TOO_SMALL unless the search failed.
    int SaveObjects(int slot);

    // Copies of the records; an unknown slot or index gives an empty record.
    reader_info GetReaderStruct(int slot);
    card_info GetCardStruct(int slot);
    key_info GetPrivKeyStruct(int slot, int index);
    key_info GetPubKeyStruct(int slot, int index);
    cert_info GetCertStruct(int slot, int index);
    int GetPrivKeyCount(int slot);
    int GetPubKeyCount(int slot);
    int GetCertsCount(int slot);
    int GetCertSerialLength(int slot, int index);
    // 1 when SaveReader found a token in the slot, else 0. No card is touched.
    int SCardConnect(int slot);
    int GetReadersWithTokenCount();
    // The state of the slot's session (3: the user is logged in), or
    // NO_SESSION when it cannot be read.
    int GetState(int slot);

    // Length of a blank-padded text field without its trailing padding
    // (bytes up to 0x20).
    static int getAttributeLength(char const *field, int width);
    // 1 when the first count bytes are equal (also for count 0 or less).
    static int sameValues(char const *a, char const *b, int count);

    // Logs in (user type 1: the PIN, 0: the PUK) and keeps the PIN's bytes as
    // the old value of a later ChangePin, whatever the module answers. A PIN
    // text without UTF-8 form is refused before the module sees it, and no
    // PIN is kept then.
    int Login(int slot, QString pin, int userType);
    // Forgets the kept PIN and logs out.
    int Logout(int &slot);
    // Changes the PIN of the logged-in user (the PUK after an SO login) from
    // the kept PIN to the new one.
    int ChangePin(int slot, QString newPin);
    // In the PUK's session: unblocks the PIN and sets it anew.
    int InitPin(int slot, QString newPin);
    // Reads the tries of the PIN (user type 1) or the PUK into the card record.
    int UpdatePinTries(int slot, int userType);

    // Imports the RSA key pair and the certificate of a DER PKCS#12 file into
    // a new key container: the private key first, then the public key and the
    // certificate into the container the token chose for it (no certificate
    // step for a file without one). Only 2048-bit keys. Results: 0; KEY_FILE
    // when the file cannot be read or its content decoded; KEY_PASSWORD when
    // the password does not open it; KEY_TYPE when its key is not a whole RSA
    // key; KEY_SIZE when the modulus is not 2048 bits or a component does not
    // fit its field; else the code of the failing call. A failed import
    // destroys again whatever it created. The key's components and the
    // password are wiped after use.
    int ImportKey(int slot, QString file, QString password);
    // Creates the certificate (its DER form) in the named container.
    int ImportCert(int slot, X509 *certificate, QString container);
    // Creates a certificate whose value is the file's whole content, unparsed,
    // in the named container; CERT_FILE when the file cannot be read.
    int ImportCert(int slot, QString file, QString container);
    // Writes the number big-endian and right-aligned into out[0..width-1],
    // zeros in front; returns its significant bytes, or -1 (nothing written)
    // when they do not fit.
    static int ExportBN(BIGNUM const *bn, unsigned char *out, int width);

    // Write the certificate's DER value, or the public key as PKCS#1
    // RSAPublicKey DER, of a record read by SaveObjects to a file, replacing
    // it. 1 when all of it was written, else 0 (also for a record the slot
    // does not have).
    int ExportCert(int slot, int index, QString file);
    int ExportKey(int slot, int index, QString file);

    // Tests every key pair of the container: each private key against the
    // public key of its CKA_ID, with an operation the private key allows (a key
    // that may sign signs 20 random bytes with SHA1-RSA and its public key
    // verifies them; a key that may only decrypt decrypts on the card what its
    // public key encrypted; a key that may neither is tried with a signature).
    // 0 when every pair passes; NO_KEY_PAIR when a private key has no public
    // key or a public key no private key (also for a container without keys),
    // which is looked at before any operation; else the code of the failing
    // call (CKR_SIGNATURE_INVALID: the two keys do not belong together, also
    // when a decryption gives other bytes or fails as a wrong key's does). The
    // first failing key's record goes to *failed, when given: the private
    // key's (the public key's when it has no private key), as SaveObjects
    // fills it (an empty record when it cannot be read); *failed is left alone
    // when no key failed, also for a container without keys.
    int TestKey(int slot, QString container, key_info *failed = nullptr);
    // Destroys the container's certificates (kind 1) or its certificates and
    // keys (kind 2); any other kind destroys nothing. The container is named
    // by its exact bytes; an empty name names none. 0, or the code of the call
    // that stopped it (what was destroyed before stays destroyed).
    int DeleteObject(int slot, int kind, char const *container);
    // Destroys the certificate of the record SaveObjects read at that index:
    // the one of its container with the record's value, not the container's
    // other certificate. 0, CERT_GONE when the card no longer holds it, or the
    // code of the call that stopped it; CKR_ARGUMENTS_BAD for an unknown record.
    int DeleteCertificate(int slot, int index);

  private:
    using AttributeValues = std::vector<std::vector<unsigned char>>;

    // Trace lines of the client's operations and of its PKCS#11 calls; each
    // returns the code it wrote.
    void enter(QString const &what);
    int leave(QString const &what, long result);
    CK_RV traced(QString const &what, CK_RV rv, QString const &info = QString());

    // NO_MODULE without a module, CKR_SLOT_ID_INVALID for an unknown slot
    // index, else 0.
    long unusable(int slot) const;
    bool knownSlot(int slot) const;
    void resizeSlots(CK_ULONG count);
    // The module's slot IDs in list order, read in two calls.
    CK_RV slotIds(std::vector<CK_SLOT_ID> &ids);
    // The ID of the slot at this index of the module's current slot list.
    CK_RV slotIdAt(int slot, CK_SLOT_ID &id);
    // Reads attributes of an object (0: the token itself) in two calls, their
    // lengths first, then their values into buffers of those lengths; each
    // call writes its trace line. CKR_HOST_MEMORY when a buffer cannot be had.
    CK_RV readAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                         std::vector<CK_ATTRIBUTE_TYPE> const &types, AttributeValues &values,
                         QString const &what, QString const &info = QString());
    // ChangePin (C_SetPIN from the kept PIN) and InitPin (C_InitPIN).
    int setPin(int slot, QString const &newPin, bool unblock);
    // A buffer of the length a token reported; false when it cannot be had.
    static bool sized(std::vector<unsigned char> &buffer, CK_ULONG length);
    // A container name as the token gives it: up to a zero byte, if any.
    static QByteArray nameOf(std::vector<unsigned char> const &value);
    // The class of an object, read in two steps.
    CK_RV objectClass(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_OBJECT_CLASS &cls,
                      QString const &what);
    // Creates a certificate object in the container of that name.
    CK_RV createCertificate(int slot, unsigned char const *der, size_t length,
                            QByteArray const &container);
    // ImportCert of a certificate, with the container's name as bytes.
    int importCertificate(int slot, X509 *certificate, QByteArray const &container);
    // Destroys objects this client created, the last one first.
    void destroyCreated(int slot, std::vector<CK_OBJECT_HANDLE> const &created);
    // A key of a container as the key test pairs it: by its CKA_ID.
    struct PairedKey {
        CK_OBJECT_HANDLE handle;
        CK_OBJECT_CLASS cls;
        std::vector<unsigned char> id;
    };
    using PairedKeys = std::vector<PairedKey>;
    // The container's keys in search order, with their CKA_IDs.
    CK_RV containerKeys(int slot, QByteArray const &container, PairedKeys &keys);
    // The first key without a key of the other class of its CKA_ID; null when
    // every key has its partner.
    static PairedKey const *unpaired(PairedKeys const &keys);
    // Tests every private key against each public key of its CKA_ID; the
    // private key of the first failing pair goes to failing.
    CK_RV testPairs(int slot, PairedKeys const &keys, PairedKey const *&failing);
    // One pair, with the operation the private key allows.
    CK_RV testPair(int slot, CK_OBJECT_HANDLE privateKey, CK_OBJECT_HANDLE publicKey);
    CK_RV signAndVerify(int slot, CK_OBJECT_HANDLE privateKey, CK_OBJECT_HANDLE publicKey,
                        std::vector<unsigned char> const &data);
    CK_RV encryptAndDecrypt(int slot, CK_OBJECT_HANDLE privateKey, CK_OBJECT_HANDLE publicKey,
                            std::vector<unsigned char> const &data);
    // 20 random bytes of the token; zeros when it gives none.
    std::vector<unsigned char> testData(int slot);
    // A call that hands out bytes, made twice: for the length (null buffer),
    // then into a buffer of that length. Its trace text is call, whose one
    // placeholder left takes "NULL" and then buffer; the info gives the length
    // as lengthName.
    using Output = std::function<CK_RV(CK_BYTE_PTR, CK_ULONG_PTR)>;
    CK_RV output(QString const &call, QString const &buffer, QString const &lengthName,
                 Output const &step, std::vector<unsigned char> &out);
    // Reads a key's record as SaveObjects keeps it; fits tells whether its
    // values fit the record.
    CK_RV readKeyRecord(int slot, CK_OBJECT_HANDLE ho, CK_OBJECT_CLASS cls, key_info &key,
                        bool &fits);
    // One search over every object the slot's session sees, handing each
    // certificate, public and private key of the named container to visit,
    // which answers CKR_OK to go on. Objects in no container are passed over.
    // Returns the first failing call's code; the search is always ended.
    using Visit = std::function<CK_RV(CK_OBJECT_HANDLE, CK_OBJECT_CLASS)>;
    CK_RV walkContainer(int slot, QByteArray const &container, Visit const &visit);

    CK_C_GetFunctionList pGetFunctionList = nullptr;
    CK_FUNCTION_LIST_PTR pFunctionList = nullptr;
    std::vector<CK_SESSION_HANDLE> hSes; // by slot index
    SecretBytes pin;                     // the PIN of the last Login
    CK_ULONG n = 0;                      // slot count
    bool loaded = false;
    bool initialised = false; // this client's C_Initialize succeeded
    std::vector<reader_info> readers;
    std::vector<card_info> cards;
    std::vector<int> tokenPresent;
    std::vector<std::vector<key_info>> privKeys; // by slot index, then position
    std::vector<std::vector<key_info>> pubKeys;
    std::vector<std::vector<cert_info>> certs;
    std::unique_ptr<QFile> logFile;
    QString logPath; // empty without a log
};
