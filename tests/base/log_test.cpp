// Logger: targets, header format, nesting, line assembly, rotation, UDP and the
// per-thread states' lifetime.
#include "base/linux/linux_log.h"
#include "base/p11_convert.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace
{

const unsigned long ALL = static_cast<unsigned long>(-1);

std::string readFile(std::string const &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> linesOf(std::string const &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A small pattern match: '#' a decimal digit, '%' one or more upper-case hex
// digits, '*' (last) the rest of the text, anything else itself.
bool matches(std::string const &text, std::string const &pattern)
{
    size_t t = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        char c = pattern[p];
        if (c == '*')
            return true;
        if (c == '#') {
            if (t >= text.size() || !isdigit(static_cast<unsigned char>(text[t])))
                return false;
            ++t;
        } else if (c == '%') {
            size_t start = t;
            while (t < text.size() && isxdigit(static_cast<unsigned char>(text[t])) &&
                   !islower(static_cast<unsigned char>(text[t])))
                ++t;
            if (t == start)
                return false;
        } else {
            if (t >= text.size() || text[t] != c)
                return false;
            ++t;
        }
    }
    return t == text.size();
}

// The text after the header's "]".
std::string body(std::string const &line)
{
    size_t close = line.find(']');
    return close == std::string::npos ? line : line.substr(close + 1);
}

class LogTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vok-log-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        closelog();
        hl_setopts(0x3F, 0x1DF, ALL);
    }
    void TearDown() override
    {
        closelog();
        hl_setopts(0x3F, 0x1DF, ALL);
        fs::remove_all(dir);
    }
    std::string path(std::string const &name) const { return dir + "/" + name; }
    std::vector<std::string> fileLines(std::string const &name) const
    {
        return linesOf(readFile(path(name)));
    }

    std::string dir;
};

TEST_F(LogTest, PrefixSetsOptionsAndZeroKeepsTheCurrentValue)
{
    hl_openlog(("(0x3F,0x1DF,-1)file:" + path("x.log")).c_str());
    EXPECT_EQ(_logtypes, 0x3FUL);
    EXPECT_EQ(_flags, 0x1DFUL);
    EXPECT_EQ(_maxlvl, ALL);
    hl_log(HL_INFO, "opened\n");
    EXPECT_EQ(fileLines("x.log").size(), 1u);

    hl_setopts(0x3F, 0x123, 7);
    hl_openlog(("(0x7F,0,0)file:" + path("y.log")).c_str());
    EXPECT_EQ(_logtypes, 0x3FUL) << "DB is always cleared";
    EXPECT_EQ(_flags, 0x123UL);
    EXPECT_EQ(_maxlvl, 7UL);
}

TEST_F(LogTest, TargetKindsAndMalformedTargets)
{
    struct Case {
        std::string target;
        bool opens;
    };
    const Case cases[] = {
        {"FILE:" + path("a.log"), true},
        {"file:" + path("a.log"), true},
        {"tcp:" + path("a.log"), false},
        {path("a.log"), false},
        {"(1,2,3file:" + path("a.log"), false}, // prefix never closed
        {"(2,100file:" + path("a.log"), false}, // not a three-number prefix
        {"file:(2,100" + path("a.log"), false}, // rotation prefix never closed
        {"file:", false},
        {"udp:255.255.255.255", false},
        {"udp:", false},
    };
    for (Case const &c : cases) {
        fs::remove(path("a.log"));
        hl_openlog(c.target.c_str());
        hl_log(HL_INFO, "probe\n");
        closelog();
        EXPECT_EQ(fs::exists(path("a.log")), c.opens) << c.target;
    }
}

