// The client's trace log on its own: the form of its lines, the user part of
// its name, and the refusal of whatever someone else may have put at its
// predictable path.
#include "client/trace_log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

namespace
{

TEST(TraceLine, FormsEachKindOfLine)
{
    QDateTime const when(QDate(2024, 3, 5), QTime(7, 8, 9));
    struct Row {
        char const *who;
        char const *what;
        unsigned long status;
        char const *info;
        char const *expected;
    } const rows[] = {
        {"Pkcs11Manipulator", "LoadApi()", 1000, "", "     Pkcs11Manipulator: LoadApi() entered;"},
        {"Pkcs11Manipulator", "~Pkcs11Manipulator()", 1001, "",
         "     Pkcs11Manipulator: ~Pkcs11Manipulator() finished;"},
        {">>", "C_GetSlotList(FALSE,NULL,&n)", 0, "n=2",
         "          >>: C_GetSlotList(FALSE,NULL,&n) returned: 0x0 (More info: n=2);"},
        {">>", "C_Login(hSes[0],1,pin, lpin)", 0xA0, "",
         "          >>: C_Login(hSes[0],1,pin, lpin) returned: 0xa0;"},
        // a result of -1 widened to 64 bits
        {"Pkcs11Manipulator", "GetState(0)", static_cast<unsigned long>(-1L), "",
         "     Pkcs11Manipulator: GetState(0) returned: 0xffffffffffffffff;"},
        // the window's own lines carry no indentation
        {"CardManager", "showDiag()", 1000, "", "CardManager: showDiag() entered;"},
        {"CardManager", "readHtml(main)", 1001, "page",
         "CardManager: readHtml(main) finished "
         "(More info: page);"},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(TraceLine(when, row.who, row.what, row.status, row.info),
                  QStringLiteral("2024-03-05T07:08:09: ") + row.expected);
    }
}

// Sets environment variables for one scope and puts them back after it.
class Environment
{
  public:
    void Set(char const *name, std::optional<std::string> const &value)
    {
        char const *old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        apply(name, value);
    }
    ~Environment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            apply(it->first, it->second);
    }

  private:
    static void apply(char const *name, std::optional<std::string> const &value)
    {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    std::vector<std::pair<char const *, std::optional<std::string>>> m_saved;
};

TEST(TraceLogPath, FallsBackFromUserToLognameToThePasswordEntry)
{
    std::string const own = [] {
        Environment none;
        none.Set("USER", std::nullopt);
        none.Set("LOGNAME", std::nullopt);
        return TraceLogPath().toStdString();
    }();
    ASSERT_GT(own.size(), std::string("/tmp/vokrallog_").size()) << "no password entry";

    using Value = std::optional<std::string>;
    struct Row {
        Value user;
        Value logname;
        std::string expected;
    } const rows[] = {
        {"alice", "bob", "/tmp/vokrallog_alice"},
        {std::nullopt, "bob", "/tmp/vokrallog_bob"},
        {"", "bob", "/tmp/vokrallog_bob"},
        {"../etc/alice", "bob", "/tmp/vokrallog_bob"},
        {"", "", own},
        {std::nullopt, std::nullopt, own},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.expected);
        Environment env;
        env.Set("USER", row.user);
        env.Set("LOGNAME", row.logname);
        EXPECT_EQ(TraceLogPath().toStdString(), row.expected);
    }
}

std::string contentOf(std::string const &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write(std::string const &path, std::string const &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class TraceLogFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vok-client-log-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/log";
        other = dir + "/other";
    }
    void TearDown() override
    {
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string dir, path, other;
};

TEST_F(TraceLogFile, OpensItsOwnFileEmptyAndPrivate)
{
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "an old log" : "no file yet");
        if (existing) {
            write(path, "lines of an earlier run\n");
            ASSERT_EQ(chmod(path.c_str(), 0644), 0);
        }
        std::unique_ptr<QFile> file = OpenTraceLog(QString::fromStdString(path));
        ASSERT_NE(file, nullptr);
        file->write("one\n");
        file->write("two\n");
        file->flush();
        EXPECT_EQ(contentOf(path), "one\ntwo\n");
        struct stat st {
        };
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(TraceLogFile, RefusesWhatSomeoneElseMayHavePutThere)
{
    std::string const victim = "data that must stay";
    enum Keeps { TARGET, FILE, NOTHING }; // what must hold the victim's data afterwards
    struct Row {
        char const *what;
        std::function<bool()> plant; // false: cannot be set up here
        Keeps keeps;
    } const rows[] = {
        {"a symbolic link to a file",
         [&] {
             write(other, victim);
             return symlink(other.c_str(), path.c_str()) == 0;
         },
         TARGET},
        {"a dangling symbolic link", [&] { return symlink(other.c_str(), path.c_str()) == 0; },
         NOTHING},
        {"a hard link to a file",
         [&] {
             write(other, victim);
             return link(other.c_str(), path.c_str()) == 0;
         },
         TARGET},
        {"a file owned by someone else",
         [&] {
             write(path, victim);
             return chown(path.c_str(), 65534, 65534) == 0;
         },
         FILE},
        {"a FIFO", [&] { return mkfifo(path.c_str(), 0666) == 0; }, NOTHING},
        {"a directory", [&] { return mkdir(path.c_str(), 0700) == 0; }, NOTHING},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        unlink(other.c_str());
        if (unlink(path.c_str()) != 0)
            rmdir(path.c_str());
        if (!row.plant()) {
            std::printf("not set up here (needs root): %s\n", row.what);
            continue;
        }
        EXPECT_EQ(OpenTraceLog(QString::fromStdString(path)), nullptr);
        if (row.keeps == TARGET)
            EXPECT_EQ(contentOf(other), victim);
        else if (row.keeps == FILE)
            EXPECT_EQ(contentOf(path), victim);
        else
            EXPECT_NE(access(other.c_str(), F_OK), 0) << "the link's target was created";
    }
}

} // namespace
