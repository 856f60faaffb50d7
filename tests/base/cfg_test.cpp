// Configuration-file reader: parsing real files and the typed getters.
#include "base/cfg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

class CfgTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vok-cfg-XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path = tmpl;
    }
    void TearDown() override
    {
        cfg_free(cfg);
        std::remove(path.c_str());
    }
    int read(std::string const &text)
    {
        std::ofstream(path, std::ios::trunc) << text;
        cfg_free(cfg);
        cfg = nullptr;
        return cfg_rd(&cfg, path.c_str());
    }

    std::string path;
    _t_cfg *cfg = nullptr;
};

TEST_F(CfgTest, ModuleConfigurationWithLogKey)
{
    ASSERT_EQ(read("# module configuration\n"
                   "\n"
                   "log = (0x3F,0x1DF,-1)file:/tmp/p11.log   # trace\n"
                   "[other]\n"
                   "log = udp:127.0.0.1\n"),
              0);
    int index = 0;
    EXPECT_STREQ(cfg_getv(cfg, "log", &index), "(0x3F,0x1DF,-1)file:/tmp/p11.log");
    EXPECT_EQ(index, 1);
    EXPECT_EQ(cfg_getv(cfg, "log", &index), nullptr) << "the key in the section is not top-level";
    _t_cfg *other = cfg_gets(cfg, "other");
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(cfg_getv(other, "log", nullptr), "udp:127.0.0.1");
}

TEST_F(CfgTest, KeyInSectionOnlyIsNotTopLevel)
{
    ASSERT_EQ(read("[sec]\nlog = y\n"), 0);
    EXPECT_EQ(cfg_getv(cfg, "log", nullptr), nullptr);
    EXPECT_STREQ(cfg_getv(cfg_gets(cfg, "sec"), "log", nullptr), "y");
    EXPECT_EQ(cfg_gets(cfg, "none"), nullptr);
}

TEST_F(CfgTest, ValuesAndContinuations)
{
    struct Case {
        char const *text;
        char const *value;
    };
    const Case cases[] = {
        {"key = a b # note\n", "a b"},
        {"key=a\n", "a"},
        {"  key \t=\t spaced  value  \n", "spaced  value"},
        {"key = \\\nx\n", "x"},
        {"key = one \\\n   two\\\n three # c\n", "onetwothree"},
        {"key = a \\\n# only a comment\n", "a"},
        {"key = a\\\n", "a"}, // continuation cut by the end of the file
        {"key = a=b\n", "a=b"},
    };
    for (Case const &c : cases) {
        ASSERT_EQ(read(c.text), 0) << c.text;
        EXPECT_STREQ(cfg_getv(cfg, "key", nullptr), c.value) << c.text;
    }
}

TEST_F(CfgTest, MalformedLineNumber)
{
    struct Case {
        char const *text;
        int line;
    };
    const Case cases[] = {
        {"a = 1\nkey =\nb = 2\n", 2},
        {"a = 1\n\n# c\nkey\n", 4},
        {"\\\n", 1},
        {"a = \\\n\\\n", 2},
        {"[open\n", 1},
        {"[]\n", 1},
        {"= value\n", 1},
        {"key = \\\n\n", 2},
    };
    for (Case const &c : cases) {
        EXPECT_EQ(read(c.text), c.line) << c.text;
        EXPECT_EQ(cfg, nullptr);
    }
}

TEST_F(CfgTest, SectionsRepeatAndKeysRepeat)
{
    ASSERT_EQ(read("log = a\n[s]\nk = 1\n[t]\nk = 2\n[s] trailing text\nk = 3\nlog = b\n"), 0);
    _t_cfg *s = cfg_gets(cfg, "s");
    ASSERT_NE(s, nullptr);
    int index = 0;
    EXPECT_STREQ(cfg_getv(s, "k", &index), "1");
    EXPECT_STREQ(cfg_getv(s, "k", &index), "3");
    EXPECT_EQ(index, 2);
    EXPECT_STREQ(cfg_getv(cfg_gets(cfg, "t"), "k", nullptr), "2");
    EXPECT_STREQ(cfg_getv(s, "log", nullptr), "b");
    EXPECT_STREQ(cfg_getv(cfg, "log", nullptr), "a");

    ASSERT_EQ(read("log = a\nlog = b\n"), 0);
    EXPECT_STREQ(cfg_getv(cfg, "log", nullptr), "a");
    index = 1;
    EXPECT_STREQ(cfg_getv(cfg, "log", &index), "b");
    EXPECT_EQ(index, 2);
}

TEST_F(CfgTest, LongLinesAreSplit)
{
    std::string value(800, 'v');
    ASSERT_EQ(read("key = " + value + "\n"), 2) << "the rest of the line has no \"=\"";
    ASSERT_EQ(read("key = " + std::string(761, 'v') + "\n"), 0);
    EXPECT_EQ(std::string(cfg_getv(cfg, "key", nullptr)), std::string(761, 'v'));
}

