// The certificate holder: every source it reads, the empty holder, counting,
// sorting and the summary text.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

#include "cert_builder.h"
#include "certview/x509_cert.h"

using namespace certtest;
using Orvane::Certificate::X509Cert;
using Orvane::Certificate::X509Common;
using Orvane::Certificate::X509v3Ext;

namespace
{

std::string writeFile(const QTemporaryDir &dir, const char *name, const std::string &content)
{
    std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string str(const Bytes &b)
{
    return std::string(b.begin(), b.end());
}

Bytes bytes(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

TEST(Holder, ReadsDerPemFilesAndParsedCertificatesAlike)
{
    CertSpec spec;
    spec.extensions = {confExt("keyUsage", "digitalSignature")};
    X509Ptr x = makeCert(spec);
    const Bytes der = derOf(x.get());
    const std::string pem = pemOf(x.get());
    QTemporaryDir dir;
    const std::string derFile = writeFile(dir, "c.cer", str(der));
    const std::string pemFile = writeFile(dir, "c.pem", pem);
    X509Cert reference(x.get());

    std::vector<std::pair<const char *, std::unique_ptr<X509Cert>>> rows;
    rows.emplace_back("DER bytes", std::make_unique<X509Cert>(der.data(), der.size()));
    rows.emplace_back("PEM bytes", std::make_unique<X509Cert>(bytes(pem).data(), pem.size()));
    rows.emplace_back("DER file", std::make_unique<X509Cert>(derFile.c_str()));
    rows.emplace_back("PEM file", std::make_unique<X509Cert>(pemFile.c_str()));
    rows.emplace_back("copy", std::make_unique<X509Cert>(reference));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.first);
        const X509Cert &holder = *row.second;
        ASSERT_TRUE(holder.IsCertificateOK());
        EXPECT_FALSE(holder.IsEmpty());
        EXPECT_NE(holder.GetCertificate(), x.get());
        EXPECT_EQ(derOf(holder.GetCertificate()), der);
        EXPECT_EQ(holder.GetCertInfo(TextPlain), reference.GetCertInfo(TextPlain));
        EXPECT_EQ(holder.ExtensionCount(FilterAll), 1);
    }
}

TEST(Holder, InputThatDoesNotParseGivesAnEmptyHolder)
{
    X509Ptr x = makeCert({});
    const Bytes der = derOf(x.get());
    const Bytes truncated(der.begin(), der.end() - 1);
    const std::string encrypted = "-----BEGIN CERTIFICATE-----\nProc-Type: 4,ENCRYPTED\n"
                                  "DEK-Info: AES-128-CBC,00112233445566778899AABBCCDDEEFF\n\n"
                                  "AAAAAAAAAAAAAAAAAAAAAA==\n-----END CERTIFICATE-----\n";
    QTemporaryDir dir;
    const std::string garbageFile = writeFile(dir, "g.cer", "no certificate");
    const std::string missing = dir.filePath("missing.cer").toStdString();

    std::vector<std::pair<const char *, std::unique_ptr<X509Cert>>> rows;
    rows.emplace_back("zero length", std::make_unique<X509Cert>(der.data(), 0));
    rows.emplace_back("negative length", std::make_unique<X509Cert>(der.data(), -5));
    rows.emplace_back("null data", std::make_unique<X509Cert>(nullptr, 10));
    rows.emplace_back("truncated DER",
                      std::make_unique<X509Cert>(truncated.data(), truncated.size()));
    rows.emplace_back("PEM asking for a password",
                      std::make_unique<X509Cert>(bytes(encrypted).data(), encrypted.size()));
    rows.emplace_back("garbage file", std::make_unique<X509Cert>(garbageFile.c_str()));
    rows.emplace_back("missing file", std::make_unique<X509Cert>(missing.c_str()));
    rows.emplace_back("null certificate",
                      std::make_unique<X509Cert>(static_cast<const X509 *>(nullptr)));
    rows.emplace_back("null file name",
                      std::make_unique<X509Cert>(static_cast<const char *>(nullptr)));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.first);
        const X509Cert &holder = *row.second;
        EXPECT_TRUE(holder.IsEmpty());
        EXPECT_FALSE(holder.IsCertificateOK());
        EXPECT_EQ(holder.GetCertificate(), nullptr);
        EXPECT_EQ(holder.ExtensionCount(FilterAll), 0);
        EXPECT_EQ(holder.GetCommonText(X509Common::Subject, TextPlain), QString());
        EXPECT_EQ(holder.GetCertInfo(TextPlain), QString());
        const X509Common **commons = nullptr;
        const X509v3Ext **extensions = nullptr;
        int count = 77;
        EXPECT_FALSE(holder.GetCommonList(&commons, &count, X509Cert::SortByType, true));
        EXPECT_FALSE(holder.GetExtensionList(&extensions, &count, X509Cert::SortByType, true));
        EXPECT_EQ(count, 77);
        EXPECT_EQ(X509Cert(holder).IsEmpty(), true);
    }
}

