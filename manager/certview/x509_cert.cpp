// The certificate holder: parsing, the two item lists, counting, sorting and the
// summary text.
#include "certview/x509_cert.h"

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <algorithm>
#include <climits>
#include <functional>

namespace Orvane::Certificate
{

namespace
{

// Certificates are never encrypted: a PEM block that asks for a password is refused
// instead of prompting on the terminal.
int noPassword(char *, int, int, void *)
{
    return 0;
}

X509 *readPem(BIO *bio)
{
    return PEM_read_bio_X509(bio, nullptr, noPassword, nullptr);
}

template <typename Item, typename Compare>
void stableSort(const Item **list, int count, bool ascending, const Compare &compare)
{
    if (!list || count < 2)
        return;
    std::stable_sort(list, list + count, [&](const Item *a, const Item *b) {
        int c = compare(a, b);
        return ascending ? c < 0 : c > 0;
    });
}

// The comparison (previous minus next) of the keys both item kinds have; none for
// any other key.
template <typename Item>
std::function<int(const Item *, const Item *)> compareBy(X509Cert::eCertSortBy by)
{
    if (by == X509Cert::SortByName)
        return [](auto a, auto b) { return QString::compare(a->GetName(), b->GetName()); };
    if (by == X509Cert::SortByType || by == X509Cert::SortByIndex)
        return [](auto a, auto b) { return a->GetType() - b->GetType(); };
    return nullptr;
}

template <typename Item>
bool copyList(const std::vector<std::unique_ptr<Item>> &items, const Item ***list, int *count)
{
    if (!list || !count)
        return false;
    delete[] * list;
    *list = nullptr;
    if (items.empty())
        return false;
    *list = new const Item *[items.size()];
    for (size_t i = 0; i < items.size(); i++)
        (*list)[i] = items[i].get();
    *count = static_cast<int>(items.size());
    return true;
}

} // namespace

X509Cert::X509Cert(const X509 *cert)
{
    SetCertificate(cert);
}

X509Cert::X509Cert(const X509Cert &other)
{
    SetCertificate(other.certificate);
}

X509Cert::X509Cert(const char *fileName)
{
    if (!fileName)
        return;
    BIO *bio = BIO_new_file(fileName, "r");
    if (!bio)
        return;
    X509 *cert = readPem(bio);
    BIO_free(bio);
    if (!cert) {
        bio = BIO_new_file(fileName, "r");
        cert = bio ? d2i_X509_bio(bio, nullptr) : nullptr;
        BIO_free(bio);
    }
    SetCertificate(cert);
    X509_free(cert);
}

X509Cert::X509Cert(const unsigned char *data, long long length)
{
    if (!data || length <= 0)
        return;
    X509 *cert = nullptr;
    BIO *bio = BIO_new(BIO_s_mem());
    if (bio && writeToBIO(bio, data, length)) {
        cert = readPem(bio);
        BIO_free(bio);
        if (!cert) {
            bio = BIO_new(BIO_s_mem());
            if (bio && writeToBIO(bio, data, length))
                cert = d2i_X509_bio(bio, nullptr);
            BIO_free(bio);
        }
    } else {
        BIO_free(bio);
        const unsigned char *p = data;
        if (length <= LONG_MAX)
            cert = d2i_X509(nullptr, &p, static_cast<long>(length));
    }
    SetCertificate(cert);
    X509_free(cert);
}

X509Cert::~X509Cert()
{
    Clear();
    X509_free(certificate);
}

void X509Cert::SetCertificate(const X509 *cert)
{
    Clear();
    X509_free(certificate);
    certificate = cert ? X509_dup(cert) : nullptr;
    if (certificate) {
        loadProperties(certificate);
        loadExtensions(certificate);
    }
}

bool X509Cert::loadProperties(X509 *cert)
{
    if (!cert)
        return false;
    commons.clear();
    for (int t = X509Common::Summary; t <= X509Common::SerialNumber; t++) {
        auto item =
            std::make_unique<X509Common>(certificate, static_cast<X509Common::eCertCommon>(t));
        if (item->GetType() != X509Common::Invalid)
            commons.push_back(std::move(item));
    }
    return true;
}

bool X509Cert::loadExtensions(X509 *cert)
{
    if (!cert)
        return false;
    extensions.clear();
    int count = X509_get_ext_count(certificate);
    for (int i = 0; i < count; i++)
        extensions.push_back(std::make_unique<X509v3Ext>(X509_get_ext(certificate, i)));
    return true;
}

bool X509Cert::writeToBIO(BIO *bio, const unsigned char *data, long long length)
{
    if (!bio || !data || length < 0)
        return false;
    while (length > 0) {
        int chunk = static_cast<int>(std::min<long long>(length, 0x7FFFFFFF));
        int written = BIO_write(bio, data, chunk);
        if (written < 0)
            return false;
        if (written == 0)
            break;
        data += written;
        length -= written;
    }
    return true;
}

void X509Cert::Clear()
{
    commons.clear();
    extensions.clear();
}

bool X509Cert::IsEmpty() const
{
    return certificate == nullptr;
}

bool X509Cert::IsCertificateOK() const
{
    return !IsEmpty();
}

X509 *X509Cert::GetCertificate() const
{
    return certificate;
}

int X509Cert::ExtensionCount(eItemFilter filter) const
{
    int count = 0;
    for (const auto &item : extensions) {
        if (!item)
            continue;
        if ((filter & FilterCritical) && !item->IsCritical())
            continue;
        if ((filter & FilterNoncritical) && item->IsCritical())
            continue;
        if ((filter & FilterSupported) && !item->IsSupported())
            continue;
        if ((filter & FilterUnsupported) && item->IsSupported())
            continue;
        count++;
    }
    return count;
}

QString X509Cert::GetCommonText(X509Common::eCertCommon type, eTextReturnType form) const
{
    for (const auto &item : commons)
        if (item && item->GetType() == type)
            return item->GetText(form);
    return QString();
}

QString X509Cert::GetExtensionText(X509v3Ext::eCertExt type, eTextReturnType form) const
{
    for (const auto &item : extensions)
        if (item && item->GetType() == type)
            return item->GetText(form);
    return QString();
}

bool X509Cert::GetCommonList(const X509Common ***list, int *count, eCertSortBy by,
                             bool ascending) const
{
    if (!copyList(commons, list, count))
        return false;
    sortCommonBy(*list, *count, by, ascending);
    return true;
}

bool X509Cert::GetExtensionList(const X509v3Ext ***list, int *count, eCertSortBy by,
                                bool ascending) const
{
    if (!copyList(extensions, list, count))
        return false;
    sortExtBy(*list, *count, by, ascending);
    return true;
}

void X509Cert::sortCommonBy(const X509Common **list, int count, eCertSortBy by, bool ascending)
{
    if (auto compare = compareBy<X509Common>(by))
        stableSort(list, count, ascending, compare);
}

void X509Cert::sortExtBy(const X509v3Ext **list, int count, eCertSortBy by, bool ascending)
{
    auto compare = compareBy<X509v3Ext>(by);
    if (by == SortByOID)
        compare = [](auto a, auto b) { return QString::compare(a->GetOID(), b->GetOID()); };
    else if (by == SortByCritical)
        compare = [](auto a, auto b) { return int(a->IsCritical()) - int(b->IsCritical()); };
    if (compare)
        stableSort(list, count, ascending, compare);
}

QString X509Cert::GetCertInfo(eTextReturnType form) const
{
    if (form != TextPlain)
        return tr("N/A");
    if (IsEmpty())
        return QString();
    const QString colon = QStringLiteral(": ");
    int extensionCount = ExtensionCount(FilterAll);
    QString text =
        tr("Issuer") + colon + GetCommonText(X509Common::Issuer, TextPlain) + QLatin1Char('\n') +
        tr("Subject") + colon + GetCommonText(X509Common::Subject, TextPlain) + QLatin1Char('\n') +
        tr("Serial Number") + colon + GetCommonText(X509Common::SerialNumber, TextPlain) +
        QLatin1Char('\n') + tr("Extensions count") + colon + QString::number(extensionCount) +
        QLatin1Char('\n');
    if (extensionCount > 0) {
        QStringList names;
        for (const auto &item : extensions)
            if (item)
                names << item->GetName();
        text += tr("Extensions") + colon + names.join(QStringLiteral(", "));
    }
    return text;
}

} // namespace Orvane::Certificate
