// Key containers: numbered slots on the card, each with a signature key (key spec 0)
// and a key-exchange key (key spec 1). Creating one (the card generates the key, or
// keeps the slot for an imported key) is allowed only after the card data passes the
// signature test with the module's card-issuer key; deleting one also deletes its
// PKCS#11 attribute file "qv_p11"/"contNN", but only once the card has let the key
// go. Keys are imported from a CryptoAPI PRIVATEKEYBLOB under the caller's
// secure-messaging session; key parts are turned big-endian in the command buffer
// only and wiped from it after each command.
//
// The containers-usage list joins the container map "mscp"/"cmapfile", the
// certificate files "mscp"/"kscNN" and "kxcNN" and the key information, through the
// caller's callbacks.
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

enum : unsigned char {
    QVMD_KEY_SPEC_SIGNATURE = 0,
    QVMD_KEY_SPEC_EXCHANGE = 1,
};

// Parts of the key information command.
enum : unsigned char {
    QVMD_KEY_INFO_MODULUS = 0,
    QVMD_KEY_INFO_EXPONENT = 1,
    QVMD_KEY_INFO_DETAILS = 2, // short info, key size, key-info bytes 4 and 5
    QVMD_KEY_INFO_SHORT = 3,   // short info
};

enum : unsigned long {
    QVMD_IMPORT_BLOB_MIN = 20,
    QVMD_IMPORT_BLOB_MAX = 2324,
    QVMD_IMPORT_SPLIT_BITS = 1920, // a modulus of this size or more goes in two pieces
    QVMD_USAGE_ALL_CONTAINERS = 32,
};

// What a new container is: its index and key spec, the flags (the token's usage
// word), the key size, and the access role masks; the public exponent (8 bytes,
// big-endian) is sent when exponentPresent is set and it is not all zero.
struct _qv_md_create_container_request {
    uint8_t container;
    uint8_t keySpec;
    uint8_t flags;
    uint16_t keyBits;
    uint16_t defaultExponent; // sent as 1 when not zero
    uint8_t access[2];
    unsigned char exponent[8];
    uint16_t exponentPresent;
};

// ---- containers ----
// The card-data signature test: the card data's signed items (tag 1 lists them; 03
// is the card identifier) under the signature of tag 4, which must be 192 bytes,
// checked with the issuer's key as PKCS#1 v1.5 with SHA-1, then SHA-256. 0 when one
// holds; QV_E_UNEXPECTED otherwise (and for missing tags).
uint32_t QVMD_VerifyQVSignature(_qv_md_card_struct *card);
// The signature test, then the create command (plain). The card is not asked to
// create anything when the test fails.
uint32_t QVMD_CreateContainer(_qv_md_card_struct *card,
                              const _qv_md_create_container_request *request);
// Builds the create command into the transport.
uint32_t QVMD_PrepareCreateContainer(_qv_md_card_struct *card,
                                     const _qv_md_create_container_request *request);
// Deletes the container on the card, then its "qv_p11"/"contNN" file: only when the
// card deleted it or reports no such container (QV_E_NO_KEY_CONTAINER), so that a
// key the card keeps keeps its attributes. A missing file or directory is no error;
// the card's error comes first, else the file's.
uint32_t QVMD_DeleteContainer(_qv_md_card_struct *card, unsigned char container);
// The delete command alone.
uint32_t QVMD_DeleteContainerWithoutPKCS11File(_qv_md_card_struct *card, unsigned char container);
// Changes the access role masks of a container (mask 1 the first, 2 the second, 3
// both; else QV_E_INVALID_VALUE), at level 1.
uint32_t QVMD_ChangeContainerUser(_qv_md_card_struct *card,
                                  const _qv_md_create_container_request *request,
                                  unsigned char mask);

// ---- key information ----
// Asks for one part of the key of keyInfo's container and key spec: the modulus or
// the exponent into a buffer of the context's alloc hook (any earlier one is freed),
// or the details or short info into the fields. A part above 3 is only sent.
uint32_t QVMD_GetContainerInfo(_qv_md_card_struct *card, _qv_md_container_key_info *keyInfo,
                               unsigned char what);