// A certificate whose extensions, in order, are (type, critical):
// unsupported 1.2.3.4.1 (critical), key usage (critical), subject alternative names,
// unsupported 1.2.3.4.2, basic constraints (critical), unsupported 1.2.3.4.3.
CertSpec mixedSpec()
{
    CertSpec spec;
    spec.extensions = {
        rawExt("1.2.3.4.1", hex("05 00"), true),
        confExt("keyUsage", "critical,digitalSignature"),
        confExt("subjectAltName", "DNS:a.test"),
        rawExt("1.2.3.4.2", hex("05 00")),
        confExt("basicConstraints", "critical,CA:TRUE"),
        rawExt("1.2.3.4.3", hex("05 00")),
    };
    return spec;
}

TEST(Holder, CountsExtensionsThatMeetEverySetFilterBit)
{
    X509Ptr x = makeCert(mixedSpec());
    X509Cert holder(x.get());
    const struct {
        int filter;
        int count;
    } rows[] = {
        {0, 6},
        {FilterAll, 6},
        {FilterCritical, 3},
        {FilterNoncritical, 3},
        {FilterSupported, 3},
        {FilterUnsupported, 3},
        {FilterCritical | FilterSupported, 2},
        {FilterCritical | FilterUnsupported, 1},
        {FilterNoncritical | FilterUnsupported, 2},
        {FilterCritical | FilterNoncritical, 0},
        {FilterSupported | FilterUnsupported, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.filter);
        EXPECT_EQ(holder.ExtensionCount(static_cast<eItemFilter>(row.filter)), row.count);
    }
}

std::vector<QString> extensionOrder(const X509Cert &holder, X509Cert::eCertSortBy by,
                                    bool ascending)
{
    const X509v3Ext **list = nullptr;
    int count = 0;
    std::vector<QString> order;
    if (!holder.GetExtensionList(&list, &count, by, ascending))
        return order;
    for (int i = 0; i < count; i++)
        order.push_back(list[i]->GetOID());
    // passing the array back frees it
    EXPECT_FALSE(X509Cert(static_cast<const X509 *>(nullptr))
                     .GetExtensionList(&list, &count, by, ascending));
    EXPECT_EQ(list, nullptr);
    return order;
}

TEST(Holder, SortsExtensionsStablyByEachKey)
{
    X509Ptr x = makeCert(mixedSpec());
    X509Cert holder(x.get());
    const QString u1 = "1.2.3.4.1", ku = "2.5.29.15", san = "2.5.29.17", u2 = "1.2.3.4.2",
                  bc = "2.5.29.19", u3 = "1.2.3.4.3";
    const struct {
        X509Cert::eCertSortBy by;
        bool ascending;
        std::vector<QString> order;
    } rows[] = {
        {X509Cert::SortByType, true, {bc, ku, san, u1, u2, u3}},
        {X509Cert::SortByType, false, {u1, u2, u3, san, ku, bc}},
        {X509Cert::SortByIndex, false, {u1, u2, u3, san, ku, bc}},
        {X509Cert::SortByCritical, true, {san, u2, u3, u1, ku, bc}},
        {X509Cert::SortByCritical, false, {u1, ku, bc, san, u2, u3}},
        {X509Cert::SortByOID, true, {u1, u2, u3, ku, san, bc}},
        // names: "1.2.3.4.n" (unsupported, named by OID) before the letters
        {X509Cert::SortByName, true, {u1, u2, u3, bc, ku, san}},
        {X509Cert::SortByName, false, {san, ku, bc, u3, u2, u1}},
        {static_cast<X509Cert::eCertSortBy>(0), true, {u1, ku, san, u2, bc, u3}},
        {static_cast<X509Cert::eCertSortBy>(9), false, {u1, ku, san, u2, bc, u3}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.by) + (row.ascending ? " ascending" : " descending"));
        EXPECT_EQ(extensionOrder(holder, row.by, row.ascending), row.order);
    }
}