TEST_F(LogTest, HeaderFieldsAndNestingOfEnterAndLeaveLines)
{
    hl_openlog(("file:" + path("h.log")).c_str());
    hl_log(HL_ENTER, "C_Sign(0x%x,%p)\n", 1u, nullptr);
    hl_log(HL_ENTER, "CP11Token::Sign(%d)\n", 2);
    hl_log(HL_ERROR, "card said %s\n", "no");
    hl_log(HL_LEAVE, "CP11Token::Sign( )\n");
    hl_log(HL_LEAVE, "C_Sign( 0x%.8X ) [ %s ]\n", 0u, CP11Convert::CKR2String(0));
    hl_log(HL_INFO, "after\n");
    log("untyped\n");

    std::vector<std::string> lines = fileLines("h.log");
    ASSERT_EQ(lines.size(), 7u);
    const std::string header = "[####-##-## ##:##:##.% PID=% TID=%]*";
    for (std::string const &line : lines)
        EXPECT_TRUE(matches(line, header)) << line;

    EXPECT_EQ(body(lines[0]), " >>     C_Sign(0x1,(nil))");
    EXPECT_EQ(body(lines[1]), " >>       CP11Token::Sign(2)");
    EXPECT_EQ(body(lines[2]), " ER         card said no");
    EXPECT_EQ(body(lines[3]), " <<       CP11Token::Sign( )");
    EXPECT_EQ(body(lines[4]), " <<     C_Sign( 0x00000000 ) [ CKR_OK ]");
    EXPECT_EQ(body(lines[5]), " IN     after");
    EXPECT_EQ(body(lines[6]), "      untyped");
}

TEST_F(LogTest, HeaderFlagCombinations)
{
    struct Case {
        unsigned long flags;
        int level;
        unsigned long type;
        std::string expected; // whole line
    };
    const Case cases[] = {
        {0x000, 0, 0x20, "[]\t  m"},
        {0x100, 0, 0x20, "[] IN \t  m"},
        {0x180, 0, 0x08, "[] ER    m"},
        {0x120, 3, 0x04, "[] WA  L(03)\t  m"},
        {0x140, 12, 0x20, "[] IN  " + std::string(16, ' ') + "   m"},
        {0x100, 0, 0x30, "[] EX|IN \t  m"},
        {0x100, 0, 0x1004, "[] WA|1000 \t  m"},
    };
    for (Case const &c : cases) {
        fs::remove(path("f.log"));
        hl_openlog(("file:" + path("f.log")).c_str());
        hl_setopts(0x3F | (c.type & ~0xFFUL), c.flags, ALL);
        setloglevel(c.level);
        hl_log(c.type, "m\n");
        closelog();
        std::vector<std::string> lines = fileLines("f.log");
        ASSERT_EQ(lines.size(), 1u) << c.flags;
        EXPECT_EQ(lines[0], c.expected) << std::hex << c.flags;
    }
}

TEST_F(LogTest, NestingIsPerThreadAndLinesStayWhole)
{
    hl_openlog(("(0,0x130,0)file:" + path("t.log")).c_str());
    const int rounds = 200;
    auto worker = [&](char const *who) {
        for (int i = 0; i < rounds; ++i) {
            hl_log(HL_ENTER, "%s::Outer(%d)\n", who, i);
            hl_log(HL_ENTER, "%s::Inner()\n", who);
            hl_log(HL_ERROR, "%s failed\n", who);
            hl_log(HL_LEAVE, "%s::Inner( )\n", who);
            hl_log(HL_LEAVE, "%s::Outer( )\n", who);
        }
    };
    std::thread a(worker, "A");
    std::thread b(worker, "B");
    a.join();
    b.join();

    std::map<std::string, std::vector<std::string>> byThread;
    for (std::string const &l : fileLines("t.log")) {
        size_t close = l.find("] ");
        ASSERT_TRUE(l.rfind("[TID=", 0) == 0 && close != std::string::npos) << l;
        byThread[l.substr(5, close - 5)].push_back(l.substr(close + 2));
    }
    ASSERT_EQ(byThread.size(), 2u);
    for (auto const &[tid, lines] : byThread) {
        ASSERT_EQ(lines.size(), 5u * rounds) << tid;
        std::string who = lines[0].substr(lines[0].find('\t') + 1, 1);
        for (int i = 0; i < rounds; ++i) {
            std::vector<std::string> expected = {
                ">>  L(01)\t" + who + "::Outer(" + std::to_string(i) + ")",
                ">>  L(02)\t" + who + "::Inner()",
                "ER  L(02)\t  " + who + " failed",
                "<<  L(02)\t" + who + "::Inner( )",
                "<<  L(01)\t" + who + "::Outer( )",
            };
            for (int k = 0; k < 5; ++k)
                ASSERT_EQ(lines[5 * i + k], expected[k]) << tid << " round " << i;
        }
    }
}

