// The property base: template resources, and the formatting of times, names and
// general names in each form.
#include <gtest/gtest.h>

#include "cert_builder.h"
#include "certview/x509_property.h"
#include "html_expect.h"

using namespace certtest;
using Orvane::Certificate::X509Property;

namespace
{

TEST(Templates, FragmentsAreOneElementEachEndingInALineFeed)
{
    const auto &f = X509Property::fragments();
    const QString m0 = QStringLiteral("margin-top:0px; margin-bottom:0px; ");
    const QString m2 = QStringLiteral("margin-top:2px; margin-bottom:0px; ");
    const struct {
        const QString *fragment;
        QString expected;
    } rows[] = {
        {&f.sNormal, "<span style=\"font-weight:400;\">%1</span>\n"},
        {&f.sBold, "<span style=\"font-weight:600;\">%1</span>\n"},
        {&f.sIndent,
         "<span style=\"margin-left:%1px; margin-right:0px; font-weight:400;\">%2</span>\n"},
        {&f.pNormal, "<p style=\"" + m0 + "margin-left:0px; margin-right:0px;\">%1</p>\n"},
        {&f.pIndent, "<p style=\"" + m0 + "margin-left:%1px; margin-right:0px;\">%2</p>\n"},
        {&f.pBold,
         "<p style=\"" + m2 + "margin-left:0px; margin-right:0px; font-weight:600;\">%1</p>\n"},
        {&f.pBoldIndent,
         "<p style=\"" + m2 + "margin-left:%1px; margin-right:0px; font-weight:600;\">%2</p>\n"},
        {&f.pIndentAll, "<p style=\"margin-top:%1px; margin-bottom:%2px; margin-left:%3px; "
                        "margin-right:%4px;\">%5</p>\n"},
        {&f.dNormal, "<div style=\"" + m0 + "margin-left:0px; margin-right:0px;\">%1</div>\n"},
        {&f.dIndent, "<div style=\"" + m0 + "margin-left:%1px; margin-right:0px;\">%2</div>\n"},
        {&f.dBold,
         "<div style=\"" + m0 + "margin-left:0px; margin-right:0px; font-weight:600;\">%1</div>\n"},
        {&f.dBoldIndent, "<div style=\"" + m0 +
                             "margin-left:%1px; margin-right:0px; font-weight:600;\">%2</div>\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.expected.toStdString());
        EXPECT_EQ(*row.fragment, row.expected);
    }
}

TEST(Templates, InfoPagesHaveSevenLinesWithTheirPlaceholdersAndFonts)
{
    const struct {
        const char *path;
        int parameters;
        const char *font;
        const char *heading;
        const char *body;
    } rows[] = {
        {":template/info/common.html", 2, "font-family:'Sans';", ">%1</span>", ">%2</span>"},
        {":template/info/ex_common.html", 3, "font-family:'Sans Serif';", ">%1 - %2</span>",
         ">%3</span>"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        QString page = X509Property::readParamText(QString::fromLatin1(row.path), row.parameters);
        QStringList lines = page.split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 8); // seven lines, each ended by a line feed
        EXPECT_EQ(lines[7], QString());
        EXPECT_FALSE(page.contains(QLatin1Char('\r')));
        EXPECT_TRUE(lines[0].startsWith("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\""));
        EXPECT_TRUE(lines[1].contains("<meta name=\"qrichtext\" content=\"1\" />"));
        EXPECT_EQ(lines[2], "p, li { white-space: pre-wrap; }");
        EXPECT_TRUE(lines[3].contains(row.font));
        EXPECT_TRUE(lines[4].contains(row.heading));
        EXPECT_EQ(lines[5], "<hr />");
        EXPECT_TRUE(lines[6].contains(row.body));
        EXPECT_TRUE(lines[6].endsWith("</body></html>"));
    }
}

TEST(Templates, AMissingResourceHidesItsValuesInComments)
{
    QString markers = X509Property::readParamText(":/template/none", 2);
    EXPECT_EQ(markers, "<!--%0--><!--%1-->");
    EXPECT_EQ(markers.arg(QString::number(10), QStringLiteral("value")), "<!--10--><!--value-->");
    EXPECT_EQ(X509Property::readParamText(":/template/none", 0), QString());
}

struct TimeRow {
    int type; // V_ASN1_UTCTIME or V_ASN1_GENERALIZEDTIME
    const char *text;
    eTextReturnType form;
    const char *locale;
    bool ok;
    const char *expected;
};

TEST(ParseASN1Time, FormatsBothTimeTypesInTheLocaleWithUTCTimeYearsFrom1950To2049)
{
    const TimeRow rows[] = {
        {V_ASN1_UTCTIME, "091231235959Z", TextDateTime, "C.UTF-8", true, "12/31/09 23:59:59 GMT"},
        {V_ASN1_UTCTIME, "091231235959Z", TextDate, "C.UTF-8", true, "12/31/09"},
        {V_ASN1_UTCTIME, "091231235959Z", TextPlain, "C.UTF-8", false, ""},
        {V_ASN1_UTCTIME, "091231235959Z", TextRich, "C.UTF-8", false, ""},
        {V_ASN1_UTCTIME, "091231235959+0100", TextDateTime, "C.UTF-8", true,
         "12/31/09 22:59:59 GMT"},
        {V_ASN1_UTCTIME, "500101000000Z", TextDate, "cs_CZ.UTF-8", true, "1.1.1950"},
        {V_ASN1_UTCTIME, "491231235959Z", TextDateTime, "cs_CZ.UTF-8", true,
         "31.12.2049 23:59:59 GMT"},
        {V_ASN1_UTCTIME, "000101000000Z", TextDate, "cs_CZ.UTF-8", true, "1.1.2000"},
        {V_ASN1_UTCTIME, "991231235959Z", TextDate, "cs_CZ.UTF-8", true, "31.12.1999"},
        {V_ASN1_GENERALIZEDTIME, "20500101000000Z", TextDate, "cs_CZ.UTF-8", true, "1.1.2050"},
        {V_ASN1_GENERALIZEDTIME, "19491231235959Z", TextDate, "cs_CZ.UTF-8", true, "31.12.1949"},
        {V_ASN1_UTCTIME, "091231Z", TextDate, "C.UTF-8", false, ""},
        {V_ASN1_UTCTIME, "0912312359", TextDate, "C.UTF-8", false, ""},
        {V_ASN1_GENERALIZEDTIME, "garbage", TextDate, "C.UTF-8", false, ""},
        {V_ASN1_GENERALIZEDTIME, "", TextDate, "C.UTF-8", false, ""},
    };
    for (const TimeRow &row : rows) {
        SCOPED_TRACE(std::string(row.text) + " form " + std::to_string(row.form) + " " +
                     row.locale);
        TimeLocale locale(row.locale);
        ASSERT_TRUE(locale.ok);
        ASN1_STRING *time = ASN1_STRING_type_new(row.type);
        ASN1_STRING_set(time, row.text, -1);
        QString out = "untouched";
        EXPECT_EQ(X509Property::parseASN1Time(time, &out, row.form), row.ok);
        if (row.ok) {
            EXPECT_EQ(out.toStdString(), row.expected);
        }
        ASN1_STRING_free(time);
    }
    QString out;
    EXPECT_FALSE(X509Property::parseASN1Time(nullptr, &out, TextDate));
}

struct NameFree {
    void operator()(X509_NAME *n) const { X509_NAME_free(n); }
};
using NamePtr = std::unique_ptr<X509_NAME, NameFree>;

struct NameRow {
    const char *what;
    std::vector<Entry> entries;
    eTextReturnType form;
    bool ok;
    QString expected;
};

TEST(ParseX509Name, ShowsEntriesInTheFixedTypeOrderInEachForm)
{
    const std::vector<Entry> cob = {{"C", "CC"}, {"O", "B"}, {"CN", "A"}};
    const NameRow rows[] = {
        {"plain: values in type order", cob, TextPlain, true, "A, B, CC"},
        {"short: the common name first", cob, TextShort, true, "A"},
        {"rich: a label per type", cob, TextRich, true,
         bold("Common name") + indent(10, "A") + bold("Organization") + indent(10, "B") +
             bold("Country") + indent(10, "CC")},
        {"rich: one label for two units",
         {{"OU", "One"}, {"OU", "Two"}},
         TextRich,
         true,
         bold("Organization unit") + indent(10, "One") + indent(10, "Two")},
        {"plain: an unnamed type is left out",
         {{"serialNumber", "123"}, {"L", "Brno"}, {"DC", "test"}},
         TextPlain,
         true,
         "Brno, test"},
        {"plain: only an unnamed type", {{"serialNumber", "123"}}, TextPlain, true, ""},
        {"short: only an unnamed type", {{"serialNumber", "123"}}, TextShort, false, "untouched"},
        {"short: skips an empty value",
         {{"CN", "", V_ASN1_UTF8STRING}, {"O", "Org"}},
         TextShort,
         true,
         "Org"},
        {"other forms: empty", cob, TextMD5, true, ""},
        {"BMP and UTF-8 values",
         {{"CN", "Žluťoučký kůň", V_ASN1_BMPSTRING}, {"O", "Příliš"}},
         TextPlain,
         true,
         QString::fromUtf8("Žluťoučký kůň, Příliš")},
        {"rich escapes markup",
         {{"CN", "<a href=\"x:y\">&</a>"}},
         TextRich,
         true,
         bold("Common name") + indent(10, "&lt;a href=&quot;x:y&quot;&gt;&amp;&lt;/a&gt;")},
        {"plain keeps it as it is", {{"CN", "<b>%1</b>"}}, TextPlain, true, "<b>%1</b>"},
        {"empty name", {}, TextPlain, false, "untouched"},
    };
    for (const NameRow &row : rows) {
        SCOPED_TRACE(row.what);
        NamePtr name(makeName(row.entries));
        QString out = "untouched";
        EXPECT_EQ(X509Property::parseX509Name(name.get(), &out, row.form), row.ok);
        EXPECT_EQ(out, row.expected);
    }
}

TEST(ParseX509NameEntry, LabelsKnownTypesAndRefusesOthers)
{
    NamePtr name(makeName({{"GN", "Jana"}, {"serialNumber", "7"}, {"pseudonym", "J"}}));
    const struct {
        int index;
        bool ok;
        const char *label;
        const char *value;
    } rows[] = {{0, true, "Given name", "Jana"}, {1, false, "", ""}, {2, true, "Pseudonym", "J"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.index);
        QString label = "x", value = "x";
        EXPECT_EQ(X509Property::parseX509NameEntry(X509_NAME_get_entry(name.get(), row.index),
                                                   &label, &value),
                  row.ok);
        EXPECT_EQ(label, row.label);
        EXPECT_EQ(value, row.value);
    }
}

struct GnFree {
    void operator()(GENERAL_NAME *g) const { GENERAL_NAME_free(g); }
};
using GnPtr = std::unique_ptr<GENERAL_NAME, GnFree>;

GnPtr ia5Name(int type, const char *text)
{
    ASN1_IA5STRING *s = ASN1_IA5STRING_new();
    ASN1_STRING_set(s, text, -1);
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_value(g.get(), type, s);
    return g;
}

GnPtr ipName(const Bytes &bytes)
{
    ASN1_OCTET_STRING *s = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(s, bytes.data(), static_cast<int>(bytes.size()));
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_value(g.get(), GEN_IPADD, s);
    return g;
}

GnPtr ridName(const char *oid)
{
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_value(g.get(), GEN_RID, OBJ_txt2obj(oid, 1));
    return g;
}

GnPtr dirName(const std::vector<Entry> &entries)
{
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_value(g.get(), GEN_DIRNAME, makeName(entries));
    return g;
}

GnPtr otherName(const char *oid, const char *utf8)
{
    ASN1_TYPE *value = ASN1_TYPE_new();
    ASN1_UTF8STRING *s = ASN1_UTF8STRING_new();
    ASN1_STRING_set(s, utf8, -1);
    ASN1_TYPE_set(value, V_ASN1_UTF8STRING, s);
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_othername(g.get(), OBJ_txt2obj(oid, 1), value);
    return g;
}

GnPtr otherNameBoolean()
{
    ASN1_TYPE *value = ASN1_TYPE_new();
    ASN1_TYPE_set(value, V_ASN1_BOOLEAN, reinterpret_cast<void *>(1));
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_othername(g.get(), OBJ_txt2obj("1.3.6.1.4.1.311.20.2.3", 1), value);
    return g;
}

GnPtr ediName(const char *assigner, const char *party)
{
    EDIPARTYNAME *edi = EDIPARTYNAME_new();
    if (assigner) {
        edi->nameAssigner = ASN1_UTF8STRING_new();
        ASN1_STRING_set(edi->nameAssigner, assigner, -1);
    }
    ASN1_STRING_free(edi->partyName);
    edi->partyName = ASN1_UTF8STRING_new();
    ASN1_STRING_set(edi->partyName, party, -1);
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_value(g.get(), GEN_EDIPARTY, edi);
    return g;
}

GnPtr x400Name()
{
    ASN1_STRING *s = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set(s, "\x30\x00", 2);
    GnPtr g(GENERAL_NAME_new());
    GENERAL_NAME_set0_value(g.get(), GEN_X400, s);
    return g;
}

struct GeneralNameRow {
    const char *what;
    GnPtr name;
    eTextReturnType form;
    bool ok;
    QString label;
    QString value;
};

TEST(ParseGeneralName, GivesKindAndValueOfEachNameType)
{
    const Bytes v6 = hex("20010DB8000000000000000000000001");
    const QString edi = indent(10, "Name assigner") + indent(20, "A &amp; B") +
                        indent(10, "Party name") + indent(20, "Party");
    GeneralNameRow rows[] = {
        {"email plain", ia5Name(GEN_EMAIL, "a@b.test"), TextPlain, true, "Email", "a@b.test"},
        {"email rich", ia5Name(GEN_EMAIL, "<a@b>"), TextRich, true, boldSpan("Email"),
         span("&lt;a@b&gt;")},
        {"dns in another form stays plain", ia5Name(GEN_DNS, "x.test"), TextShort, true, "DNS",
         "x.test"},
        {"uri rich", ia5Name(GEN_URI, "http://x/?a&b"), TextRich, true, boldSpan("URI"),
         span("http://x/?a&amp;b")},
        {"registered id unknown to OpenSSL", ridName("1.2.3.4"), TextPlain, true, "Registered ID",
         "1.2.3.4"},
        {"registered id by its long name", ridName("2.5.29.19"), TextPlain, true, "Registered ID",
         "X509v3 Basic Constraints"},
        // an address is appended to the value passed in
        {"IPv4", ipName({192, 168, 0, 1}), TextPlain, true, "IP address (IPv4)", "x192.168.0.1"},
        {"IPv6, no shortening", ipName(v6), TextRich, true, "IP address (IPv6)",
         "x2001:DB8:0:0:0:0:0:1"},
        {"five address bytes", ipName({1, 2, 3, 4, 5}), TextPlain, false, "x", "x"},
        {"directory name plain", dirName({{"O", "B"}, {"CN", "A"}}), TextPlain, true,
         "Directory name", "A, B"},
        {"directory name rich", dirName({{"CN", "<A>"}}), TextRich, true, bold("Directory name"),
         bold("Common name") + indent(10, "&lt;A&gt;")},
        {"directory name short", dirName({{"CN", "A"}}), TextShort, false, "x", "x"},
        {"principal name", otherName("1.3.6.1.4.1.311.20.2.3", "jana@corp.test"), TextPlain, true,
         "Principal name", "jana@corp.test"},
        {"principal name rich is escaped", otherName("1.3.6.1.4.1.311.20.2.3", "<j>"), TextRich,
         true, "Principal name", "&lt;j&gt;"},
        {"principal name that is no string", otherNameBoolean(), TextPlain, true, "Principal name",
         ""},
        {"other other-name keeps the value", otherName("1.2.3.4", "v"), TextPlain, true,
         "Other name", "x"},
        {"EDI party rich", ediName("A & B", "Party"), TextRich, true, bold("EDI party name"), edi},
        {"EDI party without assigner", ediName(nullptr, "Party"), TextRich, true,
         bold("EDI party name"),
         indent(10, "Name assigner") + indent(20, "") + indent(10, "Party name") +
             indent(20, "Party")},
        {"EDI party plain", ediName("A", "P"), TextPlain, false, "", ""},
        {"x400 address", x400Name(), TextRich, false, "x", "x"},
    };
    for (GeneralNameRow &row : rows) {
        SCOPED_TRACE(row.what);
        QString label = "x", value = "x";
        EXPECT_EQ(X509Property::parseGeneralName(row.name.get(), &label, &value, row.form), row.ok);
        EXPECT_EQ(label, row.label);
        EXPECT_EQ(value, row.value);
    }
    QString label, value;
    EXPECT_FALSE(X509Property::parseGeneralName(nullptr, &label, &value, TextPlain));
}

} // namespace
