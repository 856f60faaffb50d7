// The DER helpers over well-formed and malformed runs, and every extension builder
// over malformed values. Run under the sanitizer build, the malformed rows show that
// nothing is read outside the given bytes and nothing leaks.
#include <gtest/gtest.h>

#include "cert_builder.h"
#include "certview/der_helpers.h"
#include "certview/x509_v3ext.h"
#include "html_expect.h"

using namespace certtest;
using namespace Orvane::Certificate;

namespace
{

enum Helper { AnyString, Constructive, Oid };

struct HelperRow {
    const char *what;
    Helper helper;
    std::string bytes;
    int index;
    bool found;
    int type = 0;             // the string's type (AnyString, Constructive)
    std::string content = ""; // content bytes in hex, or the OID's dotted text
};

std::string hexText(const unsigned char *p, int n)
{
    std::string out;
    char digits[4];
    for (int i = 0; i < n; i++) {
        snprintf(digits, sizeof(digits), "%02X", p[i]);
        out += digits;
    }
    return out;
}

TEST(DerHelpers, PickOneElementOfARunWithinItsBytes)
{
    const HelperRow rows[] = {
        {"first OID", Oid, "06 03 2A 03 04 06 01 2A", -1, true, 0, "1.2.3.4"},
        {"second OID", Oid, "06 03 2A 03 04 06 01 2A", 0, true, 0, "1.2"},
        {"beyond the run", Oid, "06 03 2A 03 04 06 01 2A", 1, false},
        {"second is no OID", Oid, "06 01 2A 02 01 05", 0, false},
        {"first is no OID", Oid, "02 01 05 06 01 2A", -1, false},
        {"empty OID content", Oid, "06 00", -1, false},
        {"index below -1", Oid, "06 01 2A", -2, false},
        {"empty run", Oid, "", -1, false},
        {"UTF8String after a PrintableString", AnyString, "13 02 41 42 0C 02 C3 A1", 0, true, 12,
         "C3A1"},
        {"BMPString", AnyString, "1E 02 00 41", -1, true, 30, "0041"},
        {"content beyond the run", AnyString, "13 05 41", -1, false},
        {"no length byte", AnyString, "13", -1, false},
        {"OCTET STRING is no character string", AnyString, "04 01 41", -1, false},
        {"SET with a long-form length", Constructive, "31 81 03 01 01 FF", -1, true, 0x31,
         "0101FF"},
        {"empty SEQUENCE", Constructive, "30 00", -1, true, 0x30, ""},
        {"length octets beyond the run", Constructive, "30 82 01", -1, false},
        {"five length octets", Constructive, "30 85 00 00 00 00 01 00", -1, false},
        {"indefinite length", Constructive, "30 80 00 00", -1, false},
        {"a huge length", Constructive, "30 84 FF FF FF F0 00", -1, false},
        {"after the last element", Constructive, "30 00 30 00", 1, false},
    };
    for (const HelperRow &row : rows) {
        SCOPED_TRACE(row.what);
        Bytes bytes = hex(row.bytes);
        const unsigned char *data = bytes.empty() ? nullptr : bytes.data();
        const int length = static_cast<int>(bytes.size());
        if (row.helper == Oid) {
            ASN1_OBJECT *object = parseASN1_OID(data, length, row.index);
            ASSERT_EQ(object != nullptr, row.found);
            if (object) {
                char text[64];
                OBJ_obj2txt(text, sizeof(text), object, 1);
                EXPECT_EQ(text, row.content);
            }
            ASN1_OBJECT_free(object);
            continue;
        }
        ASN1_STRING *string = row.helper == AnyString
                                  ? parseASN1_AnyString(data, length, row.index)
                                  : parseASN1_Constructive(data, length, row.index);
        ASSERT_EQ(string != nullptr, row.found);
        if (string) {
            EXPECT_EQ(ASN1_STRING_type(string), row.type);
            EXPECT_EQ(hexText(ASN1_STRING_get0_data(string), ASN1_STRING_length(string)),
                      row.content);
        }
        ASN1_STRING_free(string);
    }
    EXPECT_EQ(parseASN1_OID(nullptr, 5, -1), nullptr);
}

std::unique_ptr<X509v3Ext> itemWith(const std::string &oid, const std::string &value)
{
    X509_EXTENSION *ext = makeExt(nullptr, rawExt(oid, hex(value)), nullptr);
    auto item = std::make_unique<X509v3Ext>(ext);
    X509_EXTENSION_free(ext);
    return item;
}

const char *const knownOids[] = {
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
    "2.5.29.46",
    "2.16.840.1.113730.1.1",
    "2.16.840.1.113730.1.13",
};

TEST(MalformedValues, ExtensionsOpenSSLCannotDecodeHaveNoText)
{
    const struct {
        const char *what;
        const char *value;
    } values[] = {
        {"empty", ""},
        {"truncated", "30 05 02 01"},
        {"overlong length", "30 84 7F FF FF FF 00"},
        {"wrong type", "0C 01 41"},
        {"truncated inside", "30 03 02 05 01"},
    };
    for (const char *oid : knownOids) {
        for (const auto &value : values) {
            SCOPED_TRACE(std::string(oid) + ": " + value.what);
            auto item = itemWith(oid, value.value);
            ASSERT_TRUE(item->IsSupported());
            for (int form = 0; form <= TextDateTime; form++)
                EXPECT_EQ(item->GetText(static_cast<eTextReturnType>(form)), QString()) << form;
        }
    }
}

TEST(MalformedValues, DirectoryAttributesShowOnlyWhatLiesWithinTheValue)
{
    const QString title = "Subject directory attributes - Noncritical";
    const struct {
        const char *what;
        const char *value;
        QString rich;
    } rows[] = {
        {"outer length beyond the value", "30 20 30 03 06 01 2A", ""},
        {"indefinite outer length", "30 80 30 00 00 00", ""},
        {"empty value", "", ""},
        {"attribute length beyond the sequence", "30 05 30 10 06 01 2A", page(title, "")},
        {"attribute with a huge length", "30 06 30 84 FF FF FF FF", page(title, "")},
        {"attribute header cut", "30 01 30", page(title, "")},
        {"type length beyond the attribute", "30 06 30 04 06 05 2A 03", page(title, "")},
        {"empty type", "30 04 30 02 06 00", page(title, "")},
        {"value length beyond the set", "30 0B 30 09 06 02 2A 03 31 03 13 05 41",
         page(title, bold("Attribute 1") + boldIndent(10, "1.2.3"))},
        {"set length beyond the attribute", "30 09 30 07 06 02 2A 03 31 09 13",
         page(title, bold("Attribute 1") + boldIndent(10, "1.2.3"))},
        {"BMPString of odd length is skipped", "30 0F 30 0D 06 02 2A 03 31 07 1E 01 41 13 02 6F 6B",
         page(title, bold("Attribute 1") + boldIndent(10, "1.2.3") + indent(20, "ok"))},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        auto item = itemWith("2.5.29.9", row.value);
        EXPECT_EQ(asPage(item->GetText(TextRich)).toStdString(), row.rich.toStdString());
        EXPECT_EQ(item->GetText(TextPlain), "<details>");
    }
}

TEST(MalformedValues, UnsupportedExtensionsShowTheirBytesWhateverTheyHold)
{
    const char *values[] = {"", "30 84 7F FF FF FF 00", "00 3C 73 63 72 69 70 74 3E"};
    for (const char *value : values) {
        SCOPED_TRACE(value);
        auto item = itemWith("1.2.3.4.5", value);
        Page rich = pageParts(item->GetText(TextRich));
        Bytes bytes = hex(value);
        QString spaced;
        for (unsigned char b : bytes)
            spaced += QString::asprintf("%02X ", b);
        EXPECT_TRUE(rich.body.endsWith(bold("Hexadecimal data") + indent(10, spaced)));
        EXPECT_FALSE(rich.body.contains("<script>"));
        EXPECT_EQ(item->GetText(TextOID), "1.2.3.4.5");
    }
}

} // namespace
