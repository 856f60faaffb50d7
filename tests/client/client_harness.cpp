#include "client_harness.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "card.h"
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
    m.makeCard = [](ModuleUnderTest &) { return std::make_unique<vpcd::ScriptedCard>(atr); };
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

namespace
{

// What the identity-card token shows of a card of this state.
void DescribeCard(ModuleUnderTest &m, cardsim::CardState const &state)
{
    m.atr = state.atr;
    m.tokenLabel =
        "vOK RAL v" + std::to_string(state.appletMajor) + "." + std::to_string(state.appletMinor);
    // the upper-case hexadecimal text of the serial's last eight bytes
    m.serial.clear();
    for (size_t i = 8; i < state.serial.size(); ++i)
        for (int shift : {4, 0})
            m.serial += "0123456789ABCDEF"[(state.serial[i] >> shift) & 15];
    for (cardsim::CardPin const &pin : state.pins) {
        uint64_t *info = pin.role == 0x02   ? m.userPinInfo
                         : pin.role == 0x04 ? m.soPinInfo
                                            : nullptr;
        if (info != nullptr)
            info[0] = pin.limit, info[1] = pin.tries, info[2] = 0;
    }
    // per key size the card lists: the containers holding a key of that size
    m.containersUsage.clear();
    for (cardsim::KeySize const &size : state.keySizes) {
        std::set<int> containers;
        for (auto const &key : state.keys)
            if (key.second.bits == size.bits)
                containers.insert(key.first.first);
        uint64_t const used = containers.size();
        m.containersUsage.push_back({size.bits, used, size.count - used});
    }
}

} // namespace

ModuleUnderTest IdentityCardModule(cardsim::Personalisation const &p,
                                   std::vector<std::vector<unsigned char>> *certificates)
{
    struct Personalised {
        cardsim::Personalisation p;
        std::unique_ptr<cardsim::CardState> state;
        std::vector<std::vector<unsigned char>> certificates;
    };
    auto card = std::make_shared<Personalised>();
    card->p = p;
    ModuleUnderTest m;
    m.name = "IdentityCard";
    m.path = VOK_MODULE;
    m.userPin = p.userPin;
    m.soPin = p.puk;
    m.makeCard = [card, certificates](ModuleUnderTest &module) {
        if (card->state == nullptr) {
            card->state = std::make_unique<cardsim::CardState>();
            std::string error;
            EXPECT_TRUE(cardsim::Personalise(card->p, *card->state, &error, &card->certificates))
                << error;
        }
        if (certificates != nullptr)
            *certificates = card->certificates;
        DescribeCard(module, *card->state);
        return std::make_unique<cardsim::Card>(*card->state);
    };
    return m;
}

ModuleUnderTest IdentityCardModule()
{
    cardsim::Personalisation p;
    p.serial = {0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17};
    p.containers.resize(1);
    p.containers[0].name = "personal";
    p.containers[0].keys[0].bits = p.containers[0].keys[1].bits = 2048;
    return IdentityCardModule(p);
}

std::string ModuleName(::testing::TestParamInfo<ModuleUnderTest> const &info)
{
    return info.param.name;
}

void PrintTo(ModuleUnderTest const &module, std::ostream *out)
{
    *out << module.name;
}

void ClientFixture::Start(ModuleUnderTest const &m, bool initialisedBefore)
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
    m_card = module.makeCard(module);
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
