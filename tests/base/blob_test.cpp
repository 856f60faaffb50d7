#include "base/blob.h"
#include "base/blob_tokenizer.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

typedef std::vector<unsigned char> Bytes;

Bytes bytesOf(CBlob const &b)
{
    return Bytes(b.GetData(), b.GetData() + b.GetSize());
}

Bytes bytesOf(std::string const &s)
{
    return Bytes(s.begin(), s.end());
}

std::string textOf(CBlob const &b)
{
    return std::string(reinterpret_cast<char const *>(b.GetData()), b.GetSize());
}

CBlob blobOf(Bytes const &v)
{
    return CBlob(v.empty() ? nullptr : v.data(), (unsigned int)v.size(), true);
}

// A heap buffer of exactly the given bytes, so the sanitizer build catches
// any read or write past its end.
struct ExactBuffer {
    unsigned char *p;
    unsigned int n;
    explicit ExactBuffer(Bytes const &v)
        : p((unsigned char *)std::malloc(v.size() ? v.size() : 1)), n((unsigned int)v.size())
    {
        if (!v.empty())
            std::memcpy(p, v.data(), v.size());
    }
    ~ExactBuffer() { std::free(p); }
};

} // namespace

TEST(Blob, SetCopiesAndKeepsAHiddenNulAfterText)
{
    CBlob text;
    unsigned char abc[] = {0x41, 0x42, 0x43};
    ASSERT_TRUE(text.Set(abc, 3, true));
    EXPECT_EQ(text.GetSize(), 3u);
    EXPECT_NE(text.GetData(), abc);
    EXPECT_EQ(text.GetData()[3], 0);
    EXPECT_STREQ((char const *)text, "ABC");

    unsigned char notText[] = {0xFF, 0x00};
    CBlob raw(notText, 2);
    EXPECT_EQ(raw.GetSize(), 2u);
    EXPECT_EQ((char const *)raw, nullptr);

    unsigned char badCont[] = {0xC3, 0x28};
    EXPECT_EQ((char const *)CBlob(badCont, 2), nullptr);
    EXPECT_EQ((char const *)CBlob(), nullptr);

    CBlob zeros(nullptr, 4, true);
    EXPECT_EQ(bytesOf(zeros), Bytes(4, 0));
}

TEST(Blob, SetArgumentErrors)
{
    unsigned char x = 1;
    CBlob b("keep");
    EXPECT_FALSE(b.Set(&x, 0, true));
    EXPECT_FALSE(b.Set(nullptr, 3, false)); // borrowing NULL
    EXPECT_FALSE(b.Set(&x, 0, false));
    EXPECT_EQ(textOf(b), "keep");
    b = (char const *)nullptr; // assignment of NULL changes nothing
    EXPECT_EQ(textOf(b), "keep");
    EXPECT_TRUE(b.Set((char const *)nullptr)); // Set(NULL) empties
    EXPECT_EQ(b.GetSize(), 0u);
    EXPECT_EQ(b.GetData(), nullptr);
}

TEST(Blob, WideStringsKeepAZeroUnit)
{
    unsigned short ab16[] = {'A', 'B', 0};
    wchar_t ab32[] = L"AB";
    unsigned short empty16[] = {0};

    CBlob b16(ab16), b32(ab32), e16(empty16);
    EXPECT_EQ(b16.GetSize(), 4u);
    EXPECT_EQ(reinterpret_cast<unsigned short const *>(b16.GetData())[2], 0);
    EXPECT_EQ(b32.GetSize(), 8u);
    EXPECT_EQ(reinterpret_cast<wchar_t const *>(b32.GetData())[2], 0);
    EXPECT_EQ(e16.GetSize(), 0u);
    ASSERT_NE(e16.GetData(), nullptr);
    EXPECT_EQ(reinterpret_cast<unsigned short const *>(e16.GetData())[0], 0);

    ASSERT_TRUE(b16.Put(ab16, -1));
    EXPECT_EQ(b16.GetSize(), 8u);
    EXPECT_EQ(reinterpret_cast<unsigned short const *>(b16.GetData())[4], 0);
    ASSERT_TRUE(b32.Put(L"C", 0));
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t const *>(b32.GetData())), L"CAB");
}