TEST_F(LogTest, LineAssembly)
{
    hl_openlog(("(0,0x100,0)file:" + path("l.log")).c_str());
    log("first piece "); // a new thread state writes its first piece at once
    log("a\r\nb\n");     // CR LF ends a line
    log("c\n\nd");       // LF LF: the line and an empty line; "d" waits
    log(" e\n");
    log("%s\n", std::string(3000, 'z').c_str()); // formatted text holds at most 2047
    log("|\n");

    std::string text = readFile(path("l.log"));
    std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 8u) << text;
    EXPECT_EQ(lines[0], "[]    \tfirst piece []    \ta\r");
    EXPECT_EQ(lines[1], "[]    \tb");
    EXPECT_EQ(lines[2], "[]    \tc");
    EXPECT_EQ(lines[3], "[]    \t");
    EXPECT_EQ(lines[4], "[]    \td e");
    // long text: lines of at most 1020 characters, each with its own header
    EXPECT_EQ(body(lines[5]), "    \t" + std::string(1020, 'z'));
    EXPECT_EQ(body(lines[6]), "    \t" + std::string(1020, 'z'));
    EXPECT_EQ(body(lines[7]), "    \t" + std::string(7, 'z') + "|");
}

TEST_F(LogTest, ManyLineEndsStayInsideTheLineBuffer)
{
    hl_openlog(("(0,0x100,0)file:" + path("n.log")).c_str());
    log("start\n");
    std::string burst = "a\n" + std::string(2000, '\r');
    log("%s", burst.c_str());
    log("next\n");
    std::vector<std::string> lines = linesOf(readFile(path("n.log")));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "[]    \ta");
    // the carriage returns that fit the 1024-byte line are kept, the rest dropped
    EXPECT_EQ(lines[2], std::string(1023 - 2, '\r') + "[]    \tnext");
}

TEST_F(LogTest, DebugTypesAreNeverWritten)
{
    hl_openlog(("(0xFF,0x100,0)file:" + path("d.log")).c_str());
    EXPECT_EQ(_logtypes, 0x3FUL);
    hl_setopts(0xFF, 0x100, ALL);
    EXPECT_EQ(_logtypes, 0x3FUL);
    unsigned char bytes[4] = {1, 2, 3, 4};
    hl_log(HL_DEBUG, "debug\n");
    hl_log(HL_DEBUG_DATA, "data\n");
    hl_hd(HL_DEBUG, bytes, 4);
    hl_hd(HL_DEBUG_DATA, bytes, 4);
    hl_hd(0, bytes, 4);
    hl_log(HL_INFO, "info\n");
    std::vector<std::string> lines = fileLines("d.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[] IN \t  info");
}

