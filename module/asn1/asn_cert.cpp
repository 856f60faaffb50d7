#include "asn1/asn_cert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "asn1/asn_der.h"
#include "asn1/asn_nav.h"
#include "asn1/asn_value.h"

static const char OID_RSA_ENCRYPTION[] = "1.2.840.113549.1.1.1";
static const char OID_KEY_USAGE[] = "2.5.29.15";
static const char OID_EXT_KEY_USAGE[] = "2.5.29.37";
static const char OID_CERT_TYPE[] = "2.16.840.1.113730.1.1";
static const char OID_SUBJECT_ALT_NAME[] = "2.5.29.17";
static const char OID_AUTHORITY_KEY_ID[] = "2.5.29.35";
static const char OID_SUBJECT_KEY_ID[] = "2.5.29.14";

// Extended key usage purposes and their bits.
static const struct {
    const char *oid;
    uint64_t bit;
} ext_key_usages[] = {
    {"1.3.6.1.5.5.7.3.1", 0x1},  {"1.3.6.1.5.5.7.3.2", 0x2},  {"1.3.6.1.5.5.7.3.3", 0x4},
    {"1.3.6.1.5.5.7.3.4", 0x8},  {"1.3.6.1.5.5.7.3.5", 0x10}, {"1.3.6.1.5.5.7.3.6", 0x20},
    {"1.3.6.1.5.5.7.3.7", 0x40}, {"1.3.6.1.5.5.7.3.8", 0x80}, {"1.3.6.1.4.1.311.20.2.2", 0x100},
};

static bool is(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return asn_is_current(item, cls, constructed, tag) == 1;
}

static bool is_universal(const _asn_t *item, uint32_t constructed, uint32_t tag)
{
    return is(item, ASN_CLASS_UNIVERSAL, constructed, tag);
}

static bool is_sequence(const _asn_t *item)
{
    return is_universal(item, ASN_CONSTRUCTED, ASN_TAG_SEQUENCE);
}

static bool is_time(const _asn_t *item)
{
    return is_universal(item, ASN_PRIMITIVE, ASN_TAG_UTCTIME) ||
           is_universal(item, ASN_PRIMITIVE, ASN_TAG_GENERALIZEDTIME);
}

// Dotted text of an OID item into text (ASN_OID_TEXT_MAX bytes).
static bool oid_text(const _asn_t *item, char *text)
{
    if (!is_universal(item, ASN_PRIMITIVE, ASN_TAG_OID))
        return false;
    int32_t size = asn_decode(item, NULL, asn_v_decode_oid);
    if (size <= 0 || size > ASN_OID_TEXT_MAX)
        return false;
    return asn_decode(item, text, asn_v_decode_oid) == size;
}

static bool oid_is(const _asn_t *item, const char *wanted)
{
    char text[ASN_OID_TEXT_MAX];
    return oid_text(item, text) && strcmp(text, wanted) == 0;
}

static int32_t shape_error(_asn_t *root, _asn_cert_ctx_t *ctx)
{
    asn_item_free(root);
    free(ctx);
    return -1;
}