TEST(Blob, BorrowedBufferIsNeverFreedNorWrittenPastItsSize)
{
    ExactBuffer buf(bytesOf(std::string("abc")));
    {
        CBlob b(buf.p, buf.n, false);
        EXPECT_TRUE(b.IsBorrowed());
        EXPECT_EQ(b.GetData(), buf.p);
        // A C string needs a NUL the borrowed buffer has no room for: the blob
        // switches to an owned copy rather than writing past the buffer.
        EXPECT_STREQ((char const *)b, "abc");
        EXPECT_FALSE(b.IsBorrowed());
        EXPECT_NE(b.GetData(), buf.p);
    }
    {
        CBlob b(buf.p, buf.n, false);
        b.Upper(); // in place, within the size
        EXPECT_EQ(std::string((char *)buf.p, 3), "ABC");
        b.Clear();
        EXPECT_FALSE(b.IsBorrowed());
        b.Set(buf.p, buf.n, false);
        EXPECT_TRUE(b.Set("other")); // releases without freeing the buffer
        b.Set(buf.p, buf.n, false);
        EXPECT_TRUE(b.Put((unsigned char)'!', -1)); // grows into an owned buffer
        EXPECT_EQ(textOf(b), "ABC!");
        EXPECT_FALSE(b.IsBorrowed());
    }
    {
        CBlob b(buf.p, buf.n, false);
        ASSERT_TRUE(b.copy());
        EXPECT_FALSE(b.IsBorrowed());
        buf.p[0] = 'z';
        EXPECT_EQ(textOf(b), "ABC");
        CBlob copyOfBorrowed;
        CBlob borrowed(buf.p, buf.n, false);
        copyOfBorrowed = borrowed;
        EXPECT_FALSE(copyOfBorrowed.IsBorrowed());
        EXPECT_NE(copyOfBorrowed.GetData(), buf.p);
    } // destructors must not free buf.p
    ExactBuffer withNul(Bytes{'h', 'i', 0});
    CBlob b(withNul.p, withNul.n, false);
    EXPECT_EQ((char const *)b, (char const *)withNul.p) << "its own NUL serves";
    EXPECT_TRUE(b.IsBorrowed());

    // a const blob cannot make a copy: a borrowed buffer without NUL gives NULL
    CBlob const borrowedConst(buf.p, buf.n, false);
    EXPECT_EQ((char const *)borrowedConst, nullptr);
    CBlob const borrowedWithNul(withNul.p, withNul.n, false);
    EXPECT_EQ((char const *)borrowedWithNul, (char const *)withNul.p);
    CBlob const owned("owned");
    EXPECT_STREQ((char const *)owned, "owned");
    unsigned char bad[] = {0xC3, 0x28};
    CBlob const notText(bad, 2);
    EXPECT_EQ((char const *)notText, nullptr);
}

TEST(Blob, SelfAliasingCalls)
{
    CBlob b("abc");
    b += b;
    EXPECT_EQ(textOf(b), "abcabc");
    EXPECT_TRUE(b.Put(b, 3));
    EXPECT_EQ(textOf(b), "abcabcabcabc");
    EXPECT_TRUE(b.Set(b.GetData() + 9, 3, true));
    EXPECT_EQ(textOf(b), "abc");
    b = b;
    EXPECT_EQ(textOf(b), "abc");
    EXPECT_TRUE(b.Set(b));
    EXPECT_EQ(textOf(b), "abc");
    // asked to borrow its own buffer, the blob keeps a copy instead
    EXPECT_TRUE(b.Set(b.GetData(), 2, false));
    EXPECT_EQ(textOf(b), "ab");
    EXPECT_FALSE(b.IsBorrowed());
    EXPECT_TRUE(b.Put(b.GetData(), 1, -1));
    EXPECT_EQ(textOf(b), "aba");
    EXPECT_TRUE(b.Put((char const *)b.GetData(), 0));
    EXPECT_EQ(textOf(b), "abaaba");
}

