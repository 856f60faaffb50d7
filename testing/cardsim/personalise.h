// Personalisation of a new simulated card: its identity, PINs, card data signed with the
// issuer key, and the initial file system.
#pragma once

#include "card_content.h"
#include "card_state.h"

#include <string>
#include <vector>

namespace cardsim
{

// 3B 0D and the 13 historical bytes of the card family.
Bytes DefaultAtr();

// One key of a personalised container.
struct ContainerKey {
    int bits = 0;            // 0: no key of this spec
    unsigned char usage = 0; // 0: 0x01 signature, 0x06 exchange
    bool publicOnly = false; // the card holds the public key only
    bool certificate = true; // with its certificate in "mscp" (kscNN / kxcNN)
    bool expired = false;    // a certificate whose validity has ended
};

struct ContainerSpec {
    std::string name;       // container map name; empty: "cardsim-container-NN"
    ContainerKey keys[2];   // by key spec: 0 signature, 1 exchange
    bool isDefault = false; // container map flag 2
};

// A further file of the new card, as stored.
struct PersonalFile {
    std::string dir, name; // dir "" is the root; a missing directory is made
    CardFile file;
};

struct Personalisation {
    Bytes atr = DefaultAtr();
    unsigned char appletMajor = 1;
    unsigned char appletMinor = 2;
    // 16 bytes; the default is 00 x 8 followed by 11 22 .. 88
    Bytes serial = {0, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    Bytes cardId; // 8 bytes; empty: the last 8 bytes of the serial
    std::string userPin = "123456";
    bool userPinPadded = true; // FF-padded to the maximum length (type code 3), else type 1
    std::string puk = "12345678";
    unsigned char maxPinLength = 8;
    bool userPinInitialised = true; // the role-8 record with no tries left
    // PIN 2, a challenge-response PIN of role 10 (type code 2, try limit 3, changed or
    // unblocked by PINs 1 and 2) whose key is the admin key
    bool challengePin = false;
    // container 0 with a signature and an exchange key of keyBits and their certificates
    // (when `containers` is empty)
    bool withContainer = false;
    int keyBits = 2048;
    // containers 0, 1, ... as described, with their map records and certificates
    std::vector<ContainerSpec> containers;
    // the certificate files of container NN hold the certificates of container
    // (count - 1 - NN)'s keys
    bool certificatesReversed = false;
    // information kind 1 lists 2560, 3072 and 4096 bits besides 1024 and 2048
    bool largerKeys = false;
    std::vector<PersonalFile> files;
    std::string issuerKeyPath = std::string(VOK_CARDSIM_FIXTURES) + "/test_only_issuer_key.pem";
    // the secure-messaging master key as 32 hex digits
    std::string masterKeyPath = std::string(VOK_CARDSIM_FIXTURES) + "/test_only_mk.hex";
    // the admin card's key of reference 01 as 48 hex digits
    std::string adminKeyPath = std::string(VOK_CARDSIM_FIXTURES) + "/test_only_admin_key.hex";
};

// Reads a key file of hex digits (the master key: 32, the admin key: 48); empty when it
// cannot or when the key has another length.
Bytes ReadKeyFile(const std::string &path, size_t length);
inline Bytes ReadMasterKey(const std::string &path = std::string(VOK_CARDSIM_FIXTURES) +
                                                     "/test_only_mk.hex")
{
    return ReadKeyFile(path, 16);
}

// False (and a reason) when the issuer key cannot be read or a key cannot be made.
// certificates, when given, receives the DER certificates as they were before
// compression, by container and within it signature before exchange.
bool Personalise(const Personalisation &p, CardState &state, std::string *error,
                 std::vector<Bytes> *certificates = nullptr);

// Card data: tag 1 (signed tags: 03 for the card identifier, then 02 and 05), tag 2
// (24 bytes), tag 5 (holder text) and tag 4, the issuer's RSA PKCS#1 v1.5 signature
// (SHA-256) over the card identifier followed by the values of tags 2 and 5.
bool BuildCardData(const Bytes &cardId, const std::string &issuerKeyPath, Bytes &cardData,
                   std::string *error);

} // namespace cardsim