int32_t asn_cert_ctx_init(const unsigned char *der, uint32_t length, _asn_cert_ctx_t **out)
{
    if (out)
        *out = NULL;
    if (!der || !length || !out)
        return -1;
    _asn_t *root = asn_read(der, length, NULL);
    if (!root)
        return -1;
    _asn_cert_ctx_t *ctx = static_cast<_asn_cert_ctx_t *>(calloc(1, sizeof(_asn_cert_ctx_t)));
    if (!ctx)
        return shape_error(root, NULL);

    _asn_t *tbs = asn_get_child(root);
    if (!is_sequence(root) || !is_sequence(tbs))
        return shape_error(root, ctx);

    _asn_t *sig_algorithm = asn_get_next(tbs);
    _asn_t *sig_oid = asn_get_child(sig_algorithm);
    if (!is_sequence(sig_algorithm) || !is_universal(sig_oid, ASN_PRIMITIVE, ASN_TAG_OID))
        return shape_error(root, ctx);
    _asn_t *sig_value = asn_get_next(sig_algorithm);
    if (!is_universal(sig_value, ASN_PRIMITIVE, ASN_TAG_BIT_STRING) || sig_value->next)
        return shape_error(root, ctx);

    _asn_t *e = asn_get_child(tbs);
    uint32_t version = 0;
    if (is(e, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, 0)) {
        _asn_t *v = asn_get_child(e);
        int32_t value = 0;
        if (asn_decode(v, NULL, asn_v_decode_int32) != 4 ||
            asn_decode(v, &value, asn_v_decode_int32) != 4)
            return shape_error(root, ctx);
        version = static_cast<uint32_t>(value);
        e = asn_get_next(e);
    }
    _asn_t *serial = e;
    _asn_t *signature = asn_get_next(serial);
    _asn_t *issuer = asn_get_next(signature);
    _asn_t *validity = asn_get_next(issuer);
    if (!serial || !signature || !issuer || !is_sequence(validity))
        return shape_error(root, ctx);
    _asn_t *not_before = asn_get_child(validity);
    _asn_t *not_after = asn_get_next(not_before);
    if (!is_time(not_before) || !is_time(not_after) || not_after->next)
        return shape_error(root, ctx);

    _asn_t *subject = asn_get_next(validity);
    _asn_t *key_info = asn_get_next(subject);
    _asn_t *key_algorithm = asn_get_child(key_info);
    _asn_t *key = asn_get_next(key_algorithm);
    if (!subject || !is_sequence(key_info) || !is_sequence(key_algorithm) ||
        !is_universal(key, ASN_PRIMITIVE, ASN_TAG_BIT_STRING) || key->next)
        return shape_error(root, ctx);
    _asn_t *key_oid = asn_get_child(key_algorithm);
    if (!is_universal(key_oid, ASN_PRIMITIVE, ASN_TAG_OID))
        return shape_error(root, ctx);

    e = asn_get_next(key_info);
    if (is(e, ASN_CLASS_CONTEXT, ASN_PRIMITIVE, 1)) {
        ctx->issuer_unique_id = e;
        e = e->next;
    }
    if (is(e, ASN_CLASS_CONTEXT, ASN_PRIMITIVE, 2)) {
        ctx->subject_unique_id = e;
        e = e->next;
    }
    if (is(e, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, 3)) {
        ctx->extensions = e;
        e = e->next;
    }
    if (e)
        return shape_error(root, ctx);
    if (version != 1 && version != 2 && (ctx->issuer_unique_id || ctx->subject_unique_id))
        return shape_error(root, ctx);
    if (version != 2 && ctx->extensions)
        return shape_error(root, ctx);

    ctx->magic = ASN_CERT_CTX_MAGIC;
    ctx->version = version;
    ctx->root = root;
    ctx->serial = serial;
    ctx->signature = signature;
    ctx->issuer = issuer;
    ctx->validity = validity;
    ctx->not_before = not_before;
    ctx->not_after = not_after;
    ctx->subject = subject;
    ctx->key_info = key_info;
    ctx->key_algorithm_oid = key_oid;
    ctx->key_parameters = key_oid->next;
    ctx->key = key;
    ctx->sig_algorithm = sig_algorithm;
    ctx->sig_algorithm_oid = sig_oid;
    ctx->sig_parameters = sig_oid->next;
    ctx->sig_value = sig_value;
    *out = ctx;
    return 0;
}

int32_t asn_cert_ctx_final(_asn_cert_ctx_t *ctx)
{
    if (!ctx || ctx->magic != ASN_CERT_CTX_MAGIC)
        return -1;
    asn_item_free(ctx->root);
    memset(ctx, 0, sizeof(*ctx));
    free(ctx);
    return 0;
}

// ---- field helpers

static int32_t der(const _asn_t *item, void *out)
{
    return asn_write(item, 0, static_cast<unsigned char *>(out));
}

static int32_t oid_field(const _asn_t *item, void *out)
{
    char text[ASN_OID_TEXT_MAX];
    if (!oid_text(item, text))
        return -1;
    int32_t size = static_cast<int32_t>(strlen(text) + 1);
    if (out)
        memcpy(out, text, static_cast<size_t>(size));
    return size;
}