TEST(Blob, SizeOperations)
{
    CBlob b("abcd");
    ASSERT_NE(b.CutSize(2), nullptr);
    EXPECT_EQ(textOf(b), "ab");
    unsigned char *same = b.GetData();
    EXPECT_EQ(b.CutSize(2), same);
    ASSERT_NE(b.CutSize(4), nullptr);
    EXPECT_EQ(bytesOf(b), (Bytes{'a', 'b', 0, 0}));

    unsigned char *inserted = b.PutSize(2, 1);
    ASSERT_NE(inserted, nullptr);
    EXPECT_EQ(inserted, b.GetData() + 1);
    EXPECT_EQ(bytesOf(b), (Bytes{'a', 0, 0, 'b', 0, 0}));
    EXPECT_EQ(b.PutSize(0, -1), nullptr);
    EXPECT_EQ(b.PutSize(1, 7), nullptr) << "beyond the size";
    EXPECT_EQ(b.GetSize(), 6u);
    EXPECT_NE(b.PutSize(1, 6), nullptr) << "at the size is an append";

    EXPECT_EQ(b.SetSize(0), nullptr);
    ASSERT_NE(b.SetSize(3), nullptr);
    EXPECT_EQ(bytesOf(b), Bytes(3, 0));
}

TEST(Blob, PutAtPositions)
{
    struct Case {
        int pos;
        bool ok;
        char const *result;
    } cases[] = {{0, true, "XYabc"},  {1, true, "aXYbc"}, {3, true, "abcXY"},
                 {-1, true, "abcXY"}, {4, false, "abc"},  {-2, false, "abc"}};
    for (auto const &c : cases) {
        SCOPED_TRACE(c.pos);
        CBlob b("abc");
        EXPECT_EQ(b.Put("XY", c.pos), c.ok);
        EXPECT_EQ(textOf(b), c.result);
        EXPECT_EQ(b.GetData()[b.GetSize()], 0);
    }
    CBlob b("abc");
    EXPECT_FALSE(b.Put((char const *)nullptr, -1));
    EXPECT_TRUE(b.Put("", -1));
    unsigned char one = 1;
    EXPECT_FALSE(b.Put(&one, 0, -1));
    EXPECT_TRUE(b.Put(nullptr, 2, -1)); // zeros
    EXPECT_EQ(bytesOf(b), (Bytes{'a', 'b', 'c', 0, 0}));
    b += "d";
    b += (char const *)nullptr;
    EXPECT_EQ(b.GetSize(), 6u);
}

TEST(Blob, FormattedText)
{
    CBlob b;
    ASSERT_TRUE(b.SetFormat("%s-%d", "slot", 7));
    EXPECT_EQ(textOf(b), "slot-7");
    ASSERT_TRUE(b.PutFormat(0, "[%02X]", 0xAB));
    EXPECT_EQ(textOf(b), "[AB]slot-7");
    std::string longText(300, 'q'); // beyond the first 128-byte buffer
    ASSERT_TRUE(b.SetFormat("%s|%s", longText.c_str(), "end"));
    EXPECT_EQ(textOf(b), longText + "|end");
    EXPECT_EQ(b.GetData()[b.GetSize()], 0);
    EXPECT_FALSE(b.SetFormat(nullptr));
    EXPECT_FALSE(b.PutFormat(-1, nullptr));
}

TEST(Blob, CaseReplaceAndSwap)
{
    CBlob b("Reader 00 ab");
    b.Upper();
    EXPECT_EQ(textOf(b), "READER 00 AB");
    b.Lower();
    EXPECT_EQ(textOf(b), "reader 00 ab");
    EXPECT_TRUE(b.Replace(' ', '_'));
    EXPECT_EQ(textOf(b), "reader_00_ab");
    unsigned char bytes[] = {1, 2, 3};
    CBlob s(bytes, 3);
    s.Swap();
    EXPECT_EQ(bytesOf(s), (Bytes{3, 2, 1}));
}

