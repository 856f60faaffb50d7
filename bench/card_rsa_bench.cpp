// One RSA-2048 signature on the card as the token makes it: the DES provider and key
// storage set up with "MK", a secure-messaging session opened at the RSA level, the
// 256-byte block sent as a pair of pieces and the result fetched, the session closed.
// Against the simulated card in process, for a first-generation (applet 1.1) and a
// second-generation (1.2) opening. The time the simulator spends answering (its own
// RSA and secure messaging included) is measured inside the transmit callback and
// taken out: host_us is the card layer's time per operation, card_us the
// simulator's, apdus the commands per operation.
#include "card/card_keys.h"
#include "card/qvdes_prov.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include "card.h"
#include "personalise.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

struct TimedSimulator {
    std::unique_ptr<cardsim::Card> card;
    Clock::duration inCard{};
    size_t apdus = 0;

    static uint32_t Transmit(void *context, const unsigned char *command,
                             unsigned long commandLength, unsigned char *response,
                             unsigned long *responseLength)
    {
        auto *sim = static_cast<TimedSimulator *>(context);
        Clock::time_point start = Clock::now();
        Bytes reply = sim->card->Apdu(Bytes(command, command + commandLength));
        sim->inCard += Clock::now() - start;
        sim->apdus++;
        if (reply.size() > *responseLength)
            return 0x80100008;
        memcpy(response, reply.data(), reply.size());
        *responseLength = reply.size();
        return 0;
    }
};

// The token's provider, key storage and session state for one operation.
struct Crypto {
    _qv_md_des_provider provider{};
    _qv_md_des_key_slot slots[7]{};
    _qv_md_des_key_storage storage{0, 7, slots};
    _qv_md_crypto_provider_handle handle{&provider, &storage};
    _qv_md_sm_state state{};

    bool Open(_qv_md_card_struct *card)
    {
        return QVMD_DESSWProv_InitCryptoProvider(&provider, 0, 0, 0) == 0 &&
               QVMD_DESSWProv_InitDESKeyStorage(&provider, &storage) == 0 &&
               provider.SetKey(&storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED,
                               sizeof(QVMD_MK_STORED)) != nullptr &&
               QVMD_CryptoSWProviderInit(&card->sm, &state, &handle) == 0;
    }
    void Close()
    {
        QVMD_DESSWProv_CloseDESKeyStorage(&provider, &storage);
        QVMD_DESSWProv_CloseCryptoProvider(&provider);
    }
};

bool signOnce(_qv_md_card_struct *card, const Bytes &block)
{
    Crypto crypto;
    bool ok = crypto.Open(card) && QVMD_OpenSM(card, "MK", 0, 0, QVMD_SM_LEVEL_RSA) == 0;
    unsigned char *out = nullptr;
    unsigned long length = 0;
    ok = ok && QVMD_RSASign(card, 0, 0, block.data(), block.size(), &out, &length, 1) == 0 &&
         length == block.size();
    QVMD_Free(card, out);
    ok = QVMD_CloseSM(card) == 0 && ok;
    crypto.Close();
    return ok;
}

void BM_CardRsa2048WithSmOpening(benchmark::State &state)
{
    cardsim::Personalisation p;
    p.appletMajor = 1;
    p.appletMinor = static_cast<unsigned char>(state.range(0));
    p.withContainer = true;
    p.keyBits = 2048;
    cardsim::CardState personalised;
    if (!cardsim::Personalise(p, personalised, nullptr)) {
        state.SkipWithError("the card could not be personalised");
        return;
    }
    TimedSimulator sim;
    sim.card.reset(new cardsim::Card(personalised));
    sim.card->PowerOn();
    _qv_md_card_struct card;
    QVMD_CardInitStruct(&card, reinterpret_cast<unsigned long>(&sim), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, TimedSimulator::Transmit);
    const Bytes pin = {'1', '2', '3', '4', '5', '6'};
    if (QVMD_CheckAppletSelection(&card) != 0 ||
        QVMD_GetInfo(&card, card.info, QVMD_INFO_PIN_PROPERTIES) != 0 ||
        QVMD_Authenticate(&card, QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(), pin.size(), nullptr,
                          nullptr, nullptr, 0) != 0) {
        state.SkipWithError("the card could not be prepared");
        return;
    }
    Bytes block(256, 0x5C);
    block[0] = 0x00;
    sim.inCard = {};
    sim.apdus = 0;
    Clock::time_point start = Clock::now();
    for (auto _ : state)
        if (!signOnce(&card, block))
            state.SkipWithError("the signature failed");
    Clock::duration total = Clock::now() - start;
    double n = static_cast<double>(state.iterations());
    auto us = [n](Clock::duration d) {
        return std::chrono::duration<double, std::micro>(d).count() / n;
    };
    state.counters["apdus"] = static_cast<double>(sim.apdus) / n;
    state.counters["host_us"] = us(total - sim.inCard);
    state.counters["card_us"] = us(sim.inCard);
    QVMD_CardReleaseStruct(&card);
}
BENCHMARK(BM_CardRsa2048WithSmOpening)
    ->ArgName("applet_1_minor")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond);

} // namespace
