// The client without a module to work with: what it loads and what it
// refuses to load, what its operations answer then, the byte helpers of its
// records, and the symbolic link at its log path.
#include "client/pkcs11_manipulator.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/client_codes.h"
#include "client_trace.h"

using client_test::HasLine;
using client_test::TraceLines;
using client_test::UseOwnTraceLog;

namespace
{

// A shared library that loads but is no PKCS#11 module.
std::string notAModule()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&qVersion), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    return info.dli_fname;
}

TEST(Manipulator, LoadsOnlyTheModuleItIsGiven)
{
    std::string const library = notAModule();
    ASSERT_FALSE(library.empty());
    std::string const external = "     Pkcs11Manipulator: LoadExternalLibrary() returned: 0x";
    struct Row {
        char const *what;
        std::vector<std::string> arguments; // empty: LoadApi(path) with the path below
        std::string path;
        std::string externalLine; // empty: no file was named, or it does not exist
    } const rows[] = {
        {"a missing file is not looked for elsewhere", {}, "/nonexistent/libvokralp11.so", ""},
        {"a library without C_GetFunctionList",
         {},
         library,
         external + "1 (More info: argv[1]=" + library + ");"},
        {"the program's single argument",
         {"cardadmin", library},
         "",
         external + "1 (More info: argv[1]=" + library + ");"},
        {"a missing file as the program's argument", {"cardadmin", "/nonexistent/x.so"}, "", ""},
        {"two arguments: the default paths", {"cardadmin", library, library}, "", ""},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::string const log = UseOwnTraceLog();
        int rv = 0;
        {
            std::vector<char *> argv;
            for (std::string const &a : row.arguments)
                argv.push_back(const_cast<char *>(a.c_str()));
            int argc = static_cast<int>(argv.size());
            std::unique_ptr<QCoreApplication> app;
            if (argc != 0)
                app = std::make_unique<QCoreApplication>(argc, argv.data());
            Pkcs11Manipulator client;
            rv = argc != 0 ? client.LoadApi() : client.LoadApi(QString::fromStdString(row.path));
        }
        // An installed module where the defaults point would load in the last row.
        if (row.arguments.size() != 3) {
            EXPECT_EQ(rv, client_code::NO_MODULE);
        }
        std::vector<std::string> lines = TraceLines(log);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines.front(), "     Pkcs11Manipulator: LoadApi() entered;");
        bool named = false;
        for (std::string const &line : lines)
            named = named || line.find("LoadExternalLibrary()") != std::string::npos;
        if (row.externalLine.empty())
            EXPECT_FALSE(named);
        else
            EXPECT_TRUE(HasLine(lines, row.externalLine));
        if (rv == client_code::NO_MODULE) {
            EXPECT_TRUE(
                HasLine(lines, "     Pkcs11Manipulator: LoadApi() returned: 0xffffffffffffffff;"));
        }
        EXPECT_EQ(lines[lines.size() - 2], "     Pkcs11Manipulator: ~Pkcs11Manipulator() entered;");
        EXPECT_EQ(lines.back(), "     Pkcs11Manipulator: ~Pkcs11Manipulator() finished;");
        unlink(log.c_str());
    }
}

