// The end-to-end harness of the PKCS#11 client: a card in the first virtual
// reader of the real pcscd, the module loaded by the client under test and,
// beside it, by the test itself (the same instance: to look at what the client
// did and to put objects on the token), and a trace log of the test's own.
//
// What the tests expect of a module and its card is one ModuleUnderTest; the
// tests that hold for any module run once per entry of the suites' lists.
#pragma once

#include "client/pkcs11_manipulator.h"

#include <gtest/gtest.h>
#include <winscard.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "personalise.h"
#include "vpcd_card.h"

namespace client_test
{

struct ModuleUnderTest {
    std::string name; // a test-name suffix
    std::string path;
    // Makes a fresh card for a test; may fill in the fields below from it.
    std::function<std::unique_ptr<vpcd::CardHandler>(ModuleUnderTest &)> makeCard;
    // what the token shows of the card
    std::vector<unsigned char> atr;
    std::string tokenLabel; // as the reader record gives it: label, " v", digits
    std::string serial;
    std::string userPin;
    std::string soPin;
    uint64_t userPinInfo[3]; // limit, tries left, status of a card at rest
    uint64_t soPinInfo[3];
    std::vector<std::vector<uint64_t>> containersUsage; // bits, used, free
};

// The test build of the module with its fake token, which takes any card
// that is not an identity card: here a scripted card that answers nothing.
ModuleUnderTest FakeTokenModule();

// The shipped module with a simulated identity card personalised so: once,
// when the first card is made (keys take long to make; listing the tests
// makes none), each test then getting a fresh card of that state. What the
// token shows is read from the card's state; the card's certificates (DER, by
// container, signature before exchange) go to *certificates when asked.
ModuleUnderTest IdentityCardModule(cardsim::Personalisation const &p,
                                   std::vector<std::vector<unsigned char>> *certificates = nullptr);
// The card of the tests for any module: one container of two 2048-bit keys
// and a serial with letters in its text.
ModuleUnderTest IdentityCardModule();

class ClientFixture : public ::testing::Test
{
  protected:
    // Puts the card in, loads the module through the client (after one
    // initialise-finalise round of the module when asked, which moves the
    // slot IDs away from the positions) and finds the card's slot.
    void Start(ModuleUnderTest const &module, bool initialisedBefore = false);
    void TearDown() override;

    // A read-write session of the test's own on the card's slot.
    CK_SESSION_HANDLE OwnSession();
    // Creates a token object through the test's session; its handle.
    CK_OBJECT_HANDLE Create(std::vector<CK_ATTRIBUTE> templ);
    void DestroyAll(std::vector<CK_OBJECT_HANDLE> const &objects);
    // The number of slots of the module, and the IDs in list order.
    std::vector<CK_SLOT_ID> SlotIds();
    std::vector<std::string> Log(bool withTime = false);
    // The card in the reader.
    vpcd::CardHandler &Card() { return *m_card; }

    ModuleUnderTest module;
    std::unique_ptr<Pkcs11Manipulator> client;
    CK_FUNCTION_LIST_PTR f = nullptr;
    int slot = -1;         // the card's slot index
    CK_SLOT_ID slotId = 0; // and its ID
    int emptySlot = -1;    // the other reader's
    std::string logPath;

  private:
    void *m_handle = nullptr;
    SCARDCONTEXT m_context = 0;
    std::unique_ptr<vpcd::CardHandler> m_card;
    std::unique_ptr<vpcd::VirtualCard> m_virtualCard;
    CK_SESSION_HANDLE m_session = CK_INVALID_HANDLE;
};

// Tests that hold for any module: started on the module of the parameter.
class ClientOnEachModule : public ClientFixture,
                           public ::testing::WithParamInterface<ModuleUnderTest>
{
  protected:
    void SetUp() override { Start(GetParam()); }
};

std::string ModuleName(::testing::TestParamInfo<ModuleUnderTest> const &info);
void PrintTo(ModuleUnderTest const &module, std::ostream *out);

} // namespace client_test
