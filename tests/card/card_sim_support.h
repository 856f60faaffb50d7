// A simulated card in process for the card-layer tests: personalised as asked,
// answering a recording transport through cardsim::Card::Apdu.
#pragma once

#include "card_test_support.h"

#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"

#include "card.h"
#include "personalise.h"

#include <gtest/gtest.h>

#include <memory>

namespace card_test
{

class SimCard
{
  public:
    explicit SimCard(const cardsim::Personalisation &p = {}, const cardsim::Options &options = {})
    {
        cardsim::CardState state;
        std::string error;
        EXPECT_TRUE(cardsim::Personalise(p, state, &error)) << error;
        card.reset(new cardsim::Card(state, options));
        card->PowerOn();
        transport.reset(
            new RecordingTransport([this](const Bytes &command) { return card->Apdu(command); }));
        context.reset(new TestCard(*transport));
    }

    _qv_md_card_struct *get() { return context->get(); }
    _qv_md_info_struct *info() { return context->get()->info; }

    std::unique_ptr<cardsim::Card> card;
    std::unique_ptr<RecordingTransport> transport;
    std::unique_ptr<TestCard> context;
};

inline cardsim::Personalisation Applet(unsigned char major, unsigned char minor)
{
    cardsim::Personalisation p;
    p.appletMajor = major;
    p.appletMinor = minor;
    return p;
}

// Selects the application, reads the PIN records and, when asked, verifies the user
// PIN as personalised; the recorded commands start afresh after it.
inline void PrepareCard(SimCard &sim, bool verifyUserPin = true)
{
    EXPECT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
    EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_PIN_PROPERTIES), 0u);
    if (verifyUserPin) {
        const unsigned char pin[] = {'1', '2', '3', '4', '5', '6'};
        EXPECT_EQ(QVMD_Authenticate(sim.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, pin, sizeof(pin),
                                    nullptr, nullptr, nullptr, 0),
                  0u);
    }
    sim.transport->commands.clear();
}

} // namespace card_test