TEST_F(CfgTest, MissingFileAndEmptyFile)
{
    _t_cfg *none = reinterpret_cast<_t_cfg *>(1);
    EXPECT_EQ(cfg_rd(&none, "/nonexistent/vok/none.cfg"), -2);
    ASSERT_EQ(read("# nothing\n\n"), 0);
    EXPECT_EQ(cfg, nullptr);
    EXPECT_EQ(cfg_getv(nullptr, "log", nullptr), nullptr);
}

TEST_F(CfgTest, NumberGetters)
{
    ASSERT_EQ(read("hex = 0x10\noct = 010\nneg = -5\nbad = 12abc\nbig = 99999999999\n"), 0);
    struct Case {
        char const *key;
        unsigned long rc;
        int value;
    };
    const Case cases[] = {
        {"hex", 0, 16}, {"oct", 0, 8}, {"neg", 0, -5}, {"bad", 2, 0}, {"big", 2, 0}, {"none", 2, 0},
    };
    for (Case const &c : cases) {
        int out = 0;
        EXPECT_EQ(cfg_getv_int(cfg, c.key, &out), c.rc) << c.key;
        EXPECT_EQ(out, c.value) << c.key;
    }
    EXPECT_EQ(cfg_getv_int(cfg, "bad", nullptr), 0UL) << "out NULL only asks for the key";
    unsigned long u = 0;
    EXPECT_EQ(cfg_getv_ulong(cfg, "big", &u), 0UL);
    EXPECT_EQ(u, 99999999999UL);
    EXPECT_EQ(cfg_getv_ulong(cfg, "bad", &u), 2UL);
    EXPECT_EQ(cfg_getv_ulong(cfg, "none", &u), 2UL);
}

TEST_F(CfgTest, Base64Getter)
{
    ASSERT_EQ(read("abc = QUJD\npad1 = QUI=\npad2 = QQ==\nshort = QQ\nbad = QU\\x\nsp = QU JD\n"),
              0);
    unsigned char out[8] = {};
    unsigned long len = sizeof(out);
    EXPECT_EQ(cfg_getv_b64(cfg, "abc", &len, out), 0UL);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), len), "ABC");

    len = 2;
    EXPECT_EQ(cfg_getv_b64(cfg, "abc", &len, out), 234UL);
    EXPECT_EQ(len, 3UL);
    len = 0;
    EXPECT_EQ(cfg_getv_b64(cfg, "abc", &len, nullptr), 0UL);
    EXPECT_EQ(len, 3UL);

    struct Case {
        char const *key;
        char const *bytes;
    };
    const Case cases[] = {{"pad1", "AB"}, {"pad2", "A"}, {"short", "A"}};
    for (Case const &c : cases) {
        len = sizeof(out);
        ASSERT_EQ(cfg_getv_b64(cfg, c.key, &len, out), 0UL) << c.key;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), len), c.bytes) << c.key;
    }
    len = sizeof(out);
    EXPECT_EQ(cfg_getv_b64(cfg, "bad", &len, out), 2UL);
    EXPECT_EQ(cfg_getv_b64(cfg, "sp", &len, out), 2UL);
    EXPECT_EQ(cfg_getv_b64(cfg, "none", &len, out), 2UL);
    EXPECT_EQ(cfg_getv_b64(cfg, nullptr, &len, out), 87UL);
    EXPECT_EQ(cfg_getv_b64(cfg, "abc", nullptr, out), 87UL);
}

TEST_F(CfgTest, EscapedBinaryGetter)
{
    ASSERT_EQ(read("v = A\\x41\\x0a\\xFf\nbad1 = \\y41\nbad2 = \\x4\nbad3 = \\x4g\n"), 0);
    unsigned char out[8] = {};
    unsigned long len = sizeof(out);
    ASSERT_EQ(cfg_getv_bin(cfg, "v", &len, out), 0UL);
    EXPECT_EQ(std::vector<unsigned char>(out, out + len),
              (std::vector<unsigned char>{0x41, 0x41, 0x0A, 0xFF}));
    len = 3;
    EXPECT_EQ(cfg_getv_bin(cfg, "v", &len, out), 234UL);
    EXPECT_EQ(len, 4UL);
    len = 0;
    EXPECT_EQ(cfg_getv_bin(cfg, "v", &len, nullptr), 0UL);
    EXPECT_EQ(len, 4UL);
    for (char const *key : {"bad1", "bad2", "bad3", "none"}) {
        len = sizeof(out);
        EXPECT_EQ(cfg_getv_bin(cfg, key, &len, out), 2UL) << key;
    }
    EXPECT_EQ(cfg_getv_bin(cfg, "v", nullptr, out), 87UL);
}

} // namespace
