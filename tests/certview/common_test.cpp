// The nine base fields of a certificate in each form they serve, against OpenSSL's
// own reading of certificates made in the test.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include "cert_builder.h"
#include "certview/x509_common.h"
#include "html_expect.h"

using namespace certtest;
using Orvane::Certificate::X509Common;

namespace
{

// Each byte as two upper-case hex digits followed by `after`, the bytes joined by `between`.
QString hexText(const unsigned char *data, int length, const char *after, const char *between)
{
    QString out;
    for (int i = 0; i < length; i++)
        out += (i ? QString::fromLatin1(between) : QString()) + QString::asprintf("%02X", data[i]) +
               QString::fromLatin1(after);
    return out;
}

QString spacedHex(const Bytes &b)
{
    return hexText(b.data(), static_cast<int>(b.size()), " ", "");
}

QString colonHex(const Bytes &b)
{
    return hexText(b.data(), static_cast<int>(b.size()), "", ":");
}

// The rich texts' form: a zero-width space after each colon, where a line may end.
QString breakableColonHex(const Bytes &b)
{
    return colonHex(b).replace(":", QString(":") + QChar(0x200B));
}

Bytes publicKeyBits(X509 *x)
{
    const unsigned char *bits = nullptr;
    int length = 0;
    X509_PUBKEY_get0_param(nullptr, &bits, &length, nullptr, X509_get_X509_PUBKEY(x));
    return Bytes(bits, bits + length);
}

Bytes signatureBits(X509 *x)
{
    const ASN1_BIT_STRING *sig = nullptr;
    X509_get0_signature(&sig, nullptr, x);
    const unsigned char *p = ASN1_STRING_get0_data(sig);
    return Bytes(p, p + ASN1_STRING_length(sig));
}

Bytes digestOf(X509 *x, const EVP_MD *md)
{
    Bytes der = derOf(x);
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(der.data(), der.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

QString labelled(const QString &label, const QString &value)
{
    return bold(label) + indent(10, value);
}

class BaseFields : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        rsa = makeCert({}).release();
        CertSpec ec;
        ec.version = 0;
        ec.ec = true;
        ec.serial = hex("7F 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13");
        ec.notBefore = "500101000000Z";  // UTCTime: 1950
        ec.notAfter = "20500101000000Z"; // GeneralizedTime
        ec.subject = {{"C", "CZ"}, {"O", "Zkušební"}, {"CN", "Žluťoučký kůň", V_ASN1_BMPSTRING}};
        ecV1 = makeCert(ec).release();
        CertSpec two;
        two.serial = {0x01, 0x00};
        two.version = 1;
        serial256 = makeCert(two).release();
    }
    static void TearDownTestSuite()
    {
        X509_free(rsa);
        X509_free(ecV1);
        X509_free(serial256);
    }
    static X509 *rsa, *ecV1, *serial256;
};

X509 *BaseFields::rsa, *BaseFields::ecV1, *BaseFields::serial256;

struct FieldRow {
    X509 *cert;
    X509Common::eCertCommon type;
    eTextReturnType form;
    QString expected;
};

TEST_F(BaseFields, EachFieldInEachFormItServes)
{
    const QString keyValue = spacedHex(publicKeyBits(rsa));
    const QString rsaSubject = "Test Holder, Test Org, CZ";
    const FieldRow rows[] = {
        {rsa, X509Common::Version, TextPlain, "V3 (0x02)"},
        {rsa, X509Common::Version, TextRich, page("Version", span("V3 (0x02)"))},
        {rsa, X509Common::Version, TextShort, "V3 (0x02)"},
        {serial256, X509Common::Version, TextPlain, "V2 (0x01)"},
        {ecV1, X509Common::Version, TextPlain, "V1 (0x00)"},

        {rsa, X509Common::PublicKey, TextPlain, "Encryption: rsaEncryption (2048-bit)"},
        {rsa, X509Common::PublicKey, TextRich,
         page("Public key", labelled("Encryption type", "rsaEncryption (2048-bit)") +
                                labelled("Value", keyValue))},
        {ecV1, X509Common::PublicKey, TextMD5, "Encryption: id-ecPublicKey (256-bit)"},

        {rsa, X509Common::Signature, TextPlain, "Algorithm: sha256WithRSAEncryption"},
        {rsa, X509Common::Signature, TextRich,
         page("Digital signature", labelled("Algorithm", "sha256WithRSAEncryption") +
                                       labelled("Value", spacedHex(signatureBits(rsa))))},
        {ecV1, X509Common::Signature, TextPlain, "Algorithm: ecdsa-with-SHA256"},

        {rsa, X509Common::SerialNumber, TextPlain, "0x(01)"},
        {rsa, X509Common::SerialNumber, TextRich,
         page("Serial number",
              labelled("Hexadecimal value", "01 ") + labelled("Decimal value", "1 "))},
        {serial256, X509Common::SerialNumber, TextDateTime,
         page("Serial number",
              labelled("Hexadecimal value", "01 00 ") + labelled("Decimal value", "1 0 "))},
        {ecV1, X509Common::SerialNumber, TextPlain,
         "0x(7F:01:02:03:04:05:06:07:08:09:0A:0B:0C:0D:0E:0F:10:11:12:13)"},

        {rsa, X509Common::Fingerprints, TextPlain, "<details>"},
        {rsa, X509Common::Fingerprints, TextRichLine, ""},
        {rsa, X509Common::Fingerprints, TextMD5, colonHex(digestOf(rsa, EVP_md5()))},
        {rsa, X509Common::Fingerprints, TextSHA1, colonHex(digestOf(rsa, EVP_sha1()))},
        {rsa, X509Common::Fingerprints, TextSHA256, colonHex(digestOf(rsa, EVP_sha256()))},
        {rsa, X509Common::Fingerprints, TextRich,
         page("Fingerprints",
              labelled("MD5: ", breakableColonHex(digestOf(rsa, EVP_md5()))) +
                  labelled("SHA-1: ", breakableColonHex(digestOf(rsa, EVP_sha1()))) +
                  labelled("SHA-256: ", breakableColonHex(digestOf(rsa, EVP_sha256()))))},

        {rsa, X509Common::Validity, TextPlain, "01/01/20 - 01/01/30"},
        {rsa, X509Common::Validity, TextRich,
         page("Certificate validity", labelled("Valid from", "01/01/20 00:00:00 GMT") +
                                          labelled("Valid to", "01/01/30 00:00:00 GMT"))},
        {rsa, X509Common::Validity, TextDate, ""},

        {rsa, X509Common::Subject, TextPlain, rsaSubject},
        {rsa, X509Common::Subject, TextShort, "Test Holder"},
        {rsa, X509Common::Subject, TextRichLine, boldSpan("Subject: ") + rsaSubject},
        {rsa, X509Common::Subject, TextRich,
         page("Subject", labelled("Common name", "Test Holder") +
                             labelled("Organization", "Test Org") + labelled("Country", "CZ"))},
        {rsa, X509Common::Subject, TextSHA1, ""},
        {ecV1, X509Common::Subject, TextPlain, QString::fromUtf8("Žluťoučký kůň, Zkušební, CZ")},
        {rsa, X509Common::Issuer, TextRichLine, boldSpan("Issuer: ") + rsaSubject},
        {rsa, X509Common::Issuer, TextShort, "Test Holder"},

        {rsa, X509Common::Summary, TextPlain, ""},
        {rsa, X509Common::Summary, TextShort, ""},
    };
    for (const FieldRow &row : rows) {
        SCOPED_TRACE("type " + std::to_string(row.type) + " form " + std::to_string(row.form));
        X509Common item(row.cert, row.type);
        EXPECT_EQ(asPage(item.GetText(row.form)), row.expected);
    }
}

TEST_F(BaseFields, DatesOnEitherSideOf2000And2050KeepTheirCentury)
{
    TimeLocale czech("cs_CZ.UTF-8");
    ASSERT_TRUE(czech.ok);
    X509Common validity(ecV1, X509Common::Validity);
    EXPECT_EQ(validity.GetText(TextPlain), "1.1.1950 - 1.1.2050");
    X509Common summary(ecV1, X509Common::Summary);
    EXPECT_TRUE(summary.GetText(TextRich).contains(span("1.1.1950") + " to " + span("1.1.2050")));
}

TEST_F(BaseFields, UnknownVersionIsUnknownInEveryForm)
{
    X509Ptr x(X509_dup(rsa));
    ASSERT_EQ(X509_set_version(x.get(), 5), 1);
    X509Common item(x.get(), X509Common::Version);
    EXPECT_EQ(item.GetText(TextPlain), "unknown");
    EXPECT_EQ(item.GetText(TextRich), "unknown");
}

// The heading and the body of the summary of a certificate.
Page summaryOf(const CertSpec &spec)
{
    X509Ptr x = makeCert(spec);
    return pageParts(X509Common(x.get(), X509Common::Summary).GetText(TextRich));
}

TEST(Summary, SaysWhenItCannotVerifyAndListsThePurposesEitherWay)
{
    const QString purposes = bold("Certificate purpose: ");
    const QString anyPurpose = indent(10, "Any/All purposes") + indent(10, "Any/All purposes(CA)");

    CertSpec selfSigned;
    Page verified = summaryOf(selfSigned);
    EXPECT_TRUE(verified.heading.startsWith(purposes)) << verified.heading.toStdString();
    EXPECT_TRUE(verified.heading.contains(anyPurpose));

    CertSpec issued;
    issued.selfSigned = false;
    Page unverified = summaryOf(issued);
    EXPECT_TRUE(unverified.heading.startsWith("Unable to verify this certificate." + purposes))
        << unverified.heading.toStdString();
    EXPECT_TRUE(unverified.heading.contains(anyPurpose));

    CertSpec server;
    server.extensions = {confExt("extendedKeyUsage", "serverAuth")};
    Page serverOnly = summaryOf(server);
    EXPECT_TRUE(serverOnly.heading.contains(indent(10, "SSL Server")));
    EXPECT_FALSE(serverOnly.heading.contains(indent(10, "SSL Client")));
}

TEST(Summary, ExtensionsThatDoNotDecodeGrantNoPurpose)
{
    CertSpec broken;
    broken.extensions = {rawExt("2.5.29.15", hex("04 01 00"))}; // key usage that is no bit string
    Page summary = summaryOf(broken);
    EXPECT_EQ(summary.heading, bold("Certificate purpose: "));
}

TEST(Summary, BodyHoldsShortNamesAndTheValidityLine)
{
    const QString line =
        marginRow(3, boldSpan("Valid from " + span("01/01/20") + " to " + span("01/01/30")));
    const struct {
        const char *what;
        std::vector<Entry> issuer;
        std::vector<Entry> subject;
        QString issuedBy;
        QString issuedFor;
    } rows[] = {
        {"common names", {{"CN", "Root"}}, {{"CN", "Leaf"}}, "Root", "Leaf"},
        {"first entry in name order", {{"C", "CZ"}, {"O", "Org"}}, {{"L", "Brno"}}, "Org", "Brno"},
        {"no usable entry", {{"serialNumber", "1"}}, {{"CN", "Leaf"}}, "N/A", "Leaf"},
        {"markup is escaped",
         {{"CN", "<a href=\"cmd:x\">y</a>"}},
         {{"CN", "A&B"}},
         "&lt;a href=&quot;cmd:x&quot;&gt;y&lt;/a&gt;",
         "A&amp;B"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        CertSpec spec;
        spec.selfSigned = false;
        spec.issuer = row.issuer;
        spec.subject = row.subject;
        EXPECT_EQ(summaryOf(spec).body, labelled("Issued by: ", row.issuedBy) +
                                            labelled("Issued for: ", row.issuedFor) + line);
    }
}

TEST(Items, NamesTooltipsAndIconsByType)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "common_test";
    char *argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    X509Ptr x = makeCert({});
    const struct {
        X509Common::eCertCommon type;
        const char *name;
        bool icon;
    } rows[] = {
        {X509Common::Summary, "Summary", true},
        {X509Common::Subject, "Subject", true},
        {X509Common::Issuer, "Issuer", true},
        {X509Common::Validity, "Validity", true},
        {X509Common::Fingerprints, "Fingerprints", true},
        {X509Common::Signature, "Digital Signature", false},
        {X509Common::PublicKey, "Public Key Information", false},
        {X509Common::Version, "Version", false},
        {X509Common::SerialNumber, "Serial Number", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        X509Common item(x.get(), row.type);
        EXPECT_EQ(item.GetType(), row.type);
        EXPECT_EQ(item.GetName(), row.name);
        EXPECT_STREQ(item.ToString(), row.name);
        EXPECT_FALSE(item.GetTooltip().isEmpty());
        EXPECT_EQ(item.GetVersion(), 0u);
        EXPECT_TRUE(item.IsAvailable());
        EXPECT_EQ(item.GetIcon().isNull(), !row.icon);
    }
    QImage subject = X509Common(x.get(), X509Common::Subject).GetIcon().pixmap(32).toImage();
    QImage issuer = X509Common(x.get(), X509Common::Issuer).GetIcon().pixmap(32).toImage();
    QImage validity = X509Common(x.get(), X509Common::Validity).GetIcon().pixmap(32).toImage();
    EXPECT_FALSE(subject.isNull());
    EXPECT_EQ(subject, issuer);
    EXPECT_NE(subject, validity);
}

TEST(Items, TypesOutsideTheTableAndMissingCertificatesGiveNothing)
{
    X509Ptr x = makeCert({});
    for (int type : {9, -5, -1}) {
        SCOPED_TRACE(type);
        X509Common item(x.get(), static_cast<X509Common::eCertCommon>(type));
        EXPECT_EQ(item.GetType(), X509Common::Invalid);
        EXPECT_EQ(item.GetName(), QString());
        EXPECT_EQ(item.GetTooltip(), QString());
        EXPECT_FALSE(item.IsAvailable());
        EXPECT_EQ(item.GetText(TextPlain), QString());
    }
    X509Common none(nullptr, X509Common::Subject);
    EXPECT_FALSE(none.IsAvailable());
    EXPECT_EQ(none.GetText(TextPlain), QString());
}

TEST(Items, ACopySharesTheCertificateAndTheField)
{
    X509Ptr x = makeCert({});
    X509Common original(x.get(), X509Common::SerialNumber);
    X509Common copy(original);
    EXPECT_EQ(copy.GetType(), X509Common::SerialNumber);
    EXPECT_EQ(copy.GetName(), original.GetName());
    EXPECT_EQ(copy.GetTooltip(), original.GetTooltip());
    EXPECT_EQ(copy.GetText(TextPlain), "0x(01)");
}

} // namespace
