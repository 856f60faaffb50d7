// The texts of every known extension and of an unsupported one, in each form their
// builders serve, over certificates made in the test with OpenSSL.
#include <gtest/gtest.h>

#include "cert_builder.h"
#include "certview/x509_v3ext.h"
#include "html_expect.h"

using namespace certtest;
using Orvane::Certificate::X509v3Ext;

namespace
{

struct TextRow {
    const char *what;
    Ext ext;
    eTextReturnType form;
    QString expected;
    std::string config = "";
};

// The text of the only extension of a certificate made with ext.
QString textOf(const TextRow &row)
{
    CertSpec spec;
    spec.extensions = {row.ext};
    spec.config = row.config;
    X509Ptr x = makeCert(spec);
    X509v3Ext item(X509_get_ext(x.get(), 0));
    return asPage(item.GetText(row.form));
}

void expectRows(const std::vector<TextRow> &rows)
{
    for (const TextRow &row : rows) {
        SCOPED_TRACE(std::string(row.what) + ", form " + std::to_string(row.form));
        EXPECT_EQ(textOf(row).toStdString(), row.expected.toStdString());
    }
}

QString rows2(const QString &heading, const QString &value, int margin = 10)
{
    return bold(heading) + indent(margin, value);
}

TEST(ExtensionTexts, KeyUsageAndNetscapeCertificateType)
{
    const Ext usage = confExt("keyUsage", "digitalSignature,keyEncipherment");
    const QString usageBody =
        rows2("digitalSignature",
              "Public key is used with a digital signature mechanism to support security.") +
        rows2("keyEncipherment", "Enciphering of key");
    const Ext type = confExt("nsCertType", "critical,client,server,objsign");
    const QString typeBody =
        rows2("SSL Client", "The certificate can be used by clients for authentication during "
                            "SSL connections.") +
        rows2("SSL Server", "The certificate can be used by servers for authentication during "
                            "SSL connections.") +
        rows2("Object-signing", "The certificate can be used for signing objects such as Java "
                                "applets and plugins.");
    expectRows({
        {"two usages", usage, TextPlain, "digitalSignature, keyEncipherment"},
        {"two usages", usage, TextRich, page("Public key usage - Noncritical", usageBody)},
        {"two usages", usage, TextShort, page("Public key usage - Noncritical", usageBody)},
        {"bit 8", confExt("keyUsage", "decipherOnly"), TextPlain, "decipherOnly"},
        {"no bit set", rawExt("2.5.29.15", hex("03 01 00")), TextPlain, ""},
        {"no bit set", rawExt("2.5.29.15", hex("03 01 00"), true), TextRich,
         page("Public key usage - Critical", "")},
        {"three types", type, TextPlain, "SSL Client, SSL Server, Object-signing"},
        {"three types", type, TextRich, page("Netscape certificate type - Critical", typeBody)},
        {"three types", type, TextOID, page("Netscape certificate type - Critical", typeBody)},
    });
}

TEST(ExtensionTexts, AlternativeNames)
{
    const Ext subject = confExt("subjectAltName", "email:a@x.test,DNS:b.test,IP:10.0.0.1");
    const QString subjectBody = rows2(boldSpan("Email"), span("a@x.test")) +
                                rows2(boldSpan("DNS"), span("b.test")) +
                                rows2("IP address (IPv4)", "10.0.0.1");
    const Ext directory = confExt("subjectAltName", "dirName:dir_sect");
    const std::string dirConfig = "[dir_sect]\nCN=A\nO=B\n";
    const Ext issuer = confExt("issuerAltName", "DNS:<b>.test,URI:http://i.test/?a&b");
    expectRows({
        {"three names", subject, TextPlain, "a@x.test, b.test, 10.0.0.1"},
        {"three names", subject, TextRich,
         page("Subject alternative names - Noncritical", subjectBody)},
        {"three names", subject, TextShort, ""},
        {"directory name", directory, TextPlain, "A, B", dirConfig},
        {"directory name", directory, TextRich,
         page(
             "Subject alternative names - Noncritical",
             rows2(bold("Directory name"), rows2("Common name", "A") + rows2("Organization", "B"))),
         dirConfig},
        {"markup stays plain", issuer, TextPlain, "<b>.test, http://i.test/?a&b"},
        {"names in rich form", issuer, TextRich,
         page("Issuer alternative names - Noncritical",
              rows2(boldSpan("DNS"), span("&lt;b&gt;.test")) +
                  rows2(boldSpan("URI"), span("http://i.test/?a&amp;b")))},
        {"names in the form given", issuer, TextShort,
         page("Issuer alternative names - Noncritical",
              rows2("DNS", "&lt;b&gt;.test") + rows2("URI", "http://i.test/?a&amp;b"))},
    });
}

TEST(ExtensionTexts, KeyIdentifiers)
{
    const Ext subject = rawExt("2.5.29.14", hex("04 02 01 AB"));
    // keyIdentifier 01 02, authorityCertIssuer DNS "ca.test", serial 05
    const Ext full = rawExt("2.5.29.35", hex("30 12 80 02 01 02 A1 09 82 07 63 61 2E 74 65 73 74 "
                                             "82 01 05"));
    const Ext serialOnly = rawExt("2.5.29.35", hex("30 03 82 01 05"));
    const QString serialRows = rows2("Certificate serial number", "05 ");
    expectRows({
        {"subject id", subject, TextPlain, "ID: 01 AB "},
        {"subject id", subject, TextRich,
         page("Subject key identifier - Noncritical", rows2("Key identifier", "01 AB "))},
        {"subject id", subject, TextShort, ""},
        {"all parts", full, TextPlain, "ID: 01 02 "},
        {"all parts", full, TextRich,
         page("Authority key identifier - Noncritical",
              rows2("Key identifier", "01 02 ") + bold("Certificate issuer") +
                  boldIndent(10, "DNS") + indent(20, "ca.test") + serialRows)},
        {"serial only", serialOnly, TextPlain, ""},
        {"serial only", serialOnly, TextRich,
         page("Authority key identifier - Noncritical", serialRows)},
        {"serial only", serialOnly, TextShort, ""},
    });
}

TEST(ExtensionTexts, AccessDescriptions)
{
    const Ext authority =
        confExt("authorityInfoAccess", "OCSP;URI:http://ocsp.test,caIssuers;URI:http://ca.test");
    auto description = [](int n, const QString &method, const QString &uri) {
        QString rows = bold("Access description " + QString::number(n));
        if (!method.isEmpty())
            rows += boldIndent(10, "Method") + indent(20, method);
        return rows + boldIndent(10, "Location") + boldIndent(20, "URI") + indent(30, uri);
    };
    const Ext subject = confExt("subjectInfoAccess",
                                "caRepository;URI:http://repo.test,1.3.6.1.5.5.7.48.3;URI:http://"
                                "tsa.test,1.2.3.4;URI:http://x.test");
    expectRows({
        {"OCSP and CA issuers", authority, TextPlain, "<details>"},
        {"OCSP and CA issuers", authority, TextRich,
         page("Authority information access - Noncritical",
              description(1, "Online Certificate Status Protocol (OCSP)", "http://ocsp.test") +
                  description(2, "Certificate authority issuers", "http://ca.test"))},
        {"OCSP and CA issuers", authority, TextShort, ""},
        {"repository, time stamping, unknown", subject, TextPlain, "<details>"},
        {"repository, time stamping, unknown", subject, TextRich,
         page("Subject information access - Noncritical",
              description(1, "Certificate authority repository", "http://repo.test") +
                  description(2, "Time Stamp Protocol (TSP)", "http://tsa.test") +
                  description(3, "", "http://x.test"))},
        {"repository", subject, TextSHA1, ""},
    });
}

TEST(ExtensionTexts, ConstraintsAndCounts)
{
    const Ext endEntity = confExt("basicConstraints", "CA:FALSE");
    const QString endRows = rows2("Certificate Type", "End entity certificate") +
                            rows2("Subject type", "Subject is not a Certificate Authority (CA).");
    const QString caRows = rows2("Certificate Type", "CA or Self-issued certificate") +
                           rows2("Subject type", "Subject is a Certificate Authority (CA).");
    const Ext policy =
        confExt("policyConstraints", "requireExplicitPolicy:1,inhibitPolicyMapping:2");
    const QString inhibitRows =
        rows2("inhibitPolicyMapping", "2 additional certificate(s) that may appear in the path "
                                      "before policy mapping is no longer permitted.");
    const QString requireRows = rows2("requireExplicitPolicy",
                                      "1 additional certificate(s) that may appear in the path "
                                      "before an explicit policy is required for the entire path.");
    expectRows({
        {"end entity", endEntity, TextPlain, "End entity certificate"},
        {"end entity", endEntity, TextRich, page("Basic constraints - Noncritical", endRows)},
        {"end entity", endEntity, TextMD5, "End entity certificate"},
        {"CA, path length 0", confExt("basicConstraints", "critical,CA:TRUE,pathlen:0"), TextRich,
         page("Basic constraints - Critical", caRows + rows2("Path length constraint", "0"))},
        {"CA without a path length", confExt("basicConstraints", "critical,CA:TRUE"), TextRich,
         page("Basic constraints - Critical",
              caRows + rows2("Path length constraint", "&lt;unlimited&gt;"))},
        {"CA", confExt("basicConstraints", "CA:TRUE"), TextPlain, "CA or Self-issued certificate"},
        {"both policy constraints", policy, TextPlain, "<details>"},
        {"both policy constraints", policy, TextRich,
         page("Policy Constraints - Noncritical", inhibitRows + requireRows)},
        {"require only", confExt("policyConstraints", "requireExplicitPolicy:1"), TextRich,
         page("Policy Constraints - Noncritical", requireRows)},
        {"both policy constraints", policy, TextShort, ""},
        {"inhibit any policy", confExt("inhibitAnyPolicy", "critical,2"), TextPlain, "<details>"},
        {"inhibit any policy", confExt("inhibitAnyPolicy", "critical,2"), TextRich,
         page("Inhibit any policy - Critical",
              rows2("Number of additional non-self-issued certificates", "2"))},
        {"inhibit any policy", confExt("inhibitAnyPolicy", "2"), TextShort, ""},
    });
}

TEST(ExtensionTexts, NetscapeCommentPolicyMappingsAndUnsupported)
{
    const Ext comment = confExt("nsComment", "a <b>comment</b> & more");
    const Ext mappings = confExt("policyMappings", "1.2.3.4:1.2.3.5");
    const Ext unknown = rawExt("1.2.3.4.5", hex("04 03 41 3C 42"), true);
    const Ext known = confExt("tlsfeature", "status_request");
    const QString unknownBody = rows2("Extension identifier", "1.2.3.4.5") +
                                rows2("Binary data", QString::fromLatin1("\x04\x03"
                                                                         "A&lt;B")) +
                                rows2("Hexadecimal data", "04 03 41 3C 42 ");
    expectRows({
        {"comment", comment, TextPlain, "a <b>comment</b> & more"},
        {"comment", comment, TextRich,
         page("Netscape comment - Noncritical", span("a &lt;b&gt;comment&lt;/b&gt; &amp; more"))},
        {"comment", comment, TextShort, ""},
        {"mappings", mappings, TextPlain, ""},
        {"mappings", mappings, TextRich, ""},
        {"unknown to OpenSSL", unknown, TextPlain, "<details>"},
        {"unknown to OpenSSL", unknown, TextRich,
         page("Unsupported extension - Critical", unknownBody)},
        {"unknown to OpenSSL", unknown, TextOID, "1.2.3.4.5"},
        {"unknown to OpenSSL", unknown, TextShort, ""},
        {"known to OpenSSL", known, TextPlain, "TLS Feature"},
        {"known to OpenSSL", known, TextRich,
         page("Unsupported extension - Noncritical",
              rows2("Extension identifier", "1.3.6.1.5.5.7.1.24") +
                  rows2("Extension name", "TLS Feature") +
                  rows2("Binary data", "0\x03\x02\x01\x05") +
                  rows2("Hexadecimal data", "30 03 02 01 05 "))},
    });
}

TEST(ExtensionTexts, CRLDistributionPointsAndFreshestCRL)
{
    const Ext one = confExt("crlDistributionPoints", "URI:http://crl.test/a.crl");
    const QString oneBody =
        bold("Distribution point 1") + boldIndent(10, "URI") + indent(20, "http://crl.test/a.crl");
    const Ext full = confExt("crlDistributionPoints", "critical,dp1,dp2");
    const std::string config = "[dp1]\nfullname=URI:http://crl.test/b.crl\n"
                               "reasons=keyCompromise,CACompromise\n"
                               "CRLissuer=DNS:i1.test,email:i2@x.test\n"
                               "[dp2]\nrelativename=rdn\n[rdn]\nCN=part<1>\n";
    const QString fullBody = bold("Distribution point 1") + boldIndent(10, "URI") +
                             indent(20, "http://crl.test/b.crl") + boldIndent(10, "Reason of CRL") +
                             indent(20, "Key compromise, Certificate authority compromise") +
                             boldIndent(10, "CRL Issuer") + block(20, boldSpan("DNS")) +
                             block(30, span("i1.test")) + block(20, boldSpan("Email")) +
                             block(30, span("i2@x.test")) + bold("Distribution point 2") +
                             boldIndent(10, "Common name") + indent(20, "part&lt;1&gt;");
    // reasons with only bit 9 set
    const Ext farReason = rawExt("2.5.29.31", hex("30 07 30 05 81 03 06 00 40"));
    const Ext fresh = confExt("freshestCRL", "URI:http://delta.test");
    const QString freshTitle = "Freshest CRL (Delta CRL distribution point) - Noncritical";
    expectRows({
        {"one URI", one, TextPlain, "<details>"},
        {"one URI", one, TextRich, page("CRL distribution points - Noncritical", oneBody)},
        {"one URI", one, TextFreshestCRLRich, page(freshTitle, oneBody)},
        {"one URI", one, TextFreshestCRLPlain, "<details>"},
        {"one URI", one, TextShort, ""},
        {"reasons, issuers, relative name", full, TextRich,
         page("CRL distribution points - Critical", fullBody), config},
        {"a reason beyond bit 8", farReason, TextRich,
         page("CRL distribution points - Noncritical", bold("Distribution point 1"))},
        {"no points", rawExt("2.5.29.31", hex("30 00")), TextRich,
         page("CRL distribution points - Noncritical", "")},
        {"freshest", fresh, TextPlain, "<details>"},
        {"freshest", fresh, TextRich,
         page(freshTitle, bold("Distribution point 1") + boldIndent(10, "URI") +
                              indent(20, "http://delta.test"))},
        {"freshest", fresh, TextFreshestCRLRich, ""},
    });
}

TEST(ExtensionTexts, ExtendedKeyUsage)
{
    const Ext two = confExt("extendedKeyUsage", "serverAuth,clientAuth");
    const Ext unknownFirst = confExt("extendedKeyUsage", "1.2.3.4,serverAuth,timeStamping");
    expectRows({
        {"two purposes", two, TextPlain, "Server authentication, Client authentication"},
        {"two purposes", two, TextRich,
         page("Extended key usage - Noncritical",
              rows2("Server authentication", "TLS web server authentication") +
                  rows2("Client authentication", "TLS web client authentication"))},
        {"two purposes", two, TextShort, ""},
        {"unknown first", unknownFirst, TextPlain, "1.2.3.4, Server authentication, Timestamping"},
        {"unknown first", unknownFirst, TextRich,
         page("Extended key usage - Noncritical",
              bold("Unknown usage: 1.2.3.4") +
                  rows2("Server authentication", "TLS web server authentication") +
                  rows2("Timestamping", "Binding the hash of an object to a time"))},
        {"empty list", rawExt("2.5.29.37", hex("30 00")), TextPlain, ""},
    });
}

TEST(ExtensionTexts, SubjectDirectoryAttributes)
{
    // countryOfCitizenship "CZ"
    const Ext citizenship =
        rawExt("2.5.29.9", hex("30 12 30 10 06 08 2B 06 01 05 05 07 09 04 31 04 13 02 43 5A"));
    // type 1.2.3.4 with PrintableString "a", UTF8String "<b>", INTEGER 5, PrintableString "c"
    const Ext values =
        rawExt("2.5.29.9", hex("30 17 30 15 06 03 2A 03 04 31 0E 13 01 61 0C 03 3C 62 "
                               "3E 02 01 05 13 01 63"));
    // an attribute without a type, then one with type 1.2.3.4 and no values
    const Ext noType = rawExt("2.5.29.9", hex("30 0C 30 03 02 01 01 30 05 06 03 2A 03 04"));
    expectRows({
        {"known type", citizenship, TextPlain, "<details>"},
        {"known type", citizenship, TextRich,
         page("Subject directory attributes - Noncritical",
              bold("Attribute 1") +
                  boldIndent(10, "1.3.6.1.5.5.7.9.4 (id-pda-countryOfCitizenship)") +
                  indent(20, "CZ"))},
        {"known type", citizenship, TextShort, ""},
        {"values up to the first that is no string", values, TextRich,
         page("Subject directory attributes - Noncritical",
              bold("Attribute 1") + boldIndent(10, "1.2.3.4") + indent(20, "a") +
                  indent(20, "&lt;b&gt;"))},
        {"an attribute without type is counted", noType, TextRich,
         page("Subject directory attributes - Noncritical",
              bold("Attribute 2") + boldIndent(10, "1.2.3.4"))},
        {"not a sequence", rawExt("2.5.29.9", hex("04 00")), TextRich, ""},
        {"not a sequence", rawExt("2.5.29.9", hex("04 00")), TextPlain, "<details>"},
    });
}

TEST(ExtensionTexts, NameConstraints)
{
    const Ext both =
        confExt("nameConstraints", "critical,permitted;DNS:.test,excluded;dirName:dir");
    const std::string config = "[dir]\nCN=A\n";
    expectRows({
        {"excluded before permitted", both, TextPlain, "<details>", config},
        {"excluded before permitted", both, TextRich,
         page("Name constraints - Critical",
              bold("Excluded subtrees") +
                  indent(10, bold("Directory name") + ": " + rows2("Common name", "A")) +
                  bold("Permitted subtrees") + indent(10, boldSpan("DNS") + ": " + span(".test"))),
         config},
        {"permitted only", confExt("nameConstraints", "permitted;email:<x>"), TextRich,
         page("Name constraints - Noncritical",
              bold("Permitted subtrees") +
                  indent(10, boldSpan("Email") + ": " + span("&lt;x&gt;")))},
        {"permitted only", confExt("nameConstraints", "permitted;email:x"), TextShort, ""},
    });
}

TEST(ExtensionTexts, CertificatePolicies)
{
    const Ext policies = confExt("certificatePolicies", "@pol,2.5.29.32.0");
    const std::string config = "[pol]\npolicyIdentifier=1.2.3.4\nCPS.1=\"http://cps.test/?a&b\"\n"
                               "userNotice.1=@notice\n"
                               "[notice]\nexplicitText=\"Hello <you>\"\norganization=\"Org\"\n"
                               "noticeNumbers=1,300\n";
    const QString body =
        bold("Certificate policy 1") + boldIndent(10, "Identifier: " + span("1.2.3.4")) +
        boldIndent(10, "Pointer to a Certification Practice Statement (CPS): ") +
        indent(20, "http://cps.test/?a&amp;b") + boldIndent(10, "User notice reference: ") +
        indent(20, "Org") + boldIndent(20, "Notice number: " + span("1")) +
        boldIndent(20, "Notice number: " + span("300")) + boldIndent(10, "User notice:") +
        indent(20, "Hello &lt;you&gt;") + bold("Certificate policy 2") +
        boldIndent(10, "Identifier: " + span("Any policy"));
    const Ext bare = confExt("certificatePolicies", "1.2.3.4");
    expectRows({
        {"two policies", policies, TextPlain, "<details>", config},
        {"two policies", policies, TextRich, page("Certificate policies - Noncritical", body),
         config},
        {"two policies", policies, TextCPSPointer, "http://cps.test/?a&b", config},
        {"two policies", policies, TextUserNotice, "Hello <you>", config},
        {"two policies", policies, TextShort, "", config},
        {"no qualifiers", bare, TextCPSPointer, ""},
        {"no qualifiers", bare, TextUserNotice, ""},
        {"no qualifiers", bare, TextRich,
         page("Certificate policies - Noncritical",
              bold("Certificate policy 1") + boldIndent(10, "Identifier: " + span("1.2.3.4")))},
    });
}

TEST(ExtensionTexts, PrivateKeyUsagePeriod)
{
    auto period = [](const std::string &fields) {
        Bytes der = hex(fields);
        Bytes seq = {0x30, static_cast<unsigned char>(der.size())};
        seq.insert(seq.end(), der.begin(), der.end());
        return rawExt("2.5.29.16", seq);
    };
    const std::string from =
        "80 0F 32 30 32 30 30 31 30 31 30 30 30 30 30 30 5A";                    // 20200101000000Z
    const std::string to = "81 0F 32 30 33 30 30 31 30 31 30 30 30 30 30 30 5A"; // 20300101000000Z
    expectRows({
        {"both times", period(from + to), TextPlain, "01/01/20 - 01/01/30"},
        {"both times", period(from + to), TextRich,
         page("Private key usage period - Noncritical",
              rows2("Valid from", "01/01/20 00:00:00 GMT") +
                  rows2("Valid to", "01/01/30 00:00:00 GMT"))},
        {"notAfter only", period(to), TextPlain, "01/01/30"},
        {"both times", period(from + to), TextShort, ""},
    });
}

} // namespace
