// The C_* frame in process, over a scripted reader service: session handles
// resolved to the token of their slot, the codes the frame produces, its log lines,
// and the load hook's reading of the configuration.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <set>
#include <string>

#include <p11-kit/pkcs11.h>

#include "../channel/fake_pcsc.h"
#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "core/module_entry.h"
#include "core/module_globals.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"
#include "core/token_kinds.h"
#include "core_test_util.h"

using core_test::readFile;

namespace
{

// Records the handle each session call reached it with.
struct RecordingToken : CP11Token {
    explicit RecordingToken(CP11Slot *slot) : CP11Token(slot) {}
    bool IsKnown() override { return true; }
    void GetSessionInfo(unsigned long session, CK_SESSION_INFO *info) override
    {
        lastHandle = session;
        info->slotID = GetSlot()->FindLongAttribute(SLOT_A_ID);
    }
    void Logout(unsigned long) override { throw std::bad_alloc(); }
    void Login(unsigned long, unsigned long, unsigned char *, unsigned long) override
    {
        throw CP11Exception(0x8000ABCDUL); // a code without a name
    }
    static unsigned long lastHandle;
};
unsigned long RecordingToken::lastHandle = 0;

CP11Token *makeRecordingToken(CP11Slot *slot)
{
    return new RecordingToken(slot);
}

} // namespace

void vokRegisterTokenKinds(CP11Manager &manager)
{
    manager.AddTokenKind(makeRecordingToken);
}

namespace
{

class FrameTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        m_gManager.SetPCSCFunctions(FakePcsc::Functions());
    }
    void TearDown() override { C_Finalize(nullptr); }
};

TEST_F(FrameTest, SessionHandlesResolveThroughTheirSlotBits)
{
    CK_SESSION_INFO info;
    EXPECT_EQ(C_GetSessionInfo(0x00050003, &info), CKR_CRYPTOKI_NOT_INITIALIZED);

    // readers 0 to 6 give slots 0 to 6; cards in 0 and 5; reader 2 detached
    FakePcsc::Get().SetReaders({"R0", "R1", "R2", "R3", "R4", "R5", "R6"});
    FakePcsc::Get().Insert("R0");
    FakePcsc::Get().Insert("R5");
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    FakePcsc::Get().SetReaders({"R0", "R1", "R3", "R4", "R5", "R6"});
    // the two cards and the detached reader, in whatever order they are reported
    CK_SLOT_ID slot;
    std::set<CK_SLOT_ID> changed;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(C_WaitForSlotEvent(0, &slot, nullptr), CKR_OK);
        changed.insert(slot);
    }
    ASSERT_EQ(changed, (std::set<CK_SLOT_ID>{0, 2, 5}));

    struct Case {
        CK_SESSION_HANDLE handle;
        CK_RV expected;
        CK_SLOT_ID slot; // of the token reached
    } const cases[] = {
        {0x00050003UL, CKR_OK, 5},
        {0x00000002UL, CKR_OK, 0}, // below 0x10000: slot 0
        {0x0000FFFFUL, CKR_OK, 0},
        {0x100050001UL, CKR_OK, 5},                    // bits above 31 are ignored
        {0x00070001UL, CKR_SESSION_HANDLE_INVALID, 0}, // no slot 7
        {0x00020001UL, CKR_SESSION_HANDLE_INVALID, 0}, // reader detached
        {0x00010001UL, CKR_TOKEN_NOT_PRESENT, 0},      // no card
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.handle);
        RecordingToken::lastHandle = 0;
        info.slotID = 99;
        EXPECT_EQ(C_GetSessionInfo(c.handle, &info), c.expected);
        if (c.expected == CKR_OK) {
            EXPECT_EQ(info.slotID, c.slot);
            EXPECT_EQ(RecordingToken::lastHandle, c.handle); // passed on unchanged
        }
    }

    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    EXPECT_EQ(C_GetSlotInfo(7, &slotInfo), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(C_GetTokenInfo(7, &tokenInfo), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(C_GetSlotInfo(2, &slotInfo), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(C_GetTokenInfo(1, &tokenInfo), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(C_GetSlotInfo(1, &slotInfo), CKR_OK);

    // what the token throws becomes the return value
    EXPECT_EQ(C_Logout(0x00050001), CKR_GENERAL_ERROR); // not a CP11Exception
    EXPECT_EQ(C_Login(0x00050001, CKU_USER, nullptr, 0), 0x8000ABCDUL);
    EXPECT_EQ(C_WrapKey(0x00050001, nullptr, 0, 0, nullptr, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(C_GetFunctionStatus(0x00050001), CKR_FUNCTION_NOT_PARALLEL);
    EXPECT_EQ(C_CancelFunction(0x00070001), CKR_FUNCTION_NOT_PARALLEL);

    // a removed card: the session calls find no token
    FakePcsc::Get().Remove("R5");
    ASSERT_EQ(C_WaitForSlotEvent(0, &slot, nullptr), CKR_OK);
    EXPECT_EQ(slot, 5u);
    EXPECT_EQ(C_GetSessionInfo(0x00050003, &info), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(FrameTest, LogLinesOfTheFrame)
{
    char dir[] = "/tmp/vok_frame_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/frame.log";
    hl_openlog(("(0x3F,0,-1)file:" + path).c_str());
    EXPECT_EQ(C_GetFunctionList(nullptr), CKR_ARGUMENTS_BAD);
    CK_ULONG count = 0;
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(C_GetSlotList(2, nullptr, &count), CKR_OK);
    EXPECT_EQ(C_Login(0x00070001, CKU_USER, nullptr, 0), CKR_SESSION_HANDLE_INVALID);
    closelog();
    std::string log = readFile(path);
    for (char const *line : {
             "C_GetFunctionList(",
             "C_GetFunctionList( 0x00000007 ) [ CKR_ARGUMENTS_BAD ]\n",
             "C_GetSlotList(CK_TRUE,",
             "C_GetSlotList( 0x00000000 ) [ CKR_OK ]\n",
             "C_Login(0x00070001,0x00000001,",
             "C_Login( 0x000000B3 ) [ CKR_SESSION_HANDLE_INVALID ]\n",
         }) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(ConfigurationTest, LogTargetFromTheTopLevelKey)
{
    char dir[] = "/tmp/vok_cfg_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string cfg = std::string(dir) + "/vokral.cfg";
    struct passwd *user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    std::string name = ".vok_readcfg_" + std::to_string(getpid()) + ".log";
    std::string inHome = std::string(user->pw_dir) + "/" + name;

    struct Case {
        char const *what;
        std::string text;
        std::string created; // the file the log must go to, or empty
    } const cases[] = {
        {"top-level key", "log = file:" + std::string(dir) + "/a.log\n",
         std::string(dir) + "/a.log"},
        {"key inside a section", "[module]\nlog = file:" + std::string(dir) + "/b.log\n", ""},
        {"tilde after the colon", "log = (0x3F,0,-1)file:~/" + name + "\n", inHome},
        {"malformed file", "log\n", ""},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(cfg) << c.text;
        my_readcfg(cfg.c_str());
        hl_log(HL_INFO, "line\n");
        closelog();
        if (!c.created.empty()) {
            EXPECT_NE(readFile(c.created).find("line"), std::string::npos);
            std::remove(c.created.c_str());
        }
    }
    EXPECT_NE(access((std::string(dir) + "/b.log").c_str(), F_OK), 0);
    my_readcfg(nullptr); // nothing happens
    my_readcfg((std::string(dir) + "/none").c_str());
    std::remove(cfg.c_str());
    rmdir(dir);
}

} // namespace
