// Extension items: the twenty known extensions recognised by OID, named and marked
// critical or not; any other extension unsupported; the item's own copy.
#include <gtest/gtest.h>

#include "cert_builder.h"
#include "certview/x509_v3ext.h"

using namespace certtest;
using Orvane::Certificate::X509v3Ext;

namespace
{

struct KnownRow {
    Ext ext;
    X509v3Ext::eCertExt type;
    const char *name;
    const char *oid;
};

// One certificate with the extension, critical when asked, and its first extension.
X509Ptr certWith(Ext ext, bool critical)
{
    if (ext.der.empty())
        ext.value = (critical ? "critical," : "") + ext.value;
    ext.critical = critical;
    CertSpec spec;
    spec.extensions = {ext};
    return makeCert(spec);
}

const Bytes akid = hex("30 06 80 04 01 02 03 04");

std::vector<KnownRow> knownRows()
{
    const std::string period = "20200101000000Z";
    Bytes usagePeriod = hex("30 11 80 0F");
    usagePeriod.insert(usagePeriod.end(), period.begin(), period.end());
    // SEQUENCE { SEQUENCE { countryOfCitizenship, SET { PrintableString "CZ" } } }
    const Bytes directory = hex("30 12 30 10 06 08 2B 06 01 05 05 07 09 04 31 04 13 02 43 5A");
    return {
        {confExt("basicConstraints", "CA:TRUE"), X509v3Ext::BasicConstraints, "Basic Constraints",
         "2.5.29.19"},
        {confExt("nameConstraints", "permitted;DNS:.test"), X509v3Ext::NameConstraints,
         "Name Constraints", "2.5.29.30"},
        {confExt("policyConstraints", "requireExplicitPolicy:1"), X509v3Ext::PolicyConstraints,
         "Policy Constraints", "2.5.29.36"},
        {confExt("keyUsage", "digitalSignature"), X509v3Ext::KeyUsage, "Public Key Usage",
         "2.5.29.15"},
        {confExt("extendedKeyUsage", "serverAuth"), X509v3Ext::ExtendedKeyUsage,
         "Extended Key Usage", "2.5.29.37"},
        {rawExt("2.5.29.35", akid), X509v3Ext::AuthorityKeyIdentifier, "Authority Key Identifier",
         "2.5.29.35"},
        {confExt("subjectKeyIdentifier", "hash"), X509v3Ext::SubjectKeyIdentifier,
         "Subject Key Identifier", "2.5.29.14"},
        {confExt("certificatePolicies", "1.2.3.4"), X509v3Ext::CertificatePolicies,
         "Certificate Policies", "2.5.29.32"},
        {confExt("subjectAltName", "DNS:a.test"), X509v3Ext::SubjectAltNames,
         "Subject Alternative Names", "2.5.29.17"},
        {confExt("issuerAltName", "DNS:b.test"), X509v3Ext::IssuerAltNames,
         "Issuer Alternative Names", "2.5.29.18"},
        {confExt("inhibitAnyPolicy", "2"), X509v3Ext::InhibitAnyPolicy, "Inhibit Any-Policy",
         "2.5.29.54"},
        {confExt("crlDistributionPoints", "URI:http://crl.test/a.crl"),
         X509v3Ext::CRLDistributionPoints, "CRL Distribution Points", "2.5.29.31"},
        {confExt("authorityInfoAccess", "OCSP;URI:http://ocsp.test"),
         X509v3Ext::AuthorityInfoAccess, "Authority Information Access", "1.3.6.1.5.5.7.1.1"},
        {confExt("subjectInfoAccess", "caRepository;URI:http://repo.test"),
         X509v3Ext::SubjectInfoAccess, "Subject Information Access", "1.3.6.1.5.5.7.1.11"},
        {rawExt("2.5.29.16", usagePeriod), X509v3Ext::PrivateKeyUsagePeriod,
         "Private Key Usage Period", "2.5.29.16"},
        {confExt("policyMappings", "1.2.3.4:1.2.3.5"), X509v3Ext::PolicyMappings, "Policy Mappings",
         "2.5.29.33"},
        {rawExt("2.5.29.9", directory), X509v3Ext::SubjectDirectoryAttributes,
         "Subject Directory Attributes", "2.5.29.9"},
        {confExt("freshestCRL", "URI:http://delta.test"), X509v3Ext::FreshestCRL, "Freshest CRL",
         "2.5.29.46"},
        {confExt("nsCertType", "client"), X509v3Ext::NetscapeCertType, "Netscape Certificate Type",
         "2.16.840.1.113730.1.1"},
        {confExt("nsComment", "a comment"), X509v3Ext::NetscapeComment, "Netscape Comment",
         "2.16.840.1.113730.1.13"},
    };
}

TEST(Extensions, EachKnownExtensionIsRecognisedByItsOID)
{
    for (const KnownRow &row : knownRows()) {
        for (bool critical : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (critical ? " critical" : ""));
            X509Ptr x = certWith(row.ext, critical);
            ASSERT_EQ(X509_get_ext_count(x.get()), 1);
            X509v3Ext item(X509_get_ext(x.get(), 0));
            EXPECT_EQ(item.GetType(), row.type);
            EXPECT_EQ(item.GetName(), row.name);
            EXPECT_EQ(item.GetOID(), row.oid);
            EXPECT_EQ(item.IsCritical(), critical);
            EXPECT_TRUE(item.IsSupported());
            EXPECT_TRUE(item.IsAvailable());
            EXPECT_EQ(item.GetVersion(), 2u);
            EXPECT_FALSE(item.GetTooltip().isEmpty());
            EXPECT_NE(item.GetTooltip(), "Unsupported extension");
        }
    }
}

