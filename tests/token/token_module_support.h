// The shipped module as applications load it, over the real reader service: a
// simulated vOK card in the first virtual reader, the module's slot of that
// reader, and the PKCS#11 call sequences the tests repeat. The card is served
// through a handler that records the instruction byte of every command it gets.
#pragma once

#include <dlfcn.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <p11-kit/pkcs11.h>
#include <winscard.h>

#include "card.h"
#include "pcsc_helpers.h"
#include "personalise.h"
#include "vpcd_card.h"

namespace token_test
{

using Bytes = std::vector<unsigned char>;

inline Bytes Text(std::string const &s)
{
    return Bytes(s.begin(), s.end());
}

// libvokralp11 and its function list, loaded once and kept for the process.
inline CK_FUNCTION_LIST_PTR Module()
{
    static CK_FUNCTION_LIST_PTR list = [] {
        CK_FUNCTION_LIST_PTR f = nullptr;
        void *handle = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        auto get = handle != nullptr
                       ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"))
                       : nullptr;
        if (get == nullptr || get(&f) != CKR_OK)
            return (CK_FUNCTION_LIST_PTR) nullptr;
        return f;
    }();
    return list;
}

// The simulated card as the reader sees it, with a record of the instructions.
class RecordingCard : public vpcd::CardHandler
{
  public:
    explicit RecordingCard(cardsim::Card &card) : m_card(card) {}
    Bytes Atr() override { return m_card.Atr(); }
    void PowerOn() override { m_card.PowerOn(); }
    void PowerOff() override { m_card.PowerOff(); }
    void Reset() override { m_card.Reset(); }
    void Disconnected() override { m_card.Disconnected(); }
    Bytes Apdu(Bytes const &command) override
    {
        std::function<void(Bytes const &)> hook;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (command.size() > 1)
                m_instructions.push_back(command[1]);
            hook = m_before;
        }
        if (hook)
            hook(command);
        return m_card.Apdu(command);
    }
    // Called with every command before the card sees it (on the reader's thread).
    void Before(std::function<void(Bytes const &)> hook)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_before = std::move(hook);
    }
    // Commands received, and those with this instruction byte.
    size_t Count() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_instructions.size();
    }
    size_t Count(unsigned char instruction) const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        size_t n = 0;
        for (unsigned char i : m_instructions)
            n += i == instruction;
        return n;
    }

  private:
    cardsim::Card &m_card;
    mutable std::mutex m_lock;
    std::vector<unsigned char> m_instructions;
    std::function<void(Bytes const &)> m_before;
};

unsigned char const INS_VERIFY = 0x20;

CK_FLAGS const RO = CKF_SERIAL_SESSION;
CK_FLAGS const RW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

inline std::string UserPin()
{
    return cardsim::Personalisation().userPin;
}
inline std::string Puk()
{
    return cardsim::Personalisation().puk;
}

// A container of the new card with a signature and an exchange key of bits.
inline cardsim::ContainerSpec Container(int bits)
{
    cardsim::ContainerSpec c;
    c.keys[0].bits = bits;
    c.keys[1].bits = bits;
    return c;
}

