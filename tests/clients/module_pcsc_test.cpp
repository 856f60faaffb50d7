// The module as an application loads it, against the real pcscd with the virtual
// readers: the exports and the function list, load and unload, exit without
// finalising, fork, slot events, and many threads while a card comes and goes.
#include <dlfcn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "pcsc_helpers.h"
#include "vpcd_card.h"

namespace
{

using namespace std::chrono_literals;

char const *const kFunctionNames[] = {
    "C_Initialize",
    "C_Finalize",
    "C_GetInfo",
    "C_GetFunctionList",
    "C_GetSlotList",
    "C_GetSlotInfo",
    "C_GetTokenInfo",
    "C_GetMechanismList",
    "C_GetMechanismInfo",
    "C_InitToken",
    "C_InitPIN",
    "C_SetPIN",
    "C_OpenSession",
    "C_CloseSession",
    "C_CloseAllSessions",
    "C_GetSessionInfo",
    "C_GetOperationState",
    "C_SetOperationState",
    "C_Login",
    "C_Logout",
    "C_CreateObject",
    "C_CopyObject",
    "C_DestroyObject",
    "C_GetObjectSize",
    "C_GetAttributeValue",
    "C_SetAttributeValue",
    "C_FindObjectsInit",
    "C_FindObjects",
    "C_FindObjectsFinal",
    "C_EncryptInit",
    "C_Encrypt",
    "C_EncryptUpdate",
    "C_EncryptFinal",
    "C_DecryptInit",
    "C_Decrypt",
    "C_DecryptUpdate",
    "C_DecryptFinal",
    "C_DigestInit",
    "C_Digest",
    "C_DigestUpdate",
    "C_DigestKey",
    "C_DigestFinal",
    "C_SignInit",
    "C_Sign",
    "C_SignUpdate",
    "C_SignFinal",
    "C_SignRecoverInit",
    "C_SignRecover",
    "C_VerifyInit",
    "C_Verify",
    "C_VerifyUpdate",
    "C_VerifyFinal",
    "C_VerifyRecoverInit",
    "C_VerifyRecover",
    "C_DigestEncryptUpdate",
    "C_DecryptDigestUpdate",
    "C_SignEncryptUpdate",
    "C_DecryptVerifyUpdate",
    "C_GenerateKey",
    "C_GenerateKeyPair",
    "C_WrapKey",
    "C_UnwrapKey",
    "C_DeriveKey",
    "C_SeedRandom",
    "C_GenerateRandom",
    "C_GetFunctionStatus",
    "C_CancelFunction",
    "C_WaitForSlotEvent",
};
static_assert(sizeof(kFunctionNames) / sizeof(kFunctionNames[0]) == 68, "68 functions");

std::string run(std::string const &command, int *status)
{
    std::string out;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    *status = pclose(pipe);
    return out;
}

class ModuleTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Slot events and tokens are counted from empty readers.
        SCARDCONTEXT ctx = 0;
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx),
                  SCARD_S_SUCCESS);
        bool empty = WaitReadersEmpty(ctx);
        SCardReleaseContext(ctx);
        ASSERT_TRUE(empty) << "a card of an earlier test is still in a reader";
        // kept mapped: unloading is the business of the probe's own processes
        handle = dlopen(VOK_TEST_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(handle, nullptr) << dlerror();
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
        ASSERT_NE(get, nullptr);
        ASSERT_EQ(get(&f), CKR_OK);
    }
    void TearDown() override
    {
        if (handle != nullptr)
            dlclose(handle);
    }

    // The slot of the virtual reader with this index.
    CK_SLOT_ID slotOf(int reader)
    {
        std::string name = vpcd::NameOfReader(reader);
        CK_ULONG count = 8;
        CK_SLOT_ID slots[8];
        EXPECT_EQ(f->C_GetSlotList(CK_FALSE, slots, &count), CKR_OK);
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(slots[i], &info) != CKR_OK)
                continue;
            std::string description(reinterpret_cast<char *>(info.slotDescription), 64);
            if (description.compare(0, name.size(), name) == 0)
                return slots[i];
        }
        ADD_FAILURE() << "no slot for " << name;
        return 99;
    }

    void *handle = nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
};