// The key's CryptoAPI PUBLICKEYBLOB (key size / 8 + 20 bytes, from the alloc hook).
// QV_E_UNEXPECTED for an exponent over 4 bytes or a modulus not of the key size.
uint32_t QVMD_GetContainerInfoPublicKey(_qv_md_card_struct *card, unsigned char container,
                                        unsigned char keySpec, unsigned char **blob,
                                        unsigned long *blobLength);

// ---- key import ----
// Imports a PRIVATEKEYBLOB ("RSA2", little-endian parts): modulus (in two pieces from
// QVMD_IMPORT_SPLIT_BITS), primes, CRT exponents, coefficient and the public
// exponent as 4 bytes, each at level 1, each answered 90 00. With count, nothing is
// sent and *count is the number of commands (8 or 7). QV_E_INVALID_VALUE for a blob
// of another size, magic or a key size that is not a whole number of 16 bits;
// QV_E_UNEXPECTED for a modulus over 256 bytes.
uint32_t QVMD_ContainerImportKey(_qv_md_card_struct *card, const unsigned char *blob,
                                 unsigned long blobLength, unsigned char container,
                                 unsigned char keySpec, unsigned long *count);

// ---- containers usage ----
struct _qv_md_usage_context;

// Reads a card file: dir and name are the card names as text ("mscp", "cmapfile").
typedef uint32_t (*QVMD_USAGE_READ_FILE_FN)(_qv_md_usage_context *context, const char *dir,
                                            const char *name, unsigned long flags,
                                            unsigned char **data, unsigned long *length);
// Fills one key info whose container and key spec are set.
typedef uint32_t (*QVMD_USAGE_KEY_INFO_FN)(_qv_md_usage_context *context,
                                           _qv_md_container_key_info *keyInfo);

struct _qv_md_usage_context {
    _qv_md_card_struct *card;
    QVMD_ALLOC_FN alloc;
    QVMD_REALLOC_FN realloc;
    QVMD_FREE_FN free;
    QVMD_USAGE_READ_FILE_FN readFile;
    QVMD_USAGE_KEY_INFO_FN keyInfo;
};

// One container map record with its certificates and keys.
struct _qv_md_container_usage_record {
    uint16_t name[40]; // UTF-16, always terminated
    uint8_t flags;
    uint8_t reserved;
    uint16_t signatureBits;
    uint16_t exchangeBits;
    uint16_t valid;                      // flags bit 0
    uint16_t isDefault;                  // flags bit 1
    unsigned char *signatureCertificate; // "kscNN", null when absent
    unsigned long signatureCertificateLength;
    unsigned char *exchangeCertificate; // "kxcNN"
    unsigned long exchangeCertificateLength;
    uint8_t container;
    _qv_md_container_key_info keys[2]; // by key spec
};

struct _qv_md_containers_usage_info {
    _qv_md_container_usage_record *records;
    unsigned long count;
};

uint32_t QVMD_Usage_InitContainersInfo(_qv_md_usage_context *context,
                                       _qv_md_containers_usage_info *info);
// One record per map record: the map's fields, the certificates of the key sizes
// present (a missing file is no error) and their key infos. A map whose size is not
// a multiple of 86 gives 1 and no records; any other error stops the walk with the
// records built so far kept (release them).
uint32_t QVMD_Usage_GetContainersInfo(_qv_md_usage_context *context,
                                      _qv_md_containers_usage_info *info);
// QVMD_USAGE_ALL_CONTAINERS records with the key infos of both key specs, no map.
uint32_t QVMD_Usage_GetAllContainersInfo(_qv_md_usage_context *context,
                                         _qv_md_containers_usage_info *info);
// Frees every buffer of the records and the array; null arguments do nothing.
uint32_t QVMD_Usage_ReleaseContainersInfo(_qv_md_usage_context *context,
                                          _qv_md_containers_usage_info *info);
