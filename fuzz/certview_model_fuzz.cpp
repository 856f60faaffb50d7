// The certificate model on arbitrary bytes: read as a certificate (PEM or DER) and
// as one extension, every text of every item in every form is asked, and the lists
// are sorted by every key. Properties: no crash, no leak, nothing read out of bounds.
#include <cstddef>
#include <cstdint>

#include "certview/x509_cert.h"

using namespace Orvane::Certificate;

namespace
{

void askExtension(const X509v3Ext &item)
{
    for (int form = 0; form <= TextDateTime; form++)
        item.GetText(static_cast<eTextReturnType>(form));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 16))
        return 0;
    X509Cert holder(data, static_cast<long long>(size));
    for (int form = 0; form <= TextDateTime; form++) {
        const auto f = static_cast<eTextReturnType>(form);
        for (int type = X509Common::Summary; type <= X509Common::SerialNumber; type++)
            holder.GetCommonText(static_cast<X509Common::eCertCommon>(type), f);
        holder.GetCertInfo(f);
    }
    for (int filter = 0; filter < 32; filter++)
        holder.ExtensionCount(static_cast<eItemFilter>(filter));
    const X509Common **commons = nullptr;
    const X509v3Ext **extensions = nullptr;
    int count = 0;
    for (int by = X509Cert::SortByName; by <= X509Cert::SortByCritical; by++) {
        for (bool ascending : {true, false}) {
            const auto key = static_cast<X509Cert::eCertSortBy>(by);
            holder.GetCommonList(&commons, &count, key, ascending);
            if (holder.GetExtensionList(&extensions, &count, key, ascending) && by == 1)
                for (int i = 0; i < count; i++)
                    askExtension(*extensions[i]);
        }
    }
    delete[] commons;
    delete[] extensions;

    X509v3Ext single(data, static_cast<int>(size));
    askExtension(single);
    return 0;
}
