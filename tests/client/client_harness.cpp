#include "client_harness.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "client_trace.h"
#include "fake_token_profile.h"
#include "pcsc_helpers.h"

namespace client_test
{

ModuleUnderTest FakeTokenModule()
{
    using namespace vok_test;
    static std::vector<unsigned char> const atr = {0x3B, 0x80, 0x80, 0x01, 0x01};
    ModuleUnderTest m;
    m.name = "FakeToken";
    m.path = VOK_TEST_MODULE;
    m.makeCard = [] { return std::make_unique<vpcd::ScriptedCard>(atr); };
    m.atr = atr;
    m.tokenLabel = std::string(FAKE_LABEL) + " v0.0";
    m.serial = FAKE_SERIAL;
    m.userPin = FAKE_USER_PIN;
    m.soPin = FAKE_SO_PIN;
    uint64_t const user[3] = {FAKE_USER_PIN_TRIES, FAKE_USER_PIN_TRIES, 0};
    uint64_t const so[3] = {FAKE_SO_PIN_TRIES, FAKE_SO_PIN_TRIES, 0};
    std::copy(user, user + 3, m.userPinInfo);
    std::copy(so, so + 3, m.soPinInfo);
    for (auto const &entry : FAKE_CONTAINERS_USAGE)
        m.containersUsage.push_back({entry[0], entry[1], entry[2]});
    return m;
}

ModuleUnderTest IdentityCardModule()
{
    ModuleUnderTest m;
    m.name = "IdentityCard";
    m.path = VOK_MODULE;
    m.makeCard = [] { return IdentityCard(cardsim::Personalisation{}); };
    m.atr = cardsim::DefaultAtr();
    m.tokenLabel = "vOK RAL v1.2";
    m.serial = "1122334455667788";
    m.userPin = "123456";
    m.soPin = "12345678";
    uint64_t const user[3] = {3, 3, 0}, so[3] = {5, 5, 0};
    std::copy(user, user + 3, m.userPinInfo);
    std::copy(so, so + 3, m.soPinInfo);
    m.containersUsage = {{1024, 0, 8}, {2048, 0, 8}};
    return m;
}

cardsim::ContainerSpec KeyContainer(std::string const &name, int signatureBits, int exchangeBits)
{
    cardsim::ContainerSpec c;
    c.name = name;
    c.keys[0].bits = signatureBits;
    c.keys[1].bits = exchangeBits;
    return c;
}

std::unique_ptr<cardsim::Card> IdentityCard(cardsim::Personalisation const &p,
                                            std::vector<std::vector<unsigned char>> *certificates)
{
    cardsim::CardState state;
    std::string error;
    EXPECT_TRUE(cardsim::Personalise(p, state, &error, certificates)) << error;
    return std::make_unique<cardsim::Card>(state);
}

std::string ModuleName(::testing::TestParamInfo<ModuleUnderTest> const &info)
{
    return info.param.name;
}

void PrintTo(ModuleUnderTest const &module, std::ostream *out)
{
    *out << module.name;
}

void ClientFixture::Start(ModuleUnderTest const &m, bool initialisedBefore,
                          std::unique_ptr<vpcd::CardHandler> card)
{
    module = m;
    logPath = UseOwnTraceLog();
    // Kept mapped after the client unloads it: the module keeps a little
    // process-wide memory that only unloading would leave behind.
    m_handle = dlopen(m.path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(m_handle, nullptr) << dlerror();
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_handle, "C_GetFunctionList"));
    ASSERT_NE(get, nullptr);
    ASSERT_EQ(get(&f), CKR_OK);

    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_context),
              SCARD_S_SUCCESS);
    ASSERT_TRUE(WaitReadersEmpty(m_context)); // a card of an earlier test may be leaving
    m_card = card != nullptr ? std::move(card) : m.makeCard();
    m_virtualCard = std::make_unique<vpcd::VirtualCard>(*m_card, vpcd::PortOfReader(0));
    ASSERT_TRUE(m_virtualCard->Insert());
    ASSERT_TRUE(WaitCardState(m_context, vpcd::NameOfReader(0), true));

    if (initialisedBefore) {
        ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
        ASSERT_EQ(f->C_Finalize(nullptr), CKR_OK);
    }
    client = std::make_unique<Pkcs11Manipulator>();
    ASSERT_EQ(client->LoadApi(QString::fromStdString(m.path)), CKR_OK);

    std::vector<CK_SLOT_ID> ids = SlotIds();
    std::string const reader = vpcd::NameOfReader(0);
    for (size_t i = 0; i < ids.size(); ++i) {
        CK_SLOT_INFO info{};
        ASSERT_EQ(f->C_GetSlotInfo(ids[i], &info), CKR_OK);
        std::string description(reinterpret_cast<char *>(info.slotDescription), reader.size());
        (description == reader ? slot : emptySlot) = static_cast<int>(i);
    }
    ASSERT_GE(slot, 0) << "no slot for " << reader;
    slotId = ids[slot];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    CK_SLOT_INFO info{};
    while ((f->C_GetSlotInfo(slotId, &info) != CKR_OK || !(info.flags & CKF_TOKEN_PRESENT)) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(info.flags & CKF_TOKEN_PRESENT) << "the module shows no token for the card";
    ASSERT_EQ(client->GetReadersCount(), static_cast<int>(ids.size()));
}

void ClientFixture::TearDown()
{
    client.reset();
    if (m_virtualCard != nullptr) {
        m_virtualCard->Remove();
        EXPECT_TRUE(WaitCardState(m_context, vpcd::NameOfReader(0), false));
    }
    if (m_context != 0)
        SCardReleaseContext(m_context);
    if (m_handle != nullptr)
        dlclose(m_handle);
    if (!logPath.empty())
        unlink(logPath.c_str());
}

CK_SESSION_HANDLE ClientFixture::OwnSession()
{
    if (m_session == CK_INVALID_HANDLE) {
        EXPECT_EQ(f->C_OpenSession(slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                   &m_session),
                  CKR_OK);
    }
    return m_session;
}

CK_OBJECT_HANDLE ClientFixture::Create(std::vector<CK_ATTRIBUTE> templ)
{
    CK_OBJECT_HANDLE object = CK_INVALID_HANDLE;
    EXPECT_EQ(f->C_CreateObject(OwnSession(), templ.data(), templ.size(), &object), CKR_OK);
    return object;
}

void ClientFixture::DestroyAll(std::vector<CK_OBJECT_HANDLE> const &objects)
{
    for (CK_OBJECT_HANDLE object : objects)
        EXPECT_EQ(f->C_DestroyObject(OwnSession(), object), CKR_OK);
}

std::vector<CK_SLOT_ID> ClientFixture::SlotIds()
{
    CK_ULONG count = 0;
    EXPECT_EQ(f->C_GetSlotList(CK_FALSE, nullptr, &count), CKR_OK);
    std::vector<CK_SLOT_ID> ids(count);
    EXPECT_EQ(f->C_GetSlotList(CK_FALSE, ids.data(), &count), CKR_OK);
    ids.resize(count);
    return ids;
}

std::vector<std::string> ClientFixture::Log(bool withTime)
{
    return TraceLines(logPath, withTime);
}

} // namespace client_test