TEST(Blob, ReplaceText)
{
    struct Case {
        std::string content;
        char const *from;
        char const *to;
        bool ok;
        std::string result;
    } cases[] = {
        {"a-b-c", "-", "+", true, "a+b+c"},
        {"aaaa", "aa", "b", true, "bb"}, // non-overlapping steps
        {"aaa", "aa", "xyz", true, "xyza"},
        {"abc", "x", "y", true, "abc"}, // nothing to replace is no failure
        {"abc", "b", "", true, "ac"},
        {std::string("ab\0", 3), "b", "BB", true, std::string("aBB\0", 4)}, // trailing NUL stays
        {std::string("ab\0b", 4), "b", "c", true, std::string("ac\0b", 4)}, // only the C string
        {"abc", nullptr, "y", false, "abc"},
        {"abc", "b", nullptr, false, "abc"},
        {"abc", "", "y", false, "abc"},
        {"", "a", "b", false, ""},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.content + "/" + (c.from ? c.from : "NULL"));
        CBlob b = blobOf(bytesOf(c.content));
        EXPECT_EQ(b.Replace(c.from, c.to), c.ok);
        EXPECT_EQ(textOf(b), c.result);
    }
}

TEST(Blob, AlignTrimAndTrimChar)
{
    struct AlignCase {
        CBlob::AlignType type;
        unsigned int n;
        bool ok;
        char const *result;
    } aligns[] = {
        {CBlob::AT_RIGHT, 6, true, "***abc"},  {CBlob::AT_LEFT, 6, true, "abc***"},
        {CBlob::AT_CENTER, 6, true, "*abc**"}, {(CBlob::AlignType)5, 7, true, "**abc**"},
        {CBlob::AT_LEFT, 3, true, "abc"},      {CBlob::AT_LEFT, 2, false, "abc"},
    };
    for (auto const &c : aligns) {
        SCOPED_TRACE(c.n);
        CBlob b("abc");
        EXPECT_EQ(b.Align(c.type, '*', c.n), c.ok);
        EXPECT_EQ(textOf(b), c.result);
    }

    struct TrimCase {
        std::string content;
        bool fromStart;
        std::string result;
    } trims[] = {
        {"  x", true, "x"}, {"  x", false, "  x"}, {"x.-\n", false, "x"}, {"--", true, "-"},
        {"--", false, "-"}, {"a b", true, "a b"},  {"#", true, "#"},
    };
    for (auto const &c : trims) {
        SCOPED_TRACE(c.content);
        CBlob b = blobOf(bytesOf(c.content));
        b.Trim(c.fromStart);
        EXPECT_EQ(textOf(b), c.result);
    }

    struct TrimCharCase {
        Bytes content;
        unsigned char c;
        bool fromStart;
        Bytes result;
    } charTrims[] = {
        {{0, 0, 0}, 0, true, {0}},
        {{0, 0, 0}, 0, false, {0}},
        {{0, 1, 0}, 0, true, {1, 0}},
        {{0, 1, 0, 0}, 0, false, {0, 1}},
        {{' ', 'a'}, ' ', false, {' ', 'a'}},
    };
    for (auto const &c : charTrims) {
        CBlob b = blobOf(c.content);
        b.TrimChar(c.c, c.fromStart);
        EXPECT_EQ(bytesOf(b), c.result);
    }
}

TEST(Blob, CompareOrdersEmptyShorterThenBytes)
{
    CBlob ab("ab"), empty;
    struct Case {
        CBlob const *b;
        char const *s;
        int expected;
    } cases[] = {{&ab, "ab", 0},       {&ab, "abc", -1}, {&ab, "a", 1},
                 {&ab, "ac", -1},      {&ab, "aa", 1},   {&ab, nullptr, 1},
                 {&empty, nullptr, 0}, {&empty, "", 0},  {&empty, "a", -1}};
    for (auto const &c : cases)
        EXPECT_EQ(c.b->Compare(c.s), c.expected) << (c.s ? c.s : "NULL");
    EXPECT_EQ(ab.Compare(CBlob("ab")), 0);
    EXPECT_EQ(ab.Compare(empty), 1);
    EXPECT_EQ(ab.Compare("ab", 2), 0);
}

