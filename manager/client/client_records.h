// The card manager's records of a reader, a card, a key and a certificate:
// plain copies of what the client read through PKCS#11, filled by
// Pkcs11Manipulator and handed out by value.
//
// Text fields are trimmed copies of blank-padded PKCS#11 fields followed by a
// zero byte; a text that fills its field has none, so readers take at most the
// field's width. Byte fields hold their length beside them.
#pragma once

#include <QDate>
#include <QString>

#include <cstdint>
#include <vector>

struct reader_info {
    char slotDescription[64];
    char manufacturerID[32];
    // The token label, " v", the first digits of the firmware's major and minor
    // version ("eID v1.2"); empty when the slot has no token.
    char tokenLabel[64];
    uint8_t atr[36];
    int32_t atrLen; // 0 when the slot has no token
};

struct card_info {
    char serialNumber[16];
    uint64_t freePublicMemory;
    uint64_t totalPublicMemory;
    uint64_t userPin[3]; // try limit, tries left, status
    uint64_t soPin[3];   // the same for the PUK
    uint64_t containersUsed;
    uint64_t containersFree;
    uint64_t rsa2048[3]; // key size, used, free of the 2048-bit containers
    uint64_t minPinLen;  // the shortest and longest PIN the token takes, in bytes
    uint64_t maxPinLen;
};

struct key_info {
    char containerName[256];
    uint64_t modulusBits;
    // Private key: sign, unwrap, decrypt; public key: verify, wrap, encrypt.
    uint8_t flags[3];
    uint8_t modulus[256]; // big-endian
    uint32_t modulusLen;
    uint8_t exponent[3]; // big-endian, without leading zero bytes
    uint32_t exponentLen;
};

struct cert_info {
    char containerName[256];
    uint8_t serial[32]; // the content bytes of the DER INTEGER
    uint32_t serialLen;
    QDate notBefore; // null when the certificate object has no date
    QDate notAfter;
    std::vector<uint8_t> value; // the whole DER certificate
    uint32_t valueLen;          // its length
    QString sha1; // SHA-1 of the value in upper-case hexadecimal
};
