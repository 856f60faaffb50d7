// The certificate context on arbitrary bytes: init either fails cleanly or gives a context
// whose every field id answers the same size with and without a buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "asn1/asn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    _asn_cert_ctx_t *ctx = reinterpret_cast<_asn_cert_ctx_t *>(1);
    if (asn_cert_ctx_init(data, static_cast<uint32_t>(size), &ctx) != 0) {
        if (ctx)
            abort();
        return 0;
    }
    for (uint32_t id = 0; id <= 120; id++) {
        int32_t n = asn_cert_ctx_get_attribute(ctx, id, nullptr);
        if (n <= 0)
            continue;
        std::vector<unsigned char> out(static_cast<size_t>(n));
        if (asn_cert_ctx_get_attribute(ctx, id, out.data()) != n)
            abort();
    }
    if (asn_cert_ctx_final(ctx) != 0)
        abort();
    return 0;
}
