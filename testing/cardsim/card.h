// The simulated vOK card as a card of the virtual reader: it answers the reader's
// controls and the host's APDUs, keeps its persistent state (saved to the state file
// after every change) and its volatile state (selection, authenticated roles, pending
// write, GET RESPONSE stream, card-data cursor), which power off and reset clear.
// Every public call is thread-safe: the reader's link thread and a controlling thread
// may use the card at once.
#pragma once

#include "card_content.h"
#include "card_state.h"
#include "sm_session.h"
#include "vpcd_card.h"

#include <functional>
#include <mutex>
#include <string>

namespace cardsim
{

struct Options {
    bool strictLe = false;      // a case-2 command with an Le other than the reply's gets 6C nn
    bool secondAidOnly = false; // refuse the first application identifier
    size_t cardDataPiece = 254; // largest card-data piece per reply (1..254)
};

// Hostile-card behaviour for tests of the host's error paths. The one-shot faults go
// back to None once they have struck.
enum class Fault {
    None,
    Truncate,     // every reply cut to its first `param` bytes
    TruncateNext, // the next reply cut to its first `param` bytes (once)
    Storm,        // every success ends in 61 08 and GET RESPONSE never ends
    Oversize,     // every reply padded to `param` data bytes before its status word
    FlipRmac,     // the next R-MAC sent has a byte flipped (once)
    RefuseWrite,  // the next file write is refused midway with 65 81, the old content
                  // staying (once): its second chunk, or its only one
};

class Card : public vpcd::CardHandler
{
  public:
    // statePath empty: the state lives in memory only.
    explicit Card(CardState state, Options options = {}, std::string statePath = "");

    // The reader's side.
    Bytes Atr() override;
    void PowerOn() override;
    void PowerOff() override;
    void Reset() override;
    void Disconnected() override; // the reader link dropped: the card lost power
    Bytes Apdu(const Bytes &command) override;

    // Control.
    void ResetVolatile();
    // Raises the "cardcf" counters (mask 1 PIN, 2 containers, 4 files) as another
    // application would, CRC included. False when "cardcf" is missing or too short, or
    // when the change cannot be saved (the card then stays as it was).
    bool BumpCounters(unsigned mask);
    // Path empty: the card's own state file.
    bool Save(const std::string &path = "", std::string *error = nullptr);
    bool Load(const std::string &path = "", std::string *error = nullptr);
    void SetFault(Fault fault, size_t param = 0);
    Fault GetFault() const;
    // Flips every bit of one stored byte (offset < 0: the last one, the CRC).
    bool CorruptFile(const std::string &dir, const std::string &name, long offset = -1);
    void SetOptions(const Options &options);
    Options GetOptions() const;

    // Puts a key into a container as another application or a personalisation would
    // (see InstallKey); privateDer receives the key pair. Saved like a card change.
    bool AddKey(int index, int spec, const KeyOptions &options, std::string *error = nullptr,
                Bytes *privateDer = nullptr);
    // Puts a file as stored into a directory (made when missing), replacing one of the
    // same name.
    bool PutFile(const std::string &dir, const std::string &name, const CardFile &file);
    // Sets the tries left of a PIN (0 blocks it); false for no such PIN.
    bool SetPinTries(size_t index, unsigned char tries);

    // The "cardcf" counters; false when the file is missing, short or damaged.
    struct Counters {
        unsigned pin = 0, containers = 0, files = 0;
    };
    bool ReadCounters(Counters &out) const;
    // APDUs received since the card was made.
    size_t ApduCount() const;

    CardState Snapshot() const;
    // Changes the persistent state under the card's lock and saves it; false (and the
    // change undone) when it cannot be saved.
    bool Modify(const std::function<void(CardState &)> &change);
    unsigned AuthenticatedRoles() const;
    // True while a secure-messaging session is open.
    bool SessionOpen() const;
    // The last failure to save the state file, empty when every save succeeded.
    std::string SaveError() const;

  private:
    struct Reply {
        Bytes data;
        uint16_t sw = 0x9000;
    };
    struct Command {
        unsigned char cla, ins, p1, p2;
        bool hasData = false;
        Bytes data;
        bool hasLe = false;
        size_t le = 0;        // 256 for an Le byte of 00
        bool secured = false; // arrived as B4 and passed the session's checks
        // the 8-byte B0 54 a b c x y z: P1 a, P2 b, data c x y z (byte 4 is no length)
        bool parameterForm = false;
    };
    struct PendingWrite {
        bool active = false;
        std::string dir, name;
        uint32_t storedLength = 0, plainLength = 0;
        bool inPlace = false;
        Bytes buffer;
    };
    // An RSA operation assembled over several commands.
    struct RsaBuffer {
        bool active = false;
        unsigned char ins = 0, index = 0, spec = 0;
        bool pairOpen = false; // the first piece of a pair came, the second is due
        Bytes block;
    };
    // A key import: its target (set by create container) and the parts received.
    struct Import {
        bool targetSet = false;
        int index = 0, spec = 0;
        int expected = 0; // next code: 0 modulus (code 0, or 7 then 7), -7 the modulus' second
                          // piece, 1..6 that code
        Bytes n, e, p, q, dp, dq, qinv;
    };
    struct Cursor {
        bool active = false;
        size_t begin = 0, length = 0, position = 0; // a range of the card data
    };