TEST_F(LogTest, DisabledEnterAndLeaveKeepNestingAndContexts)
{
    hl_openlog(("(0x3C,0x120,0)file:" + path("c.log")).c_str());
    tlogthreadptr *st = getlogthreadptr();
    ASSERT_NE(st, nullptr);

    struct Case {
        char const *message;
        char const *context;
    };
    const Case cases[] = {
        {"C_Sign(0x1,...)\n", "C_Sign"}, {"CP11Session::GetInfo(%p)\n", "CP11Session::GetInfo"},
        {"(no name)\n", "undefined"},    {"  leading blank\n", "undefined"},
        {"name_9 rest\n", "name_9"},
    };
    for (Case const &c : cases) {
        hl_log(HL_ENTER, "%s", c.message);
        EXPECT_EQ(st->level, 1);
        ASSERT_NE(st->context, nullptr);
        EXPECT_STREQ(st->context->name, c.context);
        hl_log(HL_LEAVE, "leave\n");
        EXPECT_EQ(st->level, 0);
        EXPECT_EQ(st->context, nullptr);
    }
    std::string longName(300, 'n');
    hl_log(HL_ENTER, "%s\n", longName.c_str());
    EXPECT_EQ(std::string(st->context->name), std::string(255, 'n'));
    hl_log(HL_LEAVE, "leave\n");

    hl_log(HL_INFO, "inside\n");
    EXPECT_EQ(fileLines("c.log"), std::vector<std::string>{"[] IN  L(00)\t  inside"});

    EXPECT_EQ(decloglevel(), 0);
    EXPECT_EQ(st->level, 0);
    incloglevel();
    incloglevel();
    EXPECT_EQ(decloglevel(), 1);
}

TEST_F(LogTest, MaxLevelLimitsWrittenLines)
{
    hl_openlog(("(0,0x120,1)file:" + path("m.log")).c_str());
    hl_log(HL_ENTER, "Outer()\n");
    hl_log(HL_ENTER, "Inner()\n");
    hl_log(HL_INFO, "deep\n");
    hl_log(HL_LEAVE, "Inner( )\n");
    hl_log(HL_LEAVE, "Outer( )\n");
    EXPECT_EQ(fileLines("m.log"),
              (std::vector<std::string>{"[] >>  L(01)\tOuter()", "[] <<  L(01)\tOuter( )"}));
}

TEST_F(LogTest, ContextStack)
{
    hl_openlog(("file:" + path("s.log")).c_str());
    tlogthreadptr *st = getlogthreadptr();
    ASSERT_NE(st, nullptr);
    setlogcontext("first"); // empty stack: pushes
    ASSERT_NE(st->context, nullptr);
    EXPECT_STREQ(st->context->name, "first");
    pushlogcontext("second");
    setlogcontext("renamed");
    EXPECT_STREQ(st->context->name, "renamed");
    EXPECT_EQ(poplogcontext(), 1);
    EXPECT_STREQ(st->context->name, "first");
    EXPECT_EQ(poplogcontext(), 0);
    EXPECT_EQ(poplogcontext(), 0);

    pushlogcontext("a");
    setloglevel(5);
    closelogthread();
    EXPECT_EQ(st->context, nullptr);
    EXPECT_EQ(st->level, 0);
    EXPECT_EQ(st->initialised, 1u);
    EXPECT_EQ(st->lineReady, 1u);
}

TEST_F(LogTest, NullStringArgumentIsLoggedAsPlaceholder)
{
    hl_openlog(("(0,0x100,0)file:" + path("z.log")).c_str());
    char const *nothing = nullptr;
    // What the compiler refuses at every other call: the logger must survive it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-overflow"
    hl_log(HL_INFO, "name %s, code [ %s ], wide %ls, pad [%8s]\n", nothing,
           CP11Convert::CKR2String(0x4), static_cast<wchar_t const *>(nullptr), nothing);
    hl_log(HL_INFO, "%d%% %5.2f %c %lu %llx %zu %-4d| %*d %s%n\n", 7, 1.5, 'q', 42UL, 0xABCULL,
           static_cast<size_t>(3), 9, 3, 5, "end", static_cast<int *>(nullptr));
    hl_log(HL_INFO, "odd %y and %1$s\n");
#pragma GCC diagnostic pop
    std::vector<std::string> lines = fileLines("z.log");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(body(lines[0]), " IN \t  name (null), code [ (null) ], wide (null), pad [  (null)]");
    EXPECT_EQ(body(lines[1]), " IN \t  7%  1.50 q 42 abc 3 9   |   5 end");
    EXPECT_EQ(body(lines[2]), " IN \t  odd %y and %1$s");
}