TEST(Blob, MultiStringWalk)
{
    struct Case {
        char const *what;
        std::string content;
        std::vector<std::string> strings;
    } cases[] = {
        {"reader list", std::string("A\0B\0\0", 5), {"A", "B"}},
        {"no final NULs", std::string("A\0B", 3), {"A", "B"}},
        {"one final NUL",
         std::string("Reader one\0Reader two\0", 22),
         {"Reader one", "Reader two"}},
        {"single", std::string("only", 4), {"only"}},
        {"starts with NUL", std::string("\0A\0\0", 4), {}},
        {"empty", std::string(), {}},
        {"stops at the empty string", std::string("A\0\0B\0\0", 6), {"A"}},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.what);
        for (bool borrowed : {false, true}) {
            Bytes bytes = bytesOf(c.content);
            ExactBuffer exact(bytes);
            CBlob b;
            if (borrowed)
                b.Set(exact.p, exact.n, false);
            else
                b = blobOf(bytes);
            std::vector<std::string> got;
            for (char const *s = b.MBStringFirst(); s != nullptr; s = b.MBStringNext())
                got.push_back(s);
            EXPECT_EQ(got, c.strings) << (borrowed ? "borrowed" : "owned");
            EXPECT_EQ(b.MBStringNext(), nullptr) << "stays at the end";
        }
    }
    CBlob fresh("x");
    EXPECT_EQ(fresh.MBStringNext(), nullptr) << "no walk started";
}

TEST(Blob, ToFormatText)
{
    struct Case {
        Bytes content;
        CBlob::DataFormat fmt;
        char const *sep;
        int perLine;
        std::string result;
    } cases[] = {
        {{0x01, 0xAB}, CBlob::DF_HEX, nullptr, -1, "01AB"},
        {{0x01, 0xAB}, CBlob::DF_HEX, " ", -1, "01 AB"},
        {{0x01, 0xAB}, CBlob::DF_HEX, nullptr, 2, "01\nAB"},
        {{0x01, 0xAB, 0xFF}, CBlob::DF_HEX, " ", 5, "01 AB\nFF"},
        {{0x01, 0xAB}, CBlob::DF_HEX, nullptr, 0, "01AB"},
        {{0x00}, CBlob::DF_HEX, " ", 2, "00"},
        {{0x01, 0xAB}, CBlob::DF_CPP, ", ", -1, "0x01, 0xAB"},
        {{0x0F, 0xA0, 0x7E}, CBlob::DF_CPP, ",", 4, "0x0F\n0xA0\n0x7E"},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.result);
        CBlob b = blobOf(c.content);
        ASSERT_TRUE(b.ToFormat(c.fmt, c.sep, c.perLine));
        EXPECT_EQ(textOf(b), c.result);
        EXPECT_STREQ((char const *)b, c.result.c_str());
    }
    CBlob empty;
    EXPECT_FALSE(empty.ToFormat(CBlob::DF_HEX));
}

TEST(Blob, FromFormatText)
{
    struct Case {
        std::string content;
        CBlob::DataFormat fmt;
        bool ok;
        Bytes result; // the content kept on failure
    } cases[] = {
        {"01ab FF\r\n", CBlob::DF_HEX, true, {0x01, 0xAB, 0xFF}},
        {"0G", CBlob::DF_HEX, false, bytesOf(std::string("0G"))},
        {"012", CBlob::DF_HEX, false, bytesOf(std::string("012"))},
        {"  \n", CBlob::DF_HEX, false, bytesOf(std::string("  \n"))},
        {"0x01, 0XaB,\n0x7e", CBlob::DF_CPP, true, {0x01, 0xAB, 0x7E}},
        {"01, 02", CBlob::DF_CPP, false, bytesOf(std::string("01, 02"))},
        {"0x1", CBlob::DF_CPP, false, bytesOf(std::string("0x1"))},
        {"text", CBlob::DF_UTF8, true, bytesOf(std::string("text"))},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.content);
        CBlob b = blobOf(bytesOf(c.content));
        EXPECT_EQ(b.FromFormat(c.fmt), c.ok);
        EXPECT_EQ(bytesOf(b), c.result);
    }
    CBlob empty;
    EXPECT_FALSE(empty.FromFormat(CBlob::DF_HEX));
    EXPECT_TRUE(empty.FromFormat(CBlob::DF_UTF8));
}

