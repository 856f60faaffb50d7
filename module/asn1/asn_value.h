// Value codecs: the content octets of primitive items turned into host values and back.
#pragma once

#include <cstdint>

#include "asn1/asn_item.h"

// Encoder: (value, value length, out or NULL) -> content octets produced (written only when
// out is given), -1 on failure.
typedef int32_t (*asn_encoder_t)(const void *value, uint32_t length, unsigned char *out);
// Decoder: (content, content length, out or NULL, in/out size) -> content octets consumed,
// -1 on failure. The decoded size is stored in *size; when out is given, *size holds its
// capacity on entry.
typedef int32_t (*asn_decoder_t)(const unsigned char *data, uint32_t length, void *out,
                                 uint32_t *size);

// Longest dotted text (with its terminating NUL) the OID decoder produces.
#define ASN_OID_TEXT_MAX 256

// Decodes a primitive item's value with the decoder, or with the default codec of the
// item's tag number when decoder is NULL. out NULL asks for the size. Returns the decoded
// size; 0 for an empty item; -1 for a NULL or constructed item, no codec, or a codec
// failure (out must hold the size a NULL call returns).
int32_t asn_decode(const _asn_t *item, void *out, asn_decoder_t decoder);

// A new detached primitive item whose content the encoder (or the default codec of the tag
// number) makes from the value. NULL on any failure.
_asn_t *asn_encode(uint32_t cls, uint32_t tag, const void *value, uint32_t length,
                   asn_encoder_t encoder);

// asn_encode with the identifier as hex text; a constructed identifier or bad text -> NULL.
_asn_t *asn_encode_ex(const char *id, const void *value, uint32_t length, asn_encoder_t encoder);

// The default codecs of a universal tag number; false when the table has no row for it.
bool asn_default_codec(uint32_t tag, asn_encoder_t *encoder, asn_decoder_t *decoder);

int32_t asn_v_encode_eoc(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_eoc(const unsigned char *data, uint32_t length, void *out, uint32_t *size);
int32_t asn_v_encode_null(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_null(const unsigned char *data, uint32_t length, void *out, uint32_t *size);

// BOOLEAN: a value whose first byte is non-zero encodes as 0xFF; decodes to one byte 1 or 0.
int32_t asn_v_encode_bool(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_bool(const unsigned char *data, uint32_t length, void *out, uint32_t *size);

// INTEGER to and from a signed 32-bit host integer (value of 4 or 8 bytes, the first four
// read). Minimal two's complement.
int32_t asn_v_encode_int32(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_int32(const unsigned char *data, uint32_t length, void *out, uint32_t *size);

// INTEGER as an unsigned big-endian magnitude: 0x00 put in front of / dropped from a first
// byte with bit 7 set.
int32_t asn_v_encode_int(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_int(const unsigned char *data, uint32_t length, void *out, uint32_t *size);

// BIT STRING of whole bytes (no unused bits on encoding).
int32_t asn_v_encode_bitstring_bin(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_bitstring_bin(const unsigned char *data, uint32_t length, void *out,
                                   uint32_t *size);
// BIT STRING with one byte (0 or 1) per bit, first bit first.
int32_t asn_v_encode_bitstring(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_bitstring(const unsigned char *data, uint32_t length, void *out,
                               uint32_t *size);

int32_t asn_v_encode_octetstring(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_octetstring(const unsigned char *data, uint32_t length, void *out,
                                 uint32_t *size);

// OBJECT IDENTIFIER from and to dotted decimal text; the decoded text is NUL-terminated and
// its size counts the NUL.
int32_t asn_v_encode_oid(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_oid(const unsigned char *data, uint32_t length, void *out, uint32_t *size);

// Character strings: checked for their type's character set, then copied.
int32_t asn_v_encode_utf8string(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_utf8string(const unsigned char *data, uint32_t length, void *out,
                                uint32_t *size);
int32_t asn_v_encode_numericstring(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_numericstring(const unsigned char *data, uint32_t length, void *out,
                                   uint32_t *size);
int32_t asn_v_encode_printablestring(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_printablestring(const unsigned char *data, uint32_t length, void *out,
                                     uint32_t *size);
int32_t asn_v_encode_ia5string(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_ia5string(const unsigned char *data, uint32_t length, void *out,
                               uint32_t *size);
int32_t asn_v_encode_visiblestring(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_visiblestring(const unsigned char *data, uint32_t length, void *out,
                                   uint32_t *size);
int32_t asn_v_encode_utf8string_cs(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_utf8string_cs(const unsigned char *data, uint32_t length, void *out,
                                   uint32_t *size);
// Wide-character UTF8String forms: not supported, they do nothing and return 0.
int32_t asn_v_encode_utf8string_wcs(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_utf8string_wcs(const unsigned char *data, uint32_t length, void *out,
                                    uint32_t *size);

// UTCTime and GeneralizedTime as checked text. The encoders given NULL and length 0 write
// the current UTC time ("YYMMDDhhmmssZ", "YYYYMMDDhhmmssZ").
int32_t asn_v_encode_utctime(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_utctime(const unsigned char *data, uint32_t length, void *out, uint32_t *size);
int32_t asn_v_encode_gentime(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_gentime(const unsigned char *data, uint32_t length, void *out, uint32_t *size);
// Broken-down time (struct tm, UTC). The decoders fill year, month, day, hour, minute and
// second, with a zone offset applied; the encoders write the given record (NULL: the clock).
int32_t asn_v_encode_utctime_tm(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_utctime_tm(const unsigned char *data, uint32_t length, void *out,
                                uint32_t *size);
int32_t asn_v_encode_gentime_tm(const void *value, uint32_t length, unsigned char *out);
int32_t asn_v_decode_gentime_tm(const unsigned char *data, uint32_t length, void *out,
                                uint32_t *size);