TEST_F(LogTest, Hexdump)
{
    hl_openlog(("(0,0x100,0)file:" + path("x.log")).c_str());
    unsigned char bytes[17];
    const unsigned char row[16] = {'A', 0x20, 0x7F, '{',  '}',  0x80, 0xFF, 0x00,
                                   'z', '~',  '!',  0x21, 0x1F, 0x0A, '0',  '|'};
    std::memcpy(bytes, row, 16);
    bytes[16] = 'B';
    hexdump(bytes, 17);
    hexdump(bytes, 0);
    hexdump(nullptr, 5);
    std::vector<unsigned char> big(5000, 0x41);
    hexdump(big.data(), 5000);

    std::vector<std::string> lines = fileLines("x.log");
    ASSERT_EQ(lines.size(), 2u + 2u + 1u + 256u);
    EXPECT_EQ(lines[0], "[]    \t  0000 41 20 7F 7B 7D 80 FF 00 7A 7E 21 21 1F 0A 30 7C  "
                        "A.......z~!!..0|");
    EXPECT_EQ(lines[1], "[]    \t  0010 42 " + std::string(45, ' ') + " B");
    EXPECT_EQ(lines[2], "[]    \t  Invalid length 0");
    EXPECT_EQ(lines[3], "[]    \t  NULL pointer");
    EXPECT_EQ(lines[4], "[]    \t  First 4K of 5000..");
    EXPECT_EQ(lines.back().substr(0, 14), "[]    \t  0FF0 ");
}

TEST_F(LogTest, RotationOverNumberedFiles)
{
    // both files are over the limit at open: file 1 is begun afresh
    std::ofstream(path("t.1.log")) << std::string(200, 'x');
    std::ofstream(path("t.2.log")) << std::string(200, 'y');
    hl_openlog(("(0,0x100,0)file:(1,100)" + path("t.log")).c_str());
    EXPECT_EQ(fs::file_size(path("t.1.log")), 0u);
    EXPECT_EQ(fs::file_size(path("t.2.log")), 200u);

    // every line is 7 header bytes plus 53: two lines pass the 100-byte limit
    auto line = [](int n) { return std::to_string(n) + std::string(49, '.'); };
    for (int n = 1; n <= 5; ++n)
        hl_log(HL_INFO, "%s\n", line(n).c_str());

    auto expected = [&](std::vector<int> ns) {
        std::vector<std::string> lines;
        for (int n : ns)
            lines.push_back("[] IN \t  " + line(n));
        return lines;
    };
    EXPECT_EQ(fileLines("t.1.log"), expected({5}));
    EXPECT_EQ(fileLines("t.2.log"), expected({3, 4}));
    EXPECT_FALSE(fs::exists(path("t.3.log"))) << "a count of 1 becomes 2";
}

TEST_F(LogTest, ConcurrentWritersRotateWithoutTearingLines)
{
    hl_openlog(("(0,0x110,0)file:(3,4000)" + path("c.log")).c_str());
    const int perThread = 400;
    auto worker = [&](char who) {
        for (int i = 0; i < perThread; ++i)
            hl_log(HL_INFO, "%c %d %s\n", who, i, std::string(40, who).c_str());
    };
    std::thread a(worker, 'A');
    std::thread b(worker, 'B');
    a.join();
    b.join();
    closelog();

    size_t total = 0;
    for (int n = 1; n <= 3; ++n) {
        std::string text = readFile(path("c." + std::to_string(n) + ".log"));
        EXPECT_LE(text.size(), 4000u + 200u) << n;
        for (std::string const &line : linesOf(text)) {
            // one header and one line: "[TID=...] IN \t  A 17 AAAA..."
            size_t close = line.find("] IN \t  ");
            ASSERT_TRUE(line.rfind("[TID=", 0) == 0 && close != std::string::npos) << line;
            std::string rest = line.substr(close + 8);
            char who = rest[0];
            ASSERT_TRUE(who == 'A' || who == 'B') << line;
            EXPECT_EQ(rest.substr(rest.size() - 41), " " + std::string(40, who)) << line;
            EXPECT_EQ(line.find('[', 1), std::string::npos) << line;
            ++total;
        }
    }
    EXPECT_GT(total, 0u);
    EXPECT_FALSE(fs::exists(path("c.4.log")));
}