TEST(Blob, UnicodeRoundTrips)
{
    // A, e acute, euro sign, an emoji beyond the BMP
    std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::vector<unsigned short> utf16 = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00};
    std::vector<unsigned int> utf32 = {0x41, 0xE9, 0x20AC, 0x1F600};

    CBlob b(utf8.c_str());
    ASSERT_TRUE(b.ToFormat(CBlob::DF_UTF16));
    ASSERT_EQ(b.GetSize(), utf16.size() * 2);
    EXPECT_EQ(std::memcmp(b.GetData(), utf16.data(), b.GetSize()), 0);
    EXPECT_EQ(reinterpret_cast<unsigned short const *>(b.GetData())[utf16.size()], 0);
    EXPECT_TRUE(b.IsFormat(CBlob::DF_UTF16));
    ASSERT_TRUE(b.FromFormat(CBlob::DF_UTF16)); // surrogates come back as 3-byte units
    EXPECT_EQ(textOf(b), "A\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80");

    CBlob c(utf8.c_str());
    ASSERT_TRUE(c.ToFormat(CBlob::DF_UTF32));
    ASSERT_EQ(c.GetSize(), utf32.size() * 4);
    EXPECT_EQ(std::memcmp(c.GetData(), utf32.data(), c.GetSize()), 0);
    ASSERT_TRUE(c.FromFormat(CBlob::DF_UTF32));
    EXPECT_EQ(textOf(c), utf8);

    // format 0 takes UTF-16 text back to UTF-8, anything else as UTF-32
    CBlob w16(reinterpret_cast<unsigned short const *>(u"R\u00E9ader"));
    ASSERT_TRUE(w16.ToFormat(CBlob::DF_UTF8));
    EXPECT_EQ(textOf(w16), "R\xC3\xA9"
                           "ader");
    CBlob w32(L"\U0001F600x");
    ASSERT_TRUE(w32.ToFormat(CBlob::DF_UTF8));
    EXPECT_EQ(textOf(w32), "\xF0\x9F\x98\x80x");

    // a zero unit is kept as C0 80
    unsigned short withZero[] = {'a', 0, 'b'};
    CBlob z(withZero, sizeof withZero);
    ASSERT_TRUE(z.FromFormat(CBlob::DF_UTF16));
    EXPECT_EQ(textOf(z), "a\xC0\x80"
                         "b");

    unsigned char pair[] = {0x3D, 0xD8, 0x00, 0xDE};
    unsigned char out[8 + 4];
    EXPECT_EQ(CBlob::utf16_to_utf32(pair, 4, out), 4u);
    unsigned int joined;
    std::memcpy(&joined, out, 4);
    EXPECT_EQ(joined, 0x1F600u);
    unsigned int emoji = 0x1F600;
    EXPECT_EQ(CBlob::utf32_to_utf16((unsigned char *)&emoji, 4, out), 4u);
    EXPECT_EQ(std::memcmp(out, pair, 4), 0);
    unsigned int tooBig = 0x110000;
    EXPECT_EQ(CBlob::utf32_to_utf16((unsigned char *)&tooBig, 4, out), 0u);
}