TEST(Manipulator, AnswersWithoutAModule)
{
    std::string const log = UseOwnTraceLog();
    {
        Pkcs11Manipulator client;
        int slot = 0;
        EXPECT_EQ(client.LoadApi(QStringLiteral("/nonexistent/libvokralp11.so")),
                  client_code::NO_MODULE);
        EXPECT_EQ(client.GetInfo(), QString());
        EXPECT_EQ(client.GetReadersCount(), 0);
        EXPECT_EQ(client.GetReadersWithTokenCount(), 0);
        EXPECT_EQ(client.Reinitialize(), client_code::NO_MODULE);
        EXPECT_EQ(client.Reinitialize(0), client_code::NO_MODULE);
        EXPECT_EQ(client.SaveReader(0), client_code::NO_MODULE);
        EXPECT_EQ(client.SaveCard(0), client_code::NO_MODULE);
        EXPECT_EQ(client.SaveObjects(0), client_code::NO_MODULE);
        EXPECT_EQ(client.GetState(0), client_code::NO_SESSION);
        EXPECT_EQ(client.Login(0, QStringLiteral("123456"), CKU_USER), client_code::NO_MODULE);
        EXPECT_EQ(client.ChangePin(0, QStringLiteral("654321")), client_code::NO_MODULE);
        EXPECT_EQ(client.InitPin(0, QStringLiteral("654321")), client_code::NO_MODULE);
        EXPECT_EQ(client.UpdatePinTries(0, CKU_USER), client_code::NO_MODULE);
        EXPECT_EQ(client.Logout(slot), client_code::NO_MODULE);
        // records of slots and positions the client does not have are empty
        EXPECT_EQ(client.GetCertsCount(5), 0);
        EXPECT_EQ(client.GetCertSerialLength(-1, 0), 0);
        EXPECT_EQ(client.SCardConnect(7), 0);
        EXPECT_EQ(client.GetReaderStruct(3).atrLen, 0);
        EXPECT_EQ(client.GetPubKeyStruct(0, 200).modulusLen, 0u);
        EXPECT_TRUE(client.GetCertStruct(0, 0).sha1.isEmpty());
    }
    std::vector<std::string> lines = TraceLines(log);
    EXPECT_TRUE(HasLine(lines, "     Pkcs11Manipulator: GetReadersCount() returned: 0x0;"));
    EXPECT_TRUE(HasLine(lines, "     Pkcs11Manipulator: GetCertsCount(5) returned: 0x0;"));
    for (std::string const &line : lines)
        EXPECT_EQ(line.find(">>"), std::string::npos) << "a call without a module: " << line;
    unlink(log.c_str());
}

TEST(Manipulator, TrimsBlankPaddedFields)
{
    struct Row {
        char const *field;
        int width;
        int length;
    } const rows[] = {
        {"eID                             ", 32, 3},
        {"                                ", 32, 0},
        {"0123456789ABCDEF", 16, 16},
        {"reader\t\r\n\0\0\0", 12, 6},
        // UTF-8 text at the end is text, not padding
        {"\xC4\x8Dte\xC4\x8Dka \xC4\x8D   ", 14, 11},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.field);
        EXPECT_EQ(Pkcs11Manipulator::getAttributeLength(row.field, row.width), row.length);
    }
    EXPECT_EQ(Pkcs11Manipulator::sameValues("abc", "abd", 2), 1);
    EXPECT_EQ(Pkcs11Manipulator::sameValues("abc", "abd", 3), 0);
    EXPECT_EQ(Pkcs11Manipulator::sameValues("abc", "xyz", 0), 1);
    EXPECT_EQ(Pkcs11Manipulator::sameValues("abc", "xyz", -4), 1);
}

TEST(Manipulator, RefusesASymbolicLinkAtItsLogPath)
{
    std::string const log = UseOwnTraceLog();
    std::string const target = log + "-target";
    std::ofstream(target) << "someone's file\n";
    ASSERT_EQ(symlink(target.c_str(), log.c_str()), 0);
    {
        Pkcs11Manipulator client;
        client.logToFile(QStringLiteral("CardManager"), QStringLiteral("reload()"), 1000,
                         QString());
        EXPECT_EQ(client.LoadApi(QStringLiteral("/nonexistent/libvokralp11.so")),
                  client_code::NO_MODULE);
    }
    std::ifstream in(target);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "someone's file\n");
    char linked[256] = {};
    EXPECT_GT(readlink(log.c_str(), linked, sizeof(linked) - 1), 0) << "the link was replaced";
    unlink(log.c_str());
    unlink(target.c_str());
}

} // namespace