TEST_F(LogTest, RotationOpenPicksFirstFileBelowTheLimit)
{
    std::ofstream(path("r.1.log")) << std::string(200, 'x');
    std::ofstream(path("r.2.log")) << "old\n";
    hl_openlog(("(0,0x100,0)file:(3,100)" + path("r.log")).c_str());
    hl_log(HL_INFO, "new\n");
    EXPECT_EQ(readFile(path("r.2.log")), "old\n[] IN \t  new\n");
    EXPECT_EQ(fs::file_size(path("r.1.log")), 200u);
}

TEST_F(LogTest, RotationTemplates)
{
    fs::create_directory(path("a.b"));
    struct Case {
        std::string spec;
        std::string firstFile;
    };
    const Case cases[] = {
        {"(99,100)" + path("a.b/c"), path("a.b/c.1")},
        {"(5,1048576)" + path("p11.log"), path("p11.1.log")},
        {"(3,100000)" + path("trace"), path("trace.1")},
        {"(2,100)" + path("pct%s%n%d.log"), path("pct%s%n%d.1.log")},
    };
    for (Case const &c : cases) {
        hl_openlog(("file:" + c.spec).c_str());
        hl_log(HL_INFO, "x\n");
        closelog();
        EXPECT_TRUE(fs::exists(c.firstFile)) << c.spec;
    }
}

TEST_F(LogTest, OverlongExtensionIsRefused)
{
    hl_openlog(("file:" + path("keep.log")).c_str());
    hl_log(HL_INFO, "before\n");
    std::string spec = "file:(2,100)" + path("x.") + std::string(600, 'e');
    hl_openlog(spec.c_str()); // closes the previous target, opens nothing
    hl_log(HL_INFO, "after\n");
    ASSERT_EQ(fileLines("keep.log").size(), 1u);
}

TEST_F(LogTest, UdpTargetSendsHeaderAndLine)
{
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(9999);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(sock, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
        close(sock);
        GTEST_SKIP() << "UDP port 9999 on the loopback is in use";
    }
    timeval timeout{5, 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));

    hl_openlog("(0,0x100,0)Udp:127.0.0.1");
    hl_log(HL_INFO, "hello %d\n", 42);
    char buf[2048];
    std::vector<std::string> datagrams;
    for (int i = 0; i < 2; ++i) {
        ssize_t n = recv(sock, buf, sizeof(buf), 0);
        ASSERT_GT(n, 0);
        datagrams.emplace_back(buf, static_cast<size_t>(n));
    }
    close(sock);
    EXPECT_EQ(datagrams, (std::vector<std::string>{"[] IN \t", "  hello 42\n"}));
}

TEST_F(LogTest, ClosedLogWritesNothingButLevelsStillWork)
{
    hl_log(HL_INFO, "nothing\n");
    log("nothing\n");
    setloglevel(0);
    incloglevel();
    EXPECT_EQ(decloglevel(), 0);
    EXPECT_EQ(decloglevel(), 0);
}

TEST_F(LogTest, ReopenGivesEveryThreadAFreshState)
{
    hl_openlog(("(0,0x120,0)file:" + path("one.log")).c_str());
    std::mutex m;
    std::condition_variable cv;
    int step = 0;
    auto waitFor = [&](int s) {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return step >= s; });
    };
    auto advance = [&](int s) {
        std::lock_guard<std::mutex> lock(m);
        step = s;
        cv.notify_all();
    };
    std::thread t([&] {
        hl_log(HL_ENTER, "Worker()\n");
        advance(1);
        waitFor(2);
        hl_log(HL_INFO, "second\n"); // a new state for the new target
        advance(3);
    });
    waitFor(1);
    hl_openlog(("(0,0x120,0)file:" + path("two.log")).c_str());
    advance(2);
    waitFor(3);
    t.join();
    EXPECT_EQ(fileLines("one.log"), std::vector<std::string>{"[] >>  L(01)\tWorker()"});
    EXPECT_EQ(fileLines("two.log"), std::vector<std::string>{"[] IN  L(00)\t  second"});
}

