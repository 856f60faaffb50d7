// The identity-card token end to end over the real pcscd, as the tests see it: the
// shipped module loaded as applications load it (VOK_MODULE), a simulated card put
// into the first virtual reader, and the calls a test makes through the module's
// function list.
#pragma once

#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include <winscard.h>

#include "pcsc_helpers.h"
#include "token_sim_support.h"
#include "vpcd_card.h"

namespace token_test
{

std::string const LINK_READER = vpcd::NameOfReader(0);

// The simulated card as the reader sees it, with a test's look at each command
// before the card answers it (on the reader's thread).
class WatchedCard : public vpcd::CardHandler
{
  public:
    using Watch = std::function<void(Bytes const &)>;
    explicit WatchedCard(cardsim::Card &card) : m_card(card) {}

    void Set(Watch watch)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_watch = std::move(watch);
    }

    Bytes Atr() override { return m_card.Atr(); }
    void PowerOn() override { m_card.PowerOn(); }
    void PowerOff() override { m_card.PowerOff(); }
    void Reset() override { m_card.Reset(); }
    void Disconnected() override { m_card.Disconnected(); }
    Bytes Apdu(Bytes const &command) override
    {
        Watch watch;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            watch = m_watch;
        }
        if (watch)
            watch(command);
        return m_card.Apdu(command);
    }

  private:
    cardsim::Card &m_card;
    std::mutex m_lock;
    Watch m_watch;
};

class TokenOverPcscd : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        static CK_FUNCTION_LIST_PTR list = nullptr;
        if (list == nullptr) {
            void *module = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
            ASSERT_NE(module, nullptr) << dlerror();
            auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
            ASSERT_NE(get, nullptr);
            ASSERT_EQ(get(&list), CKR_OK);
        }
        f = list;
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx),
                  SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitCardState(m_ctx, LINK_READER, false)); // an earlier card may be leaving
        ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override
    {
        if (f != nullptr)
            f->C_Finalize(nullptr);
        if (m_link) {
            m_link->Remove();
            WaitCardState(m_ctx, LINK_READER, false);
        }
        SCardReleaseContext(m_ctx);
    }

    // Puts a card personalised so (and shaped by spoil) into the reader.
    void Insert(cardsim::Personalisation const &p,
                std::function<void(cardsim::Card &)> spoil = nullptr)
    {
        m_link.reset(); // no reader thread left on an earlier card
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise(p, state, &error, &certificates)) << error;
        card.reset(new cardsim::Card(state));
        if (spoil)
            spoil(*card);
        m_watched.reset(new WatchedCard(*card));
        m_link.reset(new vpcd::VirtualCard(*m_watched, vpcd::PortOfReader(0)));
        ASSERT_TRUE(m_link->Insert());
    }
    void Remove() { m_link->Remove(); }
    // Shows every command to watch before the card answers it (none: watch none).
    void Watch(WatchedCard::Watch watch) { m_watched->Set(std::move(watch)); }

    // The slot of the first virtual reader.
    CK_SLOT_ID Slot()
    {
        CK_SLOT_ID slots[8];
        CK_ULONG count = 8;
        EXPECT_EQ(f->C_GetSlotList(CK_FALSE, slots, &count), CKR_OK);
        for (CK_ULONG i = 0; i < count; ++i) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(slots[i], &info) == CKR_OK &&
                std::string((char *)info.slotDescription, LINK_READER.size()) == LINK_READER)
                return slots[i];
        }
        ADD_FAILURE() << "no slot for " << LINK_READER;
        return ~0UL;
    }
    // Waits until the slot has a token, or none.
    bool WaitToken(CK_SLOT_ID slot, bool present)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            CK_SLOT_INFO info;
            if (f->C_GetSlotInfo(slot, &info) == CKR_OK &&
                ((info.flags & CKF_TOKEN_PRESENT) != 0) == present)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE s, std::vector<CK_ATTRIBUTE> templ = {})
    {
        EXPECT_EQ(f->C_FindObjectsInit(s, templ.empty() ? nullptr : templ.data(), templ.size()),
                  CKR_OK);
        std::vector<CK_OBJECT_HANDLE> found(64);
        CK_ULONG n = 0;
        EXPECT_EQ(f->C_FindObjects(s, found.data(), found.size(), &n), CKR_OK);
        EXPECT_EQ(f->C_FindObjectsFinal(s), CKR_OK);
        found.resize(n);
        return found;
    }
    Bytes Attribute(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        EXPECT_EQ(f->C_GetAttributeValue(s, o, &a, 1), CKR_OK) << type;
        Bytes value(a.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : a.ulValueLen);
        a.pValue = value.data();
        EXPECT_EQ(f->C_GetAttributeValue(s, o, &a, 1), CKR_OK) << type;
        return value;
    }
    std::string Text(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type)
    {
        Bytes b = Attribute(s, o, type);
        return std::string(b.begin(), b.end());
    }
    CK_ULONG Class(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE o)
    {
        Bytes b = Attribute(s, o, CKA_CLASS);
        CK_ULONG c = ~0UL;
        if (b.size() == sizeof(c))
            std::memcpy(&c, b.data(), sizeof(c));
        return c;
    }
    // What a session finds: (class, label, CKA_ID or a data object's value) of
    // every object.
    std::multiset<std::tuple<CK_ULONG, std::string, Bytes>> Contents(CK_SESSION_HANDLE s)
    {
        std::multiset<std::tuple<CK_ULONG, std::string, Bytes>> out;
        for (CK_OBJECT_HANDLE o : Find(s)) {
            CK_ULONG cls = Class(s, o);
            out.emplace(cls, Text(s, o, CKA_LABEL),
                        Attribute(s, o, cls == CKO_DATA ? CKA_VALUE : CKA_ID));
        }
        return out;
    }

    CK_FUNCTION_LIST_PTR f = nullptr;
    std::vector<Bytes> certificates;
    std::unique_ptr<cardsim::Card> card;

  private:
    SCARDCONTEXT m_ctx = 0;
    std::unique_ptr<WatchedCard> m_watched;
    std::unique_ptr<vpcd::VirtualCard> m_link;
};

} // namespace token_test
