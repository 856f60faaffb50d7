// DER reader and writer on arbitrary bytes: whatever reads must write, the written bytes
// must read back to themselves, and copies, searches, value decoding and edits of the tree
// must keep it writable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "asn1/asn.h"

namespace
{

std::vector<unsigned char> write(const _asn_t *item, int whole_list)
{
    int32_t size = asn_write(item, whole_list, nullptr);
    if (size < 0)
        abort();
    std::vector<unsigned char> out(static_cast<size_t>(size));
    if (asn_write(item, whole_list, out.data()) != size)
        abort();
    return out;
}

void decode_all(const _asn_t *item)
{
    for (; item; item = item->next) {
        if (item->constructed) {
            decode_all(static_cast<const _asn_t *>(item->data));
            continue;
        }
        int32_t size = asn_decode(item, nullptr, nullptr);
        if (size > 0) {
            std::vector<unsigned char> out(static_cast<size_t>(size));
            if (asn_decode(item, out.data(), nullptr) != size)
                abort();
        }
        // the codecs the callers pick by hand
        for (asn_decoder_t decoder :
             {asn_v_decode_int, asn_v_decode_bitstring, asn_v_decode_oid,
              asn_v_decode_utf8string_cs, asn_v_decode_utctime_tm, asn_v_decode_gentime_tm}) {
            size = asn_decode(item, nullptr, decoder);
            if (size > 0) {
                std::vector<unsigned char> out(static_cast<size_t>(size));
                if (asn_decode(item, out.data(), decoder) != size)
                    abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    _asn_t *tree = asn_read(data, static_cast<uint32_t>(size), nullptr);
    if (!tree)
        return 0;
    std::vector<unsigned char> out = write(tree, 1);
    if (out.size() > size) // the writer uses the shortest forms
        abort();
    _asn_t *again = asn_read(out.data(), static_cast<uint32_t>(out.size()), nullptr);
    if (!again || write(again, 1) != out)
        abort();
    asn_item_free(again);

    decode_all(tree);

    _asn_t *copy = asn_item_copy(tree);
    if (!copy || write(copy, 0) != write(tree, 0))
        abort();

    // Move the last primitive item found into the first constructed one (when it is not
    // inside it), then cut the first child of the copy: every length must stay right.
    _asn_t *target = asn_find(copy, 0, 0, copy->cls, ASN_CONSTRUCTED, copy->tag);
    _asn_t *prim = nullptr;
    for (uint32_t i = 0;; i++) {
        _asn_t *p = asn_find(copy, 1, i, ASN_CLASS_UNIVERSAL, ASN_PRIMITIVE, ASN_TAG_NULL);
        if (!p)
            break;
        prim = p;
        if (i > 64)
            break;
    }
    if (target && prim) {
        _asn_t *moved = asn_item_cut(prim, 0);
        if (!moved || asn_item_paste(target, moved, 1, 0) != 1)
            abort();
        write(copy, 0);
    }
    _asn_t *first = asn_get_child(copy);
    if (first) {
        _asn_t *cut = asn_item_cut(first, 1);
        if (!cut)
            abort();
        write(copy, 0);
        if (asn_item_paste(copy, cut, 1, 0) != 1)
            abort();
        write(copy, 0);
    }
    asn_item_free(copy);
    asn_item_free(tree);
    return 0;
}