static int32_t time_field(const _asn_t *item, void *out)
{
    struct tm t;
    memset(&t, 0, sizeof(t));
    int32_t size;
    if (is_universal(item, ASN_PRIMITIVE, ASN_TAG_UTCTIME))
        size = asn_decode(item, &t, asn_v_decode_utctime_tm);
    else if (is_universal(item, ASN_PRIMITIVE, ASN_TAG_GENERALIZEDTIME))
        size = asn_decode(item, &t, asn_v_decode_gentime_tm);
    else
        return -1;
    if (size != static_cast<int32_t>(sizeof(t)))
        return -1;
    // A zone offset may carry the time out of four-digit years.
    if (t.tm_year < -1900 || t.tm_year > 9999 - 1900)
        return -1;
    char text[64];
    int n = snprintf(text, sizeof(text), "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                     t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    if (n != 14)
        return -1;
    if (out)
        memcpy(out, text, 15);
    return 15;
}

// The subjectPublicKey content after its unused-bits octet; false when the key is not an
// RSA key, the BIT STRING is empty or its unused-bits octet is out of range.
static bool rsa_key_bytes(const _asn_cert_ctx_t *ctx, const unsigned char **data, uint32_t *length)
{
    if (!oid_is(ctx->key_algorithm_oid, OID_RSA_ENCRYPTION))
        return false;
    const _asn_t *key = ctx->key;
    if (!key || key->length < 1 || !key->data)
        return false;
    uint32_t size = 0;
    if (asn_v_decode_bitstring_bin(static_cast<const unsigned char *>(key->data),
                                   static_cast<uint32_t>(key->length), NULL, &size) < 0)
        return false;
    *data = static_cast<const unsigned char *>(key->data) + 1;
    *length = size;
    return true;
}

static int32_t rsa_key_der(const _asn_cert_ctx_t *ctx, void *out)
{
    const unsigned char *data;
    uint32_t length;
    if (!rsa_key_bytes(ctx, &data, &length))
        return -1;
    if (out && length)
        memcpy(out, data, length);
    return static_cast<int32_t>(length);
}

static int32_t rsa_key_record(const _asn_cert_ctx_t *ctx, void *out)
{
    const unsigned char *data;
    uint32_t length;
    if (!rsa_key_bytes(ctx, &data, &length))
        return -1;
    _asn_t *seq = asn_read(data, length, NULL);
    int32_t result = -1;
    const _asn_t *modulus = asn_get_child(seq);
    const _asn_t *exponent = asn_get_next(modulus);
    if (is_sequence(seq) && !seq->next && is_universal(modulus, ASN_PRIMITIVE, ASN_TAG_INTEGER) &&
        is_universal(exponent, ASN_PRIMITIVE, ASN_TAG_INTEGER) && !exponent->next) {
        int32_t m = asn_decode(modulus, NULL, asn_v_decode_int);
        int32_t x = asn_decode(exponent, NULL, asn_v_decode_int);
        if (m > 0 && x > 0 && m < 0x10000000 && x < 0x10000000) {
            result = static_cast<int32_t>(sizeof(asn_cert_rsa_key_t)) + m + x;
            if (out) {
                unsigned char *bytes = static_cast<unsigned char *>(out);
                unsigned char *m_bytes = bytes + sizeof(asn_cert_rsa_key_t);
                unsigned char *x_bytes = m_bytes + m;
                asn_cert_rsa_key_t record;
                record.modulus = reinterpret_cast<uintptr_t>(m_bytes);
                record.modulus_length = static_cast<uint64_t>(m);
                record.exponent = reinterpret_cast<uintptr_t>(x_bytes);
                record.exponent_length = static_cast<uint64_t>(x);
                if (asn_decode(modulus, m_bytes, asn_v_decode_int) != m ||
                    asn_decode(exponent, x_bytes, asn_v_decode_int) != x)
                    result = -1;
                else
                    memcpy(bytes, &record, sizeof(record));
            }
        }
    }
    asn_item_free(seq);
    return result;
}

// Finds an extension by OID. Returns false when there is none (or the extensions element
// is malformed); otherwise *value is the element right after the OID (may be NULL).
static bool find_extension(const _asn_cert_ctx_t *ctx, const char *oid, const _asn_t **value)
{
    const _asn_t *list = asn_get_child(ctx->extensions);
    if (!is_sequence(list))
        return false;
    for (const _asn_t *ext = asn_get_child(list); ext; ext = ext->next) {
        const _asn_t *ext_oid = asn_get_child(ext);
        if (is_sequence(ext) && oid_is(ext_oid, oid)) {
            *value = ext_oid->next;
            return true;
        }
    }
    return false;
}

enum usage_kind { KEY_USAGE, EXT_KEY_USAGE, CERT_TYPE };

// One word of the usage record: 0 when the extension is absent, -1 when it is malformed.
static int64_t usage_word(const _asn_cert_ctx_t *ctx, const char *oid, usage_kind kind)
{
    const _asn_t *e = NULL;
    if (!find_extension(ctx, oid, &e))
        return 0;
    bool critical = false;
    if (is_universal(e, ASN_PRIMITIVE, ASN_TAG_BOOLEAN)) {
        if (e->length < 1 || !e->data)
            return -1;
        critical = static_cast<const unsigned char *>(e->data)[0] != 0;
        e = e->next;
    }
    if (!is_universal(e, ASN_PRIMITIVE, ASN_TAG_OCTET_STRING) || e->length < 1 || !e->data)
        return -1;
    _asn_t *inner = asn_read(static_cast<const unsigned char *>(e->data),
                             static_cast<uint32_t>(e->length), NULL);
    if (!inner)
        return -1;
    uint64_t word = 0;
    bool ok = true;
    if (kind == EXT_KEY_USAGE) {
        const _asn_t *purpose = asn_get_child(inner);
        if (!is_sequence(inner) || !purpose)
            ok = false;
        for (; ok && purpose; purpose = purpose->next) {
            char text[ASN_OID_TEXT_MAX];
            if (!is_universal(purpose, ASN_PRIMITIVE, ASN_TAG_OID))
                continue;
            if (!oid_text(purpose, text)) {
                ok = false;
                break;
            }
            bool known = false;
            for (const auto &usage : ext_key_usages) {
                if (strcmp(usage.oid, text) == 0) {
                    word |= usage.bit;
                    known = true;
                }
            }
            if (!known && critical)
                ok = false;
        }
    } else {
        const unsigned char *bits = static_cast<const unsigned char *>(inner->data);
        int64_t count = -1;
        if (is_universal(inner, ASN_PRIMITIVE, ASN_TAG_BIT_STRING) && bits && inner->length >= 1 &&
            bits[0] <= 7 && !(inner->length == 1 && bits[0] != 0))
            count = 8 * static_cast<int64_t>(inner->length) - bits[0] - 8;
        if (count < 0 || (kind == CERT_TYPE && count > 8)) {
            ok = false;
        } else {
            if (count > 9)
                count = 9;
            for (int64_t i = 0; i < count; i++)
                if ((bits[1 + i / 8] >> (7 - i % 8)) & 1)
                    word |= uint64_t(1) << i;
        }
    }
    asn_item_free(inner);
    if (!ok)
        return -1;
    word |= ASN_CERT_EXT_PRESENT;
    if (critical)
        word |= ASN_CERT_EXT_CRITICAL;
    return static_cast<int64_t>(word);
}

static int32_t usage_record(const _asn_cert_ctx_t *ctx, void *out)
{
    if (ctx->version != 2)
        return 0;
    int64_t key_usage = usage_word(ctx, OID_KEY_USAGE, KEY_USAGE);
    int64_t ext_key_usage = usage_word(ctx, OID_EXT_KEY_USAGE, EXT_KEY_USAGE);
    int64_t cert_type = usage_word(ctx, OID_CERT_TYPE, CERT_TYPE);
    if (key_usage < 0 || ext_key_usage < 0 || cert_type < 0)
        return -1;
    if (out) {
        asn_cert_usage_t record;
        record.size = sizeof(record);
        record.key_usage = static_cast<uint64_t>(key_usage);
        record.ext_key_usage = static_cast<uint64_t>(ext_key_usage);
        record.cert_type = static_cast<uint64_t>(cert_type);
        memcpy(out, &record, sizeof(record));
    }
    return static_cast<int32_t>(sizeof(asn_cert_usage_t));
}

// The extnValue OCTET STRING right after the extension's OID, or NULL.
static const _asn_t *ext_value(const _asn_cert_ctx_t *ctx, const char *oid)
{
    const _asn_t *e = NULL;
    if (ctx->version != 2 || !find_extension(ctx, oid, &e))
        return NULL;
    return is_universal(e, ASN_PRIMITIVE, ASN_TAG_OCTET_STRING) ? e : NULL;
}

static int32_t subject_alt_name(const _asn_cert_ctx_t *ctx, void *out)
{
    const _asn_t *e = ext_value(ctx, OID_SUBJECT_ALT_NAME);
    return e ? asn_write_value(e, static_cast<unsigned char *>(out)) : 0;
}

// Key identifiers: the extnValue content is parsed and the identifier's content copied.
static int32_t key_identifier(const _asn_cert_ctx_t *ctx, const char *oid, bool authority,
                              void *out)
{
    const _asn_t *e = ext_value(ctx, oid);
    if (!e)
        return 0;
    if (e->length < 1 || !e->data)
        return -1;
    _asn_t *inner = asn_read(static_cast<const unsigned char *>(e->data),
                             static_cast<uint32_t>(e->length), NULL);
    if (!inner)
        return -1;
    const _asn_t *id = NULL;
    if (authority) {
        if (is_sequence(inner))
            for (id = asn_get_child(inner); id; id = id->next)
                if (is(id, ASN_CLASS_CONTEXT, ASN_PRIMITIVE, 0))
                    break;
    } else if (is_universal(inner, ASN_PRIMITIVE, ASN_TAG_OCTET_STRING)) {
        id = inner;
    }
    int32_t result = id ? asn_write_value(id, static_cast<unsigned char *>(out)) : 0;
    asn_item_free(inner);
    return result;
}

int32_t asn_cert_ctx_get_attribute(const _asn_cert_ctx_t *ctx, uint32_t id, void *out)
{
    if (!ctx || ctx->magic != ASN_CERT_CTX_MAGIC)
        return -1;
    switch (id) {
    case ASN_CERT_VERSION:
        if (out)
            memcpy(out, &ctx->version, sizeof(ctx->version));
        return sizeof(ctx->version);
    case ASN_CERT_SERIAL:
        return der(ctx->serial, out);
    case ASN_CERT_SERIAL_VALUE:
        return asn_decode(ctx->serial, out, asn_v_decode_int);
    case ASN_CERT_ISSUER:
        return der(ctx->issuer, out);
    case ASN_CERT_NOT_BEFORE:
        return time_field(ctx->not_before, out);
    case ASN_CERT_NOT_AFTER:
        return time_field(ctx->not_after, out);
    case ASN_CERT_SUBJECT:
        return der(ctx->subject, out);
    case ASN_CERT_KEY_ALGORITHM:
        return der(asn_get_child(ctx->key_info), out);
    case ASN_CERT_KEY_ALGORITHM_OID:
        return oid_field(ctx->key_algorithm_oid, out);
    case ASN_CERT_KEY_PARAMETERS:
        return der(ctx->key_parameters, out);
    case ASN_CERT_RSA_KEY:
        return rsa_key_record(ctx, out);
    case ASN_CERT_RSA_KEY_DER:
        return rsa_key_der(ctx, out);
    case ASN_CERT_SIG_ALGORITHM:
        return der(ctx->sig_algorithm, out);
    case ASN_CERT_SIG_ALGORITHM_OID:
        return oid_field(ctx->sig_algorithm_oid, out);
    case ASN_CERT_SIG_PARAMETERS:
        return der(ctx->sig_parameters, out);
    case ASN_CERT_USAGE:
        return usage_record(ctx, out);
    case ASN_CERT_SUBJECT_ALT_NAME:
        return subject_alt_name(ctx, out);
    case ASN_CERT_AUTHORITY_KEY_ID:
        return key_identifier(ctx, OID_AUTHORITY_KEY_ID, true, out);
    case ASN_CERT_SUBJECT_KEY_ID:
        return key_identifier(ctx, OID_SUBJECT_KEY_ID, false, out);
    default:
        return -1;
    }
}
