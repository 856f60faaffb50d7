// The certificate model on arbitrary bytes: read as a certificate (PEM or DER), as
// one extension, and as the value of every known extension and of an unknown one,
// every text of every item in every form is asked, and the lists are sorted by every
// key. Properties: no crash, no leak, nothing read out of bounds.
#include <cstddef>
#include <cstdint>

#include <openssl/objects.h>

#include "certview/x509_cert.h"

using namespace Orvane::Certificate;

namespace
{

const char *const valueOids[] = {
    "2.5.29.19",
    "2.5.29.30",
    "2.5.29.36",
    "2.5.29.15",
    "2.5.29.37",
    "2.5.29.35",
    "2.5.29.14",
    "2.5.29.32",
    "2.5.29.17",
    "2.5.29.18",
    "2.5.29.54",
    "2.5.29.31",
    "1.3.6.1.5.5.7.1.1",
    "1.3.6.1.5.5.7.1.11",
    "2.5.29.16",
    "2.5.29.33",
    "2.5.29.9",
    "2.5.29.46",
    "2.16.840.1.113730.1.1",
    "2.16.840.1.113730.1.13",
    "1.2.3.4.5",
};

void askExtension(const X509v3Ext &item)
{
    for (int form = 0; form <= TextDateTime; form++)
        item.GetText(static_cast<eTextReturnType>(form));
}

void askAsValues(const uint8_t *data, size_t size)
{
    ASN1_OCTET_STRING *value = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(value, data, static_cast<int>(size));
    for (const char *oid : valueOids) {
        ASN1_OBJECT *object = OBJ_txt2obj(oid, 1);
        X509_EXTENSION *ext = X509_EXTENSION_create_by_OBJ(nullptr, object, 0, value);
        askExtension(X509v3Ext(ext));
        X509_EXTENSION_free(ext);
        ASN1_OBJECT_free(object);
    }
    ASN1_OCTET_STRING_free(value);
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

    askExtension(X509v3Ext(data, static_cast<int>(size)));
    askAsValues(data, size);
    return 0;
}