TEST_F(ModuleTest, ExportsOnlyTheFunctionsAndTheModuleObjects)
{
    for (char const *module : {VOK_MODULE, VOK_TEST_MODULE}) {
        SCOPED_TRACE(module);
        int status = 0;
        std::string out = run(std::string("nm -D --defined-only ") + module, &status);
        ASSERT_EQ(status, 0) << out;
        std::set<std::string> exported;
        char const *p = out.c_str();
        while (*p) {
            char const *end = std::strchr(p, '\n');
            std::string line(p, end ? end : p + std::strlen(p));
            size_t blank = line.rfind(' ');
            if (blank != std::string::npos)
                exported.insert(line.substr(blank + 1));
            p = end ? end + 1 : p + std::strlen(p);
        }
        std::set<std::string> expected(std::begin(kFunctionNames), std::end(kFunctionNames));
        expected.insert({"m_gForceFinal", "m_gMtx", "m_gManager"});
        EXPECT_EQ(exported, expected);
    }
}

TEST_F(ModuleTest, FunctionListBeforeInitialize)
{
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
    EXPECT_EQ(get(nullptr), CKR_ARGUMENTS_BAD);
    CK_FUNCTION_LIST_PTR again = nullptr;
    ASSERT_EQ(get(&again), CKR_OK);
    EXPECT_EQ(again, f);
    EXPECT_EQ(f->version.major, 2);
    EXPECT_EQ(f->version.minor, 20);

    // the entries in the standard's order, each the export of that name
    void *const *entries = reinterpret_cast<void *const *>(&f->C_Initialize);
    for (int i = 0; i < 68; ++i) {
        SCOPED_TRACE(kFunctionNames[i]);
        Dl_info where;
        ASSERT_NE(dladdr(entries[i], &where), 0);
        EXPECT_STREQ(where.dli_sname, kFunctionNames[i]);
        EXPECT_EQ(std::string(where.dli_fname).find("libvokralp11_test.so") != std::string::npos,
                  true);
    }
    EXPECT_EQ(sizeof(CK_FUNCTION_LIST),
              offsetof(CK_FUNCTION_LIST, C_Initialize) + 68 * sizeof(void *));

    EXPECT_EQ(f->C_GetFunctionStatus(0x12345), CKR_FUNCTION_NOT_PARALLEL);
    EXPECT_EQ(f->C_CancelFunction(0), CKR_FUNCTION_NOT_PARALLEL);
    CK_INFO info;
    EXPECT_EQ(f->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_SLOT_ID slot;
    EXPECT_EQ(f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(f->C_CloseSession(0x10001), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(ModuleTest, ProcessesOfTheirOwn)
{
    struct Case {
        char const *what;
        char const *module;
        char const *args;
    } const cases[] = {
        {"exit without C_Finalize", VOK_MODULE, "exit"},
        {"exit without C_Finalize, test module", VOK_TEST_MODULE, "exit"},
        {"a hundred loads and unloads", VOK_MODULE, "cycles"},
        {"a forked child initialises", VOK_TEST_MODULE, "fork"},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.what);
        std::string command = std::string(VOK_MODULE_PROBE) + " " + c.args + " " + c.module;
        if (std::strcmp(c.args, "cycles") == 0)
            command += " 100"; // a leak per unload would show a hundred times
        int status = 0;
        std::string out = run(command, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << out;
        // a sanitizer report would show here even with a zero status
        EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << out;
        EXPECT_EQ(out.find("runtime error"), std::string::npos) << out;
    }
}

TEST_F(ModuleTest, WaitForSlotEventSeesTheCardComeAndGo)
{
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    CK_SLOT_ID reader0 = slotOf(0);
    CK_SLOT_ID slot;
    while (f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) {
    }
    vpcd::ScriptedCard card;
    vpcd::VirtualCard virtualCard(card, vpcd::PortOfReader(0));
    for (int round = 0; round < 2; ++round) {
        auto waiter = std::async(std::launch::async, [&] {
            CK_SLOT_ID reported = 99;
            CK_RV rv = f->C_WaitForSlotEvent(0, &reported, nullptr);
            return std::make_pair(rv, reported);
        });
        if (round == 0)
            ASSERT_TRUE(virtualCard.Insert());
        else
            virtualCard.Remove();
        ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
        auto result = waiter.get();
        EXPECT_EQ(result.first, CKR_OK);
        EXPECT_EQ(result.second, reader0);
        CK_SLOT_INFO info;
        ASSERT_EQ(f->C_GetSlotInfo(reader0, &info), CKR_OK);
        EXPECT_EQ((info.flags & CKF_TOKEN_PRESENT) != 0, round == 0);
    }
    EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK);
}

TEST_F(ModuleTest, FinalizeOnAnotherThreadReleasesBlockedWaiters)
{
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    CK_SLOT_ID slot;
    while (f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK) {
    }
    auto wait = [&] {
        CK_SLOT_ID reported;
        return f->C_WaitForSlotEvent(0, &reported, nullptr);
    };
    auto a = std::async(std::launch::async, wait);
    auto b = std::async(std::launch::async, wait);
    std::this_thread::sleep_for(100ms);
    auto started = std::chrono::steady_clock::now();
    std::async(std::launch::async, [&] { EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK); }).wait();
    ASSERT_EQ(a.wait_for(1s), std::future_status::ready);
    ASSERT_EQ(b.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(a.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(b.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(ModuleTest, SixteenThreadsWhileTheCardComesAndGoes)
{
    ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    CK_SLOT_ID reader0 = slotOf(0);
    vpcd::ScriptedCard card;
    vpcd::VirtualCard virtualCard(card, vpcd::PortOfReader(0));

    std::atomic<bool> stop{false};
    std::mutex lock;
    std::set<CK_RV> unexpected;
    std::atomic<int> sessionsOpened{0};
    std::atomic<int> tokensSeen{0};
    auto note = [&](CK_RV rv, std::initializer_list<CK_RV> allowed) {
        for (CK_RV a : allowed)
            if (rv == a)
                return;
        std::lock_guard<std::mutex> guard(lock);
        unexpected.insert(rv);
    };
    CK_RV const gone[] = {CKR_OK, CKR_TOKEN_NOT_PRESENT, CKR_SESSION_HANDLE_INVALID,
                          CKR_DEVICE_REMOVED, CKR_SESSION_CLOSED};
    auto worker = [&](int index) {
        while (!stop) {
            CK_SLOT_ID slots[4];
            CK_ULONG count = 4;
            note(f->C_GetSlotList(index % 2 ? CK_TRUE : CK_FALSE, slots, &count), {CKR_OK});
            CK_SLOT_INFO slotInfo;
            note(f->C_GetSlotInfo(reader0, &slotInfo), {CKR_OK});
            CK_TOKEN_INFO tokenInfo;
            CK_RV tokenRv = f->C_GetTokenInfo(reader0, &tokenInfo);
            note(tokenRv, {CKR_OK, CKR_TOKEN_NOT_PRESENT});
            tokensSeen += tokenRv == CKR_OK;
            CK_SESSION_HANDLE session = 0;
            CK_RV rv = f->C_OpenSession(reader0, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
            note(rv, {CKR_OK, CKR_TOKEN_NOT_PRESENT, CKR_DEVICE_REMOVED});
            if (rv == CKR_OK) {
                ++sessionsOpened;
                CK_SESSION_INFO info;
                rv = f->C_GetSessionInfo(session, &info);
                note(rv, {gone[0], gone[1], gone[2], gone[3], gone[4]});
                CK_BYTE data[] = "abc";
                CK_BYTE digest[32];
                CK_ULONG digestLength = sizeof(digest);
                CK_MECHANISM sha256 = {CKM_SHA256, nullptr, 0};
                rv = f->C_DigestInit(session, &sha256);
                note(rv, {gone[0], gone[1], gone[2], gone[3], gone[4]});
                if (rv == CKR_OK) {
                    rv = f->C_Digest(session, data, 3, digest, &digestLength);
                    note(rv, {gone[0], gone[1], gone[2], gone[3], gone[4]});
                }
                note(f->C_CloseSession(session), {gone[0], gone[1], gone[2], gone[3], gone[4]});
            }
            if (index == 0) {
                CK_SLOT_ID changed;
                note(f->C_WaitForSlotEvent(CKF_DONT_BLOCK, &changed, nullptr),
                     {CKR_OK, CKR_NO_EVENT});
            }
        }
    };
    std::vector<std::future<void>> workers;
    for (int i = 0; i < 16; ++i)
        workers.push_back(std::async(std::launch::async, worker, i));
    // Waits until the token is there (or gone) as the callers see it.
    auto tokenPresent = [&](bool present) {
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(reader0, &info) == CKR_OK &&
                ((info.flags & CKF_TOKEN_PRESENT) != 0) == present)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(virtualCard.Insert());
        EXPECT_TRUE(tokenPresent(true));
        std::this_thread::sleep_for(200ms);
        virtualCard.Remove();
        EXPECT_TRUE(tokenPresent(false));
    }
    stop = true;
    for (auto &w : workers)
        ASSERT_EQ(w.wait_for(20s), std::future_status::ready) << "a worker hangs";
    EXPECT_TRUE(unexpected.empty())
        << "first unexpected code 0x" << std::hex << (unexpected.empty() ? 0 : *unexpected.begin());
    EXPECT_GT(tokensSeen, 0);
    EXPECT_GT(sessionsOpened, 0);
    EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK);
}

} // namespace