TEST(Holder, ListsTheNineBaseFieldsInTheirOrderOrSorted)
{
    X509Ptr x = makeCert({});
    X509Cert holder(x.get());
    const struct {
        X509Cert::eCertSortBy by;
        bool ascending;
        std::vector<int> types;
    } rows[] = {
        {X509Cert::SortByType, true, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {X509Cert::SortByIndex, false, {8, 7, 6, 5, 4, 3, 2, 1, 0}},
        {X509Cert::SortByOID, false, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {X509Cert::SortByCritical, true, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        // Digital Signature, Fingerprints, Issuer, Public Key..., Serial Number,
        // Subject, Summary, Validity, Version
        {X509Cert::SortByName, true, {5, 4, 2, 6, 8, 1, 0, 3, 7}},
    };
    const X509Common **list = nullptr;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.by);
        int count = 0;
        ASSERT_TRUE(holder.GetCommonList(&list, &count, row.by, row.ascending));
        std::vector<int> types;
        for (int i = 0; i < count; i++)
            types.push_back(list[i]->GetType());
        EXPECT_EQ(types, row.types);
    }
    delete[] list;
}

TEST(Holder, SummaryTextListsIssuerSubjectSerialAndExtensions)
{
    CertSpec spec;
    spec.serial = {0x0A, 0xFF};
    spec.extensions = {confExt("basicConstraints", "CA:FALSE"), rawExt("1.2.3.4.5", hex("05 00"))};
    X509Ptr withExtensions = makeCert(spec);
    spec.extensions.clear();
    X509Ptr without = makeCert(spec);
    const QString head = "Issuer: Test Holder, Test Org, CZ\nSubject: Test Holder, Test Org, CZ\n"
                         "Serial Number: 0x(0A:FF)\n";
    EXPECT_EQ(X509Cert(withExtensions.get()).GetCertInfo(TextPlain),
              head + "Extensions count: 2\nExtensions: Basic Constraints, 1.2.3.4.5");
    EXPECT_EQ(X509Cert(without.get()).GetCertInfo(TextPlain), head + "Extensions count: 0\n");
    EXPECT_EQ(X509Cert(without.get()).GetCertInfo(TextRich), "N/A");

    const X509v3Ext **list = nullptr;
    int count = 5;
    EXPECT_FALSE(
        X509Cert(without.get()).GetExtensionList(&list, &count, X509Cert::SortByType, true));
    EXPECT_EQ(count, 5);
}

TEST(Holder, TextsByTypeAndMarkupInTheSubject)
{
    CertSpec spec;
    spec.subject = {{"CN", "<img src=x>&amp;"}};
    X509Ptr x = makeCert(spec);
    X509Cert holder(x.get());
    EXPECT_EQ(holder.GetCommonText(X509Common::Subject, TextPlain), "<img src=x>&amp;");
    QString rich = holder.GetCommonText(X509Common::Subject, TextRich);
    EXPECT_TRUE(rich.contains("&lt;img src=x&gt;&amp;amp;"));
    EXPECT_FALSE(rich.contains("<img"));
    EXPECT_EQ(holder.GetCommonText(X509Common::Version, TextPlain), "V3 (0x02)");
    EXPECT_EQ(holder.GetCommonText(X509Common::Invalid, TextPlain), QString());
    EXPECT_EQ(holder.GetExtensionText(X509v3Ext::KeyUsage, TextPlain), QString());
    X509Ptr mixed = makeCert(mixedSpec());
    EXPECT_EQ(X509Cert(mixed.get()).GetExtensionText(X509v3Ext::KeyUsage, TextPlain),
              "digitalSignature");
}

TEST(Holder, AnotherCertificateReplacesTheItemsAndACopyOutlivesItsOriginal)
{
    X509Ptr first = makeCert(mixedSpec());
    X509Ptr second = makeCert({});
    auto holder = std::make_unique<X509Cert>(first.get());
    EXPECT_EQ(holder->ExtensionCount(FilterAll), 6);
    X509Cert copy(*holder);
    holder->SetCertificate(second.get());
    EXPECT_EQ(holder->ExtensionCount(FilterAll), 0);
    EXPECT_EQ(holder->GetCommonText(X509Common::SerialNumber, TextPlain), "0x(01)");
    holder->Clear();
    EXPECT_FALSE(holder->IsEmpty());
    EXPECT_EQ(holder->GetCommonText(X509Common::SerialNumber, TextPlain), QString());
    holder->SetCertificate(nullptr);
    EXPECT_TRUE(holder->IsEmpty());
    holder.reset();
    first.reset();
    EXPECT_EQ(copy.ExtensionCount(FilterUnsupported), 3);
    EXPECT_EQ(copy.GetCommonText(X509Common::Subject, TextShort), "Test Holder");
}

TEST(Holder, WritesToABIOInFullOrRefusesBadArguments)
{
    const unsigned char data[] = "certificate bytes";
    BIO *bio = BIO_new(BIO_s_mem());
    EXPECT_FALSE(X509Cert::writeToBIO(nullptr, data, 4));
    EXPECT_FALSE(X509Cert::writeToBIO(bio, nullptr, 4));
    EXPECT_FALSE(X509Cert::writeToBIO(bio, data, -1));
    EXPECT_TRUE(X509Cert::writeToBIO(bio, data, 0));
    EXPECT_TRUE(X509Cert::writeToBIO(bio, data, sizeof(data)));
    char *written = nullptr;
    ASSERT_EQ(BIO_get_mem_data(bio, &written), static_cast<long>(sizeof(data)));
    EXPECT_EQ(memcmp(written, data, sizeof(data)), 0);
    BIO_free(bio);
}

} // namespace