TEST(Extensions, AnyOtherExtensionIsUnsupportedWithANameFromOpenSSLOrItsOID)
{
    const struct {
        Ext ext;
        const char *name;
        const char *oid;
    } rows[] = {
        {confExt("tlsfeature", "status_request"), "TLS Feature", "1.3.6.1.5.5.7.1.24"},
        {rawExt("1.2.3.4.5", hex("05 00"), true), "1.2.3.4.5", "1.2.3.4.5"},
        // an arc of the basic-constraints OID is not the extension
        {rawExt("2.5.29.19.1", hex("30 00")), "2.5.29.19.1", "2.5.29.19.1"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        X509Ptr x = certWith(row.ext, row.ext.critical);
        X509v3Ext item(X509_get_ext(x.get(), 0));
        EXPECT_EQ(item.GetType(), X509v3Ext::Unsupported);
        EXPECT_EQ(item.GetName(), row.name);
        EXPECT_EQ(item.GetOID(), row.oid);
        EXPECT_EQ(item.GetTooltip(), "Unsupported extension");
        EXPECT_EQ(item.IsCritical(), row.ext.critical);
        EXPECT_FALSE(item.IsSupported());
        EXPECT_TRUE(item.IsAvailable());
    }
}

TEST(Extensions, SettingNothingLeavesAnEmptyItemThatKeepsItsName)
{
    X509Ptr x = certWith(confExt("keyUsage", "digitalSignature"), true);
    X509v3Ext item(X509_get_ext(x.get(), 0));
    item.SetData(static_cast<const X509_EXTENSION *>(nullptr));
    EXPECT_EQ(item.GetType(), X509v3Ext::Invalid);
    EXPECT_EQ(item.GetData(), nullptr);
    EXPECT_FALSE(item.IsSupported());
    EXPECT_FALSE(item.IsAvailable());
    EXPECT_EQ(item.GetText(TextPlain), QString());
    EXPECT_EQ(item.GetName(), "Public Key Usage");
    EXPECT_EQ(item.GetOID(), "2.5.29.15");

    X509v3Ext none(static_cast<const X509_EXTENSION *>(nullptr));
    EXPECT_EQ(none.GetType(), X509v3Ext::Invalid);
    EXPECT_EQ(none.GetName(), QString());
}

TEST(Extensions, DERBytesGiveTheSameItemAndGarbageGivesNone)
{
    X509Ptr x = certWith(confExt("basicConstraints", "CA:TRUE"), true);
    X509_EXTENSION *ext = X509_get_ext(x.get(), 0);
    unsigned char *der = nullptr;
    int length = i2d_X509_EXTENSION(ext, &der);
    ASSERT_GT(length, 0);
    X509v3Ext item(der, length);
    EXPECT_EQ(item.GetType(), X509v3Ext::BasicConstraints);
    EXPECT_TRUE(item.IsCritical());
    X509v3Ext truncated(der, length - 1);
    EXPECT_EQ(truncated.GetType(), X509v3Ext::Invalid);
    OPENSSL_free(der);
    const unsigned char garbage[] = {0x30, 0x80, 0xFF};
    EXPECT_EQ(X509v3Ext(garbage, sizeof(garbage)).GetType(), X509v3Ext::Invalid);
    EXPECT_EQ(X509v3Ext(nullptr, 10).GetType(), X509v3Ext::Invalid);
    EXPECT_EQ(X509v3Ext(garbage, -1).GetType(), X509v3Ext::Invalid);
}

TEST(Extensions, ACopyOwnsItsOwnExtension)
{
    X509Ptr x = certWith(confExt("nsComment", "kept"), false);
    auto original = std::make_unique<X509v3Ext>(X509_get_ext(x.get(), 0));
    X509v3Ext copy(*original);
    EXPECT_NE(copy.GetData(), original->GetData());
    original.reset();
    x.reset();
    ASSERT_NE(copy.GetData(), nullptr);
    EXPECT_EQ(OBJ_obj2nid(X509_EXTENSION_get_object(copy.GetData())), NID_netscape_comment);
    EXPECT_EQ(copy.GetType(), X509v3Ext::NetscapeComment);
    EXPECT_EQ(copy.GetName(), "Netscape Comment");
    EXPECT_STREQ(copy.ToString(), "Netscape Comment");
    EXPECT_EQ(copy.GetText(TextPlain), "kept");
}

} // namespace
