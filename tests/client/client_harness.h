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

#include "card.h"
#include "personalise.h"
#include "vpcd_card.h"

namespace client_test
{

struct ModuleUnderTest {
    std::string name; // a test-name suffix
    std::string path;
    std::function<std::unique_ptr<vpcd::CardHandler>()> makeCard;
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
// The shipped module with its identity-card token, on a simulated card
// personalised with no key container.
ModuleUnderTest IdentityCardModule();

// A simulated identity card personalised so; certificates, when given,
// receives its certificates' DER by container, signature key first.
// A key container of such a card: its name and the sizes of its signature and
// exchange keys (0: none), each key with its certificate.
cardsim::ContainerSpec KeyContainer(std::string const &name, int signatureBits, int exchangeBits);
std::unique_ptr<cardsim::Card> IdentityCard(cardsim::Personalisation const &p,
                                            std::vector<std::vector<unsigned char>> *certificates =
                                                nullptr);

class ClientFixture : public ::testing::Test
{
  protected:
    // Puts the card in (the module's own, or the one given), loads the module
    // through the client (after one initialise-finalise round of the module
    // when asked, which moves the slot IDs away from the positions) and finds
    // the card's slot.
    void Start(ModuleUnderTest const &module, bool initialisedBefore = false,
               std::unique_ptr<vpcd::CardHandler> card = nullptr);
    void TearDown() override;

    // A read-write session of the test's own on the card's slot.
    CK_SESSION_HANDLE OwnSession();
    // Creates a token object through the test's session; its handle.
    CK_OBJECT_HANDLE Create(std::vector<CK_ATTRIBUTE> templ);
    void DestroyAll(std::vector<CK_OBJECT_HANDLE> const &objects);
    // The number of slots of the module, and the IDs in list order.
    std::vector<CK_SLOT_ID> SlotIds();
    std::vector<std::string> Log(bool withTime = false);

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