TEST(Blob, BadUtf8IsRefusedWithinItsBounds)
{
    // The C-string check follows the 1- to 6-byte decoder; UTF-16 takes
    // 4-byte sequences up to U+10FFFF only.
    struct Case {
        char const *what;
        Bytes content;
        bool cString;
    } cases[] = {
        {"lone continuation", {0x41, 0x80}, false},
        {"lead above F7", {0xF8, 0x88, 0x80, 0x80, 0x80}, true},
        {"bad continuation", {0xC3, 0x28}, false},
        {"truncated at the end", {0x41, 0xE2, 0x82}, false},
        {"truncated 4-byte", {0xF0, 0x9F}, false},
        {"above U+10FFFF", {0xF4, 0x90, 0x80, 0x80}, true},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.what);
        ExactBuffer exact(c.content);
        EXPECT_EQ(CBlob::utf8_to_utf16(exact.p, exact.n, nullptr), 0u);
        CBlob b(exact.p, exact.n, false);
        EXPECT_FALSE(b.ToFormat(CBlob::DF_UTF16));
        EXPECT_EQ(bytesOf(b), c.content);
        EXPECT_EQ((char const *)b != nullptr, c.cString);
    }
    // the UTF-32 conversion reads no byte past a truncated sequence
    for (Bytes truncated : {Bytes{0xE2, 0x82}, Bytes{0x41, 0xF0}, Bytes{0xC3}}) {
        ExactBuffer exact(truncated);
        EXPECT_EQ(CBlob::utf8_to_utf32(exact.p, exact.n, nullptr), 0u);
        CBlob b(exact.p, exact.n, false);
        EXPECT_FALSE(b.ToFormat(CBlob::DF_UTF32));
    }
    // it stops at a zero byte
    unsigned char stop[] = {'a', 0, 'b'};
    EXPECT_EQ(CBlob::utf8_to_utf32(stop, 3, nullptr), 4u);
}

