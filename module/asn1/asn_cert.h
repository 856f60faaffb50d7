// X.509 certificate context: parses one DER certificate and hands out its fields by id.
#pragma once

#include <cstdint>

#include "asn1/asn_item.h"

#define ASN_CERT_CTX_MAGIC 160u

// Field ids of asn_cert_ctx_get_attribute.
#define ASN_CERT_VERSION 1u            // version value, uint32_t
#define ASN_CERT_SERIAL 2u             // serialNumber, DER
#define ASN_CERT_SERIAL_VALUE 3u       // serialNumber content without a sign octet
#define ASN_CERT_ISSUER 16u            // issuer Name, DER
#define ASN_CERT_NOT_BEFORE 32u        // "%Y%m%d%H%M%S" text, NUL-terminated
#define ASN_CERT_NOT_AFTER 33u         // "%Y%m%d%H%M%S" text, NUL-terminated
#define ASN_CERT_SUBJECT 48u           // subject Name, DER
#define ASN_CERT_KEY_ALGORITHM 64u     // subjectPublicKeyInfo AlgorithmIdentifier, DER
#define ASN_CERT_KEY_ALGORITHM_OID 65u // its OID, dotted text
#define ASN_CERT_KEY_PARAMETERS 66u    // its parameters, DER (0 when absent)
#define ASN_CERT_RSA_KEY 80u           // asn_cert_rsa_key_t followed by modulus and exponent
#define ASN_CERT_RSA_KEY_DER 81u       // RSAPublicKey DER
#define ASN_CERT_SIG_ALGORITHM 96u     // outer signatureAlgorithm, DER
#define ASN_CERT_SIG_ALGORITHM_OID 97u // its OID, dotted text
#define ASN_CERT_SIG_PARAMETERS 98u    // its parameters, DER (0 when absent)
#define ASN_CERT_USAGE 112u            // asn_cert_usage_t
#define ASN_CERT_SUBJECT_ALT_NAME 113u // GeneralNames DER
#define ASN_CERT_AUTHORITY_KEY_ID 114u // keyIdentifier content
#define ASN_CERT_SUBJECT_KEY_ID 115u   // SubjectKeyIdentifier content

// Usage word bits.
#define ASN_CERT_EXT_PRESENT 0x80000000u
#define ASN_CERT_EXT_CRITICAL 0x40000000u

// Usage record (id 112).
typedef struct {
    uint64_t size;          // 32
    uint64_t key_usage;     // bit i = bit i of the KeyUsage BIT STRING
    uint64_t ext_key_usage; // one bit per known purpose
    uint64_t cert_type;     // bit i = bit i of the certificate-type BIT STRING
} asn_cert_usage_t;

// RSA public key record (id 80); the bytes follow it in the same buffer.
typedef struct {
    uint64_t modulus; // address of the modulus bytes
    uint64_t modulus_length;
    uint64_t exponent; // address of the exponent bytes
    uint64_t exponent_length;
} asn_cert_rsa_key_t;

typedef struct _asn_cert_ctx_t {
    uint32_t magic;   // ASN_CERT_CTX_MAGIC while valid
    uint32_t version; // 0 v1, 1 v2, 2 v3
    _asn_t *root;     // owned tree of the whole certificate
    // References into root.
    _asn_t *serial;
    _asn_t *signature;
    _asn_t *issuer;
    _asn_t *validity;
    _asn_t *not_before;
    _asn_t *not_after;
    _asn_t *subject;
    _asn_t *key_info;
    _asn_t *key_algorithm_oid;
    _asn_t *key_parameters;
    _asn_t *key;
    _asn_t *issuer_unique_id;
    _asn_t *subject_unique_id;
    _asn_t *extensions;
    _asn_t *sig_algorithm;
    _asn_t *sig_algorithm_oid;
    _asn_t *sig_parameters;
    _asn_t *sig_value;
} _asn_cert_ctx_t;

// Parses a certificate. 0 and a new context in *ctx; -1 for NULL or empty input, a NULL
// ctx, or bytes that are not an acceptable certificate (*ctx is NULL then).
int32_t asn_cert_ctx_init(const unsigned char *der, uint32_t length, _asn_cert_ctx_t **ctx);

// The size of a field, written to out when out is given (out must hold what a NULL call
// returns). -1 for a bad context, an unknown id or a field that can't be produced.
int32_t asn_cert_ctx_get_attribute(const _asn_cert_ctx_t *ctx, uint32_t id, void *out);

// Frees the context. 0, or -1 for NULL or a context that is not valid.
int32_t asn_cert_ctx_final(_asn_cert_ctx_t *ctx);
