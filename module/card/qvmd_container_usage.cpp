// The containers-usage list: one record per container map record, with the
// certificates and key information of the keys the map lists.
#include "card/qvmd_container.h"

#include <cstdio>
#include <initializer_list>
#include <cstring>

namespace
{

enum : unsigned long {
    MAP_RECORD = 86,
    MAP_NAME_UNITS = 39, // copied; the 40th stays the terminator
    MAP_FLAGS = 80,
    MAP_RESERVED = 81,
    MAP_SIGNATURE_BITS = 82,
    MAP_EXCHANGE_BITS = 84,
};

enum : uint32_t { BAD_MAP_SIZE = 1 };

const char CERT_DIR[] = "mscp";
const char MAP_FILE[] = "cmapfile";
const char *const CERT_PREFIX[2] = {"ksc", "kxc"}; // by key spec

uint16_t littleEndian16(const unsigned char *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void freeBuffer(_qv_md_usage_context *context, unsigned char *&buffer, unsigned long &length)
{
    if (buffer != nullptr)
        context->free(buffer);
    buffer = nullptr;
    length = 0;
}

// The certificate (a missing file is none) and the key info of one key of a record.
uint32_t readKey(_qv_md_usage_context *context, _qv_md_container_usage_record &r,
                 unsigned char spec)
{
    char name[16];
    snprintf(name, sizeof(name), "%s%02i", CERT_PREFIX[spec], static_cast<int>(r.container));
    unsigned char *&certificate =
        spec == QVMD_KEY_SPEC_SIGNATURE ? r.signatureCertificate : r.exchangeCertificate;
    unsigned long &length = spec == QVMD_KEY_SPEC_SIGNATURE ? r.signatureCertificateLength
                                                            : r.exchangeCertificateLength;
    uint32_t rv = context->readFile(context, CERT_DIR, name, 0, &certificate, &length);
    if (rv == QV_E_FILE_NOT_FOUND) {
        certificate = nullptr;
        length = 0;
        rv = QV_OK;
    }
    return rv != QV_OK ? rv : context->keyInfo(context, &r.keys[spec]);
}

void prepare(_qv_md_container_usage_record &r, unsigned long index)
{
    r.container = static_cast<uint8_t>(index);
    for (unsigned char spec : {QVMD_KEY_SPEC_SIGNATURE, QVMD_KEY_SPEC_EXCHANGE}) {
        r.keys[spec].container = r.container;
        r.keys[spec].keySpec = spec;
    }
}

uint32_t fromMap(_qv_md_usage_context *context, _qv_md_container_usage_record &r,
                 const unsigned char *m, unsigned long index)
{
    for (unsigned long k = 0; k < MAP_NAME_UNITS; k++)
        r.name[k] = littleEndian16(m + 2 * k);
    r.flags = m[MAP_FLAGS];
    r.reserved = m[MAP_RESERVED];
    r.signatureBits = littleEndian16(m + MAP_SIGNATURE_BITS);
    r.exchangeBits = littleEndian16(m + MAP_EXCHANGE_BITS);
    r.valid = r.flags & 0x01;
    r.isDefault = (r.flags >> 1) & 0x01;
    prepare(r, index);
    uint32_t rv = QV_OK;
    if (r.signatureBits != 0)
        rv = readKey(context, r, QVMD_KEY_SPEC_SIGNATURE);
    if (rv == QV_OK && r.exchangeBits != 0)
        rv = readKey(context, r, QVMD_KEY_SPEC_EXCHANGE);
    return rv;
}

// count zeroed records into info, so that what is built is kept on failure.
uint32_t allocate(_qv_md_usage_context *context, _qv_md_containers_usage_info *info,
                  unsigned long count)
{
    info->records = nullptr;
    info->count = 0;
    if (count == 0)
        return QV_OK;
    size_t size = count * sizeof(_qv_md_container_usage_record);
    info->records = static_cast<_qv_md_container_usage_record *>(context->alloc(size));
    if (info->records == nullptr)
        return QV_E_NO_MEMORY;
    memset(info->records, 0, size);
    info->count = count;
    return QV_OK;
}

bool usable(const _qv_md_usage_context *context, const _qv_md_containers_usage_info *info)
{
    return context != nullptr && info != nullptr && context->alloc != nullptr &&
           context->free != nullptr && context->readFile != nullptr && context->keyInfo != nullptr;
}

} // namespace

uint32_t QVMD_Usage_InitContainersInfo(_qv_md_usage_context *, _qv_md_containers_usage_info *info)
{
    if (info != nullptr) {
        info->records = nullptr;
        info->count = 0;
    }
    return QV_OK;
}

uint32_t QVMD_Usage_GetContainersInfo(_qv_md_usage_context *context,
                                      _qv_md_containers_usage_info *info)
{
    if (!usable(context, info))
        return QV_E_INVALID_VALUE;
    unsigned char *map = nullptr;
    unsigned long mapLength = 0;
    uint32_t rv = context->readFile(context, CERT_DIR, MAP_FILE, 0, &map, &mapLength);
    if (rv != QV_OK)
        return rv;
    if (mapLength % MAP_RECORD != 0)
        rv = BAD_MAP_SIZE;
    if (rv == QV_OK)
        rv = allocate(context, info, mapLength / MAP_RECORD);
    for (unsigned long i = 0; rv == QV_OK && i < info->count; i++)
        rv = fromMap(context, info->records[i], map + i * MAP_RECORD, i);
    if (map != nullptr)
        QVMD_Free(context->card, map);
    return rv;
}

uint32_t QVMD_Usage_GetAllContainersInfo(_qv_md_usage_context *context,
                                         _qv_md_containers_usage_info *info)
{
    if (!usable(context, info))
        return QV_E_INVALID_VALUE;
    uint32_t rv = allocate(context, info, QVMD_USAGE_ALL_CONTAINERS);
    for (unsigned long i = 0; rv == QV_OK && i < info->count; i++) {
        _qv_md_container_usage_record &r = info->records[i];
        prepare(r, i);
        rv = context->keyInfo(context, &r.keys[QVMD_KEY_SPEC_SIGNATURE]);
        if (rv == QV_OK)
            rv = context->keyInfo(context, &r.keys[QVMD_KEY_SPEC_EXCHANGE]);
    }
    return rv;
}

uint32_t QVMD_Usage_ReleaseContainersInfo(_qv_md_usage_context *context,
                                          _qv_md_containers_usage_info *info)
{
    if (context == nullptr || info == nullptr || context->free == nullptr)
        return QV_OK;
    for (unsigned long i = 0; info->records != nullptr && i < info->count; i++) {
        _qv_md_container_usage_record &r = info->records[i];
        freeBuffer(context, r.signatureCertificate, r.signatureCertificateLength);
        freeBuffer(context, r.exchangeCertificate, r.exchangeCertificateLength);
        for (_qv_md_container_key_info &k : r.keys) {
            freeBuffer(context, k.modulus, k.modulusLength);
            freeBuffer(context, k.exponent, k.exponentLength);
        }
    }
    if (info->records != nullptr)
        context->free(info->records);
    info->records = nullptr;
    info->count = 0;
    return QV_OK;
}