    Reply Dispatch(const Command &c);
    Reply Secure(const Command &c);
    // container commands (card_keys.cpp)
    Reply CreateContainer(const Command &c);
    Reply DeleteContainer(const Command &c);
    Reply KeyInformation(const Command &c);
    Reply ImportKey(const Command &c);
    Reply RsaOperation(const Command &c);
    // The key of a container command's P1 and key spec, or null and the failure
    // (6A 86 bad key spec, 6A 82 no such container, 6A 83 no usable key).
    const CardKey *CommandKey(unsigned char index, unsigned spec, bool privateNeeded,
                              Reply &failure) const;
    void DropImport();
    Reply ChangeContainerAccess(const Command &c);
    // administration (card_admin.cpp)
    Reply SetCardData(const Command &c);
    Reply FreeMemory(const Command &c);   // B0 AC before 1.0, B0 1C (memory or containers)
    Reply PinChallenge(const Command &c); // get or cancel
    Reply UpdatePinProperties(const Command &c);
    Reply AdminCard(const Command &c); // compute a response, activate a PIN
    Reply ImportedKeyParameters(const Command &c);
    // A command that arrived protected with at least a C-MAC.
    bool MacProtected(const Command &c) const { return c.secured && (m_sm.Level() & 0x01); }
    Reply Challenge(const Command &c);
    Reply CloseSession(const Command &c);
    Reply Select(const Command &c);
    Reply GetResponse(const Command &c);
    Reply GetInfo(const Command &c);
    Reply CardData(const Command &c);
    Reply ListFiles(const Command &c);
    Reply FileInfo(const Command &c);
    Reply ReadInit(const Command &c);
    Reply CreateFile(const Command &c);
    Reply WriteInit(const Command &c, bool inPlace);
    Reply WriteChunk(const Command &c);
    Reply DeleteFile(const Command &c);
    Reply CreateDir(const Command &c);
    Reply DeleteDir(const Command &c);
    Reply Verify(const Command &c);
    Reply Logout(const Command &c);
    Reply ChangePin(const Command &c); // change and unblock alike
    Reply CaseTwo(const Command &c, Bytes data);
    Bytes Finish(Reply reply);
    bool Privileged() const { return (m_roles & 0x06) != 0; }
    // Checks a value against PIN `index`; a wrong one costs a try, a right one restores them.
    bool CheckPin(size_t index, const Bytes &given, Reply &failure);
    // The file when its directory and it exist and the free right (or a
    // privileged role) allows the access; otherwise null and the failure.
    CardFile *AccessibleFile(const std::string &dir, const std::string &name,
                             unsigned char freeRight, Reply &failure);
    // FF-padded PINs come at the maximum PIN length, others at 1 to that length.
    bool PinLengthFits(const CardPin &pin, size_t length) const;
    Bytes NormalisePin(const CardPin &pin, const Bytes &given) const;
    void ClearVolatileLocked();
    void EndStream();
    // Saves the state file; when that fails the state goes back to the last saved one
    // (nothing the card could not keep is done) and the result is false.
    bool Persist();
    // Persist as a reply: 90 00, or 65 81 when the change could not be kept.
    Reply Commit();

    mutable std::mutex m_lock;
    CardState m_state;
    CardState m_saved; // the state as last saved (only with a state file)
    Options m_options;
    std::string m_statePath;
    std::string m_saveError;
    Fault m_fault = Fault::None;
    size_t m_faultParam = 0;
    // volatile
    bool m_selected = false;
    unsigned m_roles = 0;
    PendingWrite m_write;
    Bytes m_stream;
    size_t m_streamPos = 0;
    bool m_streamActive = false;
    Cursor m_cursor;
    SmSession m_sm;
    RsaBuffer m_rsa;
    Import m_import;
    Bytes m_keptResult; // a decryption kept on the card
    Bytes m_challenge;  // the challenge a challenge-response PIN answers, until used
    size_t m_apduCount = 0;
};

} // namespace cardsim
