// The fake token on the slot of the virtual reader holding the scripted test
// card: it connects to the card when initialised and leaves it in place when
// finalised, through the slot's PC/SC channel.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <winscard.h>

#include "channel/channel_manager.h"
#include "channel/channel_pcsc.h"
#include "channel/pcsc_functions.h"
#include "fake_token_fixture.h"
#include "pcsc_helpers.h"
#include "vpcd_card.h"

using namespace core_test;

namespace
{

// The reader service's own calls, with every disconnection's disposition noted.
std::vector<DWORD> dispositions;
LONG noteDisconnect(SCARDHANDLE card, DWORD disposition)
{
    dispositions.push_back(disposition);
    return CPCSCFunctions::System().Disconnect(card, disposition);
}
CPCSCFunctions const &noting()
{
    static CPCSCFunctions const functions = [] {
        CPCSCFunctions f = CPCSCFunctions::System();
        f.Disconnect = noteDisconnect;
        return f;
    }();
    return functions;
}

struct FakeTokenOnReader : ::testing::Test {
    std::string reader = vpcd::NameOfReader(0);
    SCARDCONTEXT ctx = 0;
    SCARDHANDLE held = 0;
    vpcd::ScriptedCard card;
    vpcd::VirtualCard inserted{card, vpcd::PortOfReader(0)};
    CChannelManager manager;
    std::unique_ptr<CChannelPCSC> channel;

    void SetUp() override
    {
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx),
                  SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitReadersEmpty(ctx));
        ASSERT_TRUE(inserted.Insert());
        ASSERT_TRUE(WaitCardState(ctx, reader, true));
        // The reader service powers a card down once nobody has used it for a
        // moment; a connection of our own keeps it up, so that any power-off or
        // reset the card sees from here on is the token's doing.
        DWORD protocol = 0;
        ASSERT_EQ(SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &held, &protocol),
                  SCARD_S_SUCCESS);
        dispositions.clear();
        channel.reset(new CChannelPCSC(&noting()));
        ASSERT_TRUE(manager.RegisterChannel(channel.get(), false));
        ASSERT_TRUE(channel->Open(1));
    }
    void TearDown() override
    {
        if (channel) {
            channel->Close(1);
            manager.UnregisterChannel(channel.get());
        }
        if (held != 0)
            SCardDisconnect(held, SCARD_LEAVE_CARD);
        inserted.Remove();
        SCardReleaseContext(ctx);
    }
};

} // namespace

TEST_F(FakeTokenOnReader, ConnectsOnInitialiseAndLetsGoOnFinalise)
{
    CP11Slot slot(channel.get());
    slot.SetAttribute(SLOT_A_ID, 0UL);
    slot.SetAttribute(SLOT_A_NAME, reader.c_str(), (unsigned long)-1);
    std::unique_ptr<CP11Token> made(vok_test::CreateFakeToken(&slot));
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKnown());

    int powerOffs = card.PowerOffs(), resets = card.Resets();
    ProbeToken token(&slot);
    ASSERT_EQ(codeOf([&] { token.Initialize(); }), NO_ERROR);
    ASSERT_NE(token.connection(), nullptr);
    unsigned long h = 0;
    token.OpenSession(RW, nullptr, nullptr, &h);
    EXPECT_EQ(h, 1u);

    token.Finalize();
    EXPECT_EQ(dispositions, std::vector<DWORD>{SCARD_LEAVE_CARD});
    EXPECT_EQ(token.connection(), nullptr);
    EXPECT_EQ(token.GetSessions().Count(), 0u);
    EXPECT_EQ(card.PowerOffs(), powerOffs) << "the card stays where it is";
    EXPECT_EQ(card.Resets(), resets);
    EXPECT_EQ(codeOf([&] { token.Finalize(); }), NO_ERROR);

    // Without a card there is nothing to stand on.
    SCardDisconnect(held, SCARD_LEAVE_CARD);
    held = 0;
    inserted.Remove();
    ASSERT_TRUE(WaitCardState(ctx, reader, false));
    ProbeToken empty(&slot);
    EXPECT_EQ(codeOf([&] { empty.Initialize(); }), CKR_DEVICE_ERROR);
}
