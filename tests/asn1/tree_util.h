// Item trees for the ASN.1 tests: an owning handle, reading from bytes and
// writing back through the library.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "asn1/asn.h"
#include "test_certs.h"

namespace asn1test
{

struct TreeDeleter {
    void operator()(_asn_t *item) const { asn_item_free(item); }
};
using Tree = std::unique_ptr<_asn_t, TreeDeleter>;

inline Tree read_tree(const Bytes &b)
{
    return Tree(asn_read(b.data(), static_cast<uint32_t>(b.size()), nullptr));
}

// The DER of an item (or of its whole list); EE EE marks a refused write in
// comparisons.
inline Bytes write_der(const _asn_t *item, int whole_list)
{
    int32_t size = asn_write(item, whole_list, nullptr);
    if (size < 0)
        return Bytes{0xEE, 0xEE};
    Bytes out(static_cast<size_t>(size));
    EXPECT_EQ(asn_write(item, whole_list, out.data()), size);
    return out;
}

} // namespace asn1test