TEST(Blob, Utf8Decoder)
{
    struct Case {
        Bytes in;
        int result;
        unsigned long value;
    } cases[] = {
        {{}, 0, 0},
        {{0x41}, 1, 0x41},
        {{0x00}, 1, 0},
        {{0xC3, 0xA9}, 2, 0xE9},
        {{0xE2, 0x82, 0xAC}, 3, 0x20AC},
        {{0xF0, 0x9F, 0x98, 0x80}, 4, 0x1F600},
        {{0xF8, 0x88, 0x80, 0x80, 0x80}, 5, 0x200000},
        {{0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, 6, 0x4000000},
        {{0xE2, 0x82}, -1, 0},
        {{0x80}, -2, 0},
        {{0xFE}, -2, 0},
        {{0xC3, 0x28}, -3, 0},
        {{0xC0, 0x80}, -4, 0},
        {{0xE0, 0x80, 0x80}, -4, 0},
        {{0xF0, 0x80, 0x80, 0x80}, -4, 0},
    };
    for (auto const &c : cases) {
        ExactBuffer exact(c.in.empty() ? Bytes{0} : c.in);
        unsigned long v = 0xDEAD;
        EXPECT_EQ(CBlob::getc_utf8(exact.p, (unsigned int)c.in.size(), &v), c.result)
            << c.in.size() << " bytes from " << (c.in.empty() ? 0 : (int)c.in[0]);
        if (c.result > 0) {
            EXPECT_EQ(v, c.value);
        }
    }
}

TEST(Blob, FormatChecks)
{
    struct Case {
        Bytes content;
        CBlob::DataFormat fmt;
        bool is;
    } cases[] = {
        {bytesOf(std::string("plain")), CBlob::DF_UTF8, true},
        {{0xC3, 0x28}, CBlob::DF_UTF8, false},
        {{}, CBlob::DF_UTF8, false},
        {bytesOf(std::string("0a 1B\n")), CBlob::DF_HEX, true},
        {bytesOf(std::string("0a1")), CBlob::DF_HEX, false},
        {{}, CBlob::DF_HEX, false},
        {bytesOf(std::string("0x0a,0X1B")), CBlob::DF_CPP, true},
        {bytesOf(std::string("0a")), CBlob::DF_CPP, false},
        {{0x41, 0x00, 0x42, 0x00}, CBlob::DF_UTF16, true},       // "AB" in UTF-16LE
        {{0x41, 0x42, 0x43}, CBlob::DF_UTF16, false},            // odd length
        {{0x41, 0x00, 0x42, 0x00, 0x00}, CBlob::DF_UTF16, true}, // a final NUL byte
        {{0x41}, CBlob::DF_UTF16, false},                        // too short
        {{0x41, 0x42, 0x43, 0x44}, CBlob::DF_UTF16, false},      // ASCII text
        {{0xFF, 0xFE, 0x41, 0x42}, CBlob::DF_UTF16, true},       // signature FEFF
        {{0x41, 0x00, 0x00, 0x00}, CBlob::DF_UTF16, false},      // a zero unit
        {{0x00, 0x20, 0x41, 0x00}, CBlob::DF_UTF16, false},      // reversed space
        {{0x00, 0x30, 0x42, 0x4E}, CBlob::DF_UTF16, true},       // ideographic space
        {{0x41, 0x42, 0x43, 0x44}, CBlob::DF_UTF32, false},      // no check for UTF-32
    };
    for (auto const &c : cases) {
        CBlob b = blobOf(c.content);
        EXPECT_EQ(b.IsFormat(c.fmt), c.is)
            << "format " << c.fmt << ", " << c.content.size() << " bytes";
    }
}

TEST(Blob, FilesRoundTrip)
{
    char dir[] = "/tmp/vok-blob-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/data.bin";
    unsigned char bytes[] = {0, 1, 2, 0xFF, 'x'};
    CBlob out(bytes, sizeof bytes);
    ASSERT_TRUE(out.Write(path.c_str()));

    CBlob in("old");
    ASSERT_TRUE(in.Read(path.c_str()));
    EXPECT_EQ(bytesOf(in), bytesOf(out));

    FILE *f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(in.Read(f, 2));
    EXPECT_EQ(bytesOf(in), (Bytes{0, 1}));
    EXPECT_FALSE(in.Read(f, 4)) << "only 3 bytes left";
    EXPECT_EQ(bytesOf(in), (Bytes{0, 1})) << "old content kept";
    std::fclose(f);

    CBlob kept("kept");
    EXPECT_FALSE(kept.Read((std::string(dir) + "/missing").c_str()));
    EXPECT_FALSE(kept.Read((char const *)nullptr));
    EXPECT_FALSE(kept.Read((FILE *)nullptr, -1));
    EXPECT_EQ(textOf(kept), "kept");
    EXPECT_FALSE(kept.Write((std::string(dir) + "/no/such/dir").c_str()));

    CBlob empty;
    ASSERT_TRUE(empty.Write(path.c_str())); // truncates
    CBlob again("x");
    ASSERT_TRUE(again.Read(path.c_str()));
    EXPECT_EQ(again.GetSize(), 0u);

    std::string big(10000, 'b'); // more than one read chunk
    ASSERT_TRUE(CBlob(big.c_str()).Write(path.c_str()));
    ASSERT_TRUE(again.Read(path.c_str()));
    EXPECT_EQ(textOf(again), big);

    std::remove(path.c_str());
    rmdir(dir);
}

TEST(BlobTokenizer, SplitsAtDelimiters)
{
    struct Case {
        char const *text;
        char const *delims;
        std::vector<std::string> tokens;
    } cases[] = {
        {"a,,b", ",", {"a", "b"}}, {",a;b,", ",;", {"a", "b"}}, {"one", ",", {"one"}},
        {",,,", ",", {}},          {"a b", nullptr, {"a b"}},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.text);
        CBlob source(c.text);
        CBlobTokenizer tok(source);
        std::vector<std::string> got;
        for (char const *t = tok.Next(c.delims); t != nullptr; t = tok.Next(c.delims))
            got.push_back(t);
        EXPECT_EQ(got, c.tokens);
        EXPECT_EQ(tok.Next(c.delims), nullptr);
        EXPECT_EQ(tok.Rest(), nullptr);
        EXPECT_STREQ((char const *)source, c.text) << "the source is not touched";
    }
}

TEST(BlobTokenizer, RestAndUnusableSources)
{
    CBlobTokenizer tok(CBlob("key=value=more"));
    EXPECT_STREQ(tok.Rest(), "key=value=more");
    EXPECT_STREQ(tok.Next("="), "key");
    EXPECT_STREQ(tok.Rest(), "value=more");
    EXPECT_STREQ(tok.Next("="), "value");
    EXPECT_STREQ(tok.Next("="), "more");
    EXPECT_STREQ(tok.Rest(), "");

    unsigned char bad[] = {0xC3, 0x28};
    CBlobTokenizer notText{CBlob(bad, 2)};
    EXPECT_EQ(notText.Next(","), nullptr);
    CBlobTokenizer empty{CBlob()};
    EXPECT_EQ(empty.Next(","), nullptr);
    EXPECT_EQ(empty.Rest(), nullptr);
}