// The module initialised for each test; Insert puts a card into the reader.
class ModuleOverReader : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        f = Module();
        ASSERT_NE(f, nullptr) << dlerror();
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx),
                  SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitCardState(m_ctx, m_reader, false)); // an earlier card may be leaving
        ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override
    {
        f->C_Finalize(nullptr);
        Remove();
        SCardReleaseContext(m_ctx);
    }

  public:
    // Personalises a new card, puts it into the reader and waits for its token.
    bool Insert(cardsim::Personalisation const &p = {})
    {
        Remove();
        cardsim::CardState state;
        std::string error;
        if (!cardsim::Personalise(p, state, &error, &certificates)) {
            ADD_FAILURE() << error;
            return false;
        }
        card.reset(new cardsim::Card(state));
        reader.reset(new RecordingCard(*card));
        m_link.reset(new vpcd::VirtualCard(*reader, vpcd::PortOfReader(0)));
        return m_link->Insert() && WaitToken(true);
    }
    // Takes the card out and waits until the reader service has seen it go.
    void Remove()
    {
        if (m_link == nullptr)
            return;
        m_link->Remove();
        EXPECT_TRUE(WaitCardState(m_ctx, m_reader, false));
        EXPECT_TRUE(WaitToken(false)); // at once when the module is not initialised
        m_link.reset();
    }

    // Waits until the module has (or no longer has) a token in the reader's slot.
    bool WaitToken(bool present, int timeoutMs = 10000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            CK_SLOT_ID slots[8];
            CK_ULONG count = 8;
            bool found = false;
            if (f->C_GetSlotList(CK_TRUE, slots, &count) == CKR_OK)
                for (CK_ULONG i = 0; i < count; ++i)
                    found = found || IsOurReader(slots[i]);
            if (found == present)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    CK_SESSION_HANDLE Open(CK_FLAGS flags = RW)
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(f->C_OpenSession(slot, flags, nullptr, nullptr, &h), CKR_OK);
        return h;
    }
    CK_RV Login(CK_SESSION_HANDLE h, CK_USER_TYPE user, std::string const &pin)
    {
        return f->C_Login(h, user, (CK_UTF8CHAR_PTR)pin.data(), pin.size());
    }
    CK_RV SetPin(CK_SESSION_HANDLE h, std::string const &oldPin, std::string const &newPin)
    {
        return f->C_SetPIN(h, (CK_UTF8CHAR_PTR)oldPin.data(), oldPin.size(),
                           (CK_UTF8CHAR_PTR)newPin.data(), newPin.size());
    }
    CK_RV InitPin(CK_SESSION_HANDLE h, std::string const &pin)
    {
        return f->C_InitPIN(h, (CK_UTF8CHAR_PTR)pin.data(), pin.size());
    }
    CK_STATE State(CK_SESSION_HANDLE h)
    {
        CK_SESSION_INFO info{};
        EXPECT_EQ(f->C_GetSessionInfo(h, &info), CKR_OK);
        return info.state;
    }
    CK_FLAGS TokenFlags()
    {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(f->C_GetTokenInfo(slot, &info), CKR_OK);
        return info.flags;
    }

    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE h, std::vector<CK_ATTRIBUTE> templ = {})
    {
        std::vector<CK_OBJECT_HANDLE> found;
        if (f->C_FindObjectsInit(h, templ.data(), templ.size()) != CKR_OK)
            return found;
        CK_OBJECT_HANDLE batch[8];
        CK_ULONG n = 0;
        while (f->C_FindObjects(h, batch, 8, &n) == CKR_OK && n != 0)
            found.insert(found.end(), batch, batch + n);
        f->C_FindObjectsFinal(h);
        return found;
    }
    // The private key of container index that signs (else the one that decrypts).
    CK_OBJECT_HANDLE PrivateKey(CK_SESSION_HANDLE h, int index, bool signs = true)
    {
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_BBOOL yes = CK_TRUE;
        char label[32];
        snprintf(label, sizeof(label), "cardsim-container-%02d", index);
        std::vector<CK_ATTRIBUTE> templ = {{CKA_CLASS, &cls, sizeof(cls)},
                                           {signs ? CKA_SIGN : CKA_DECRYPT, &yes, sizeof(yes)},
                                           {CKA_LABEL, label, strlen(label)}};
        std::vector<CK_OBJECT_HANDLE> keys = Find(h, templ);
        return keys.size() == 1 ? keys[0] : CK_INVALID_HANDLE;
    }

    // One signature: the length asked for first, then the signature.
    CK_RV Sign(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes const &data,
               Bytes &signature)
    {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        CK_RV rv = f->C_SignInit(h, &mechanism, key);
        if (rv != CKR_OK)
            return rv;
        CK_ULONG length = 0;
        rv = f->C_Sign(h, (CK_BYTE_PTR)data.data(), data.size(), nullptr, &length);
        if (rv != CKR_OK)
            return rv;
        signature.assign(length, 0);
        rv = f->C_Sign(h, (CK_BYTE_PTR)data.data(), data.size(), signature.data(), &length);
        signature.resize(length);
        return rv;
    }

    // The key pair the card holds in container index (key spec 0 signs).
    Bytes CardKeyDer(int index, int spec) { return card->Snapshot().keys.at({index, spec}).der; }

    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SLOT_ID slot = 0;
    std::unique_ptr<cardsim::Card> card;
    std::unique_ptr<RecordingCard> reader;
    std::vector<Bytes> certificates;

  private:
    bool IsOurReader(CK_SLOT_ID id)
    {
        CK_SLOT_INFO info;
        if (f->C_GetSlotInfo(id, &info) != CKR_OK)
            return false;
        std::string description(reinterpret_cast<char *>(info.slotDescription), 64);
        if (description.compare(0, m_reader.size(), m_reader) != 0)
            return false;
        slot = id;
        return true;
    }

    std::string m_reader = vpcd::NameOfReader(0);
    SCARDCONTEXT m_ctx = 0;
    std::unique_ptr<vpcd::VirtualCard> m_link;
};

} // namespace token_test