// A host thread that logged through a module must be able to end after the
// module was unloaded: closing the log drops the per-thread key and states.
TEST_F(LogTest, ThreadEndsCleanlyAfterTheModuleIsUnloaded)
{
    void *module = dlopen(VOK_LOG_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    using OpenFn = void (*)(char const *);
    using LogFn = void (*)(char const *);
    using CloseFn = void (*)();
    auto probeOpen = reinterpret_cast<OpenFn>(dlsym(module, "probe_open"));
    auto probeLog = reinterpret_cast<LogFn>(dlsym(module, "probe_log"));
    auto probeClose = reinterpret_cast<CloseFn>(dlsym(module, "probe_close"));
    ASSERT_TRUE(probeOpen && probeLog && probeClose);

    probeOpen(("file:" + path("u.log")).c_str());
    std::mutex m;
    std::condition_variable cv;
    int step = 0;
    std::thread host([&] {
        probeLog("from a host thread\n");
        std::unique_lock<std::mutex> lock(m);
        step = 1;
        cv.notify_all();
        cv.wait(lock, [&] { return step == 2; });
    });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return step == 1; });
    }
    probeClose();
    dlclose(module);
    void *still = dlopen(VOK_LOG_PROBE, RTLD_NOW | RTLD_NOLOAD);
    if (still != nullptr)
        dlclose(still);
    {
        std::lock_guard<std::mutex> lock(m);
        step = 2;
        cv.notify_all();
    }
    host.join(); // runs the thread's key destructors
    EXPECT_EQ(still, nullptr) << "the module stayed mapped, the test proves nothing";
    EXPECT_EQ(linesOf(readFile(path("u.log"))).size(), 1u);
}

TEST(LogText, TranslateFlagsAndParam)
{
    const TRNAMES table[] = {{0x1, "ONE"}, {0x2, "TWO"}, {0x6, "SIX"}};
    struct Case {
        unsigned long value;
        char const *flags;
        char const *param;
    };
    const Case cases[] = {
        {0x0, "0", "0x0"},       {0x1, "ONE", "ONE"},          {0x3, "ONE|TWO|SIX", "0x3"},
        {0x6, "TWO|SIX", "SIX"}, {0x18, "0x00000018", "0x18"}, {0x9, "ONE|0x00000008", "0x9"},
    };
    for (Case const &c : cases) {
        EXPECT_STREQ(translateFlags(table, sizeof(table), c.value), c.flags) << c.value;
        EXPECT_STREQ(translateParam(table, sizeof(table), c.value), c.param) << c.value;
    }
}

TEST(LogText, ScratchBuffersSurviveFourCalls)
{
    const TRNAMES table[] = {{0x1, "ONE"}};
    char const *first = translateParam(table, sizeof(table), 0x10);
    translateParam(table, sizeof(table), 0x11);
    translateParam(table, sizeof(table), 0x12);
    EXPECT_STREQ(first, "0x10");
}

TEST(LogText, ClockAndDates)
{
    uint64_t before = static_cast<uint64_t>(time(nullptr)) * 1000;
    uint64_t tick = GetTickCount();
    EXPECT_GE(tick + 1000, before);
    EXPECT_LE(tick, before + 2000);
    std::string dt = datetime();
    EXPECT_FALSE(dt.empty());
    EXPECT_EQ(dt.find_first_of("\r\n"), std::string::npos);
    char buf[64];
    EXPECT_EQ(_strtime(buf), buf);
    EXPECT_TRUE(matches(buf, "##:##:##")) << buf;
    EXPECT_EQ(_strdate(buf), buf);
    EXPECT_FALSE(std::string(buf).empty());
    err(1);
}

} // namespace
