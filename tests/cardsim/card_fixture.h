// The in-process card every simulator test starts from: a personalised card, its
// command channel and the few steps most tests take first.
#pragma once

#include "card.h"
#include "host.h"
#include "personalise.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

namespace cardsim_test
{

inline cardsim::CardState NewCard(const cardsim::Personalisation &p = {})
{
    cardsim::CardState s;
    std::string error;
    EXPECT_TRUE(cardsim::Personalise(p, s, &error)) << error;
    return s;
}

class CardTest : public ::testing::Test
{
  protected:
    void Make(cardsim::CardState state, cardsim::Options options = {}, std::string path = "")
    {
        card = std::make_unique<cardsim::Card>(std::move(state), options, path);
        tx = [this](const Bytes &c) { return card->Apdu(c); };
    }
    void SetUp() override { Make(NewCard()); }
    uint16_t Send(const Bytes &c) { return Sw(card->Apdu(c)); }
    void SelectAndLogin()
    {
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    }

    std::unique_ptr<cardsim::Card> card;
    Transmit tx;
};

// A state file name of this test process in the build directory.
inline std::string TempPath(const char *stem)
{
    return std::string(VOK_BINARY_DIR) + "/" + stem + "-" + std::to_string(getpid()) + ".state";
}

} // namespace cardsim_test
