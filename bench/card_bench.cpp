// Reading the card information at insertion (the application selection and the
// kinds the token reads: 4, 5, 8, 6, 8, 2, 10, 1) through the card layer against
// the simulated card in process. The simulator's own time is the same commands
// sent straight through the same transmit callback, without the layer; the
// counter layer_overhead_pct is what the layer adds to it, measured in the same
// run over the same number of insertions.
#include "card/qvmd_info.h"

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

const unsigned char INSERTION_KINDS[] = {4, 5, 8, 6, 8, 2, 10, 1};

struct Simulator {
    std::unique_ptr<cardsim::Card> card;
    std::vector<Bytes> commands; // of one insertion, recorded by Record
    bool recording = false;

    Simulator()
    {
        cardsim::CardState state;
        if (!cardsim::Personalise({}, state, nullptr))
            abort();
        card.reset(new cardsim::Card(state));
        card->PowerOn();
    }

    // The transmit callback: the command to the card, the reply into the buffer.
    static uint32_t Transmit(void *context, const unsigned char *command,
                             unsigned long commandLength, unsigned char *response,
                             unsigned long *responseLength)
    {
        auto *sim = static_cast<Simulator *>(context);
        Bytes c(command, command + commandLength);
        if (sim->recording)
            sim->commands.push_back(c);
        Bytes reply = sim->card->Apdu(c);
        if (reply.size() > *responseLength)
            return 0x80100008;
        memcpy(response, reply.data(), reply.size());
        *responseLength = reply.size();
        return 0;
    }

    // The recorded commands through the callback alone.
    void Replay()
    {
        unsigned char response[514];
        for (const Bytes &c : commands) {
            unsigned long length = sizeof(response);
            benchmark::DoNotOptimize(Transmit(this, c.data(), c.size(), response, &length));
        }
    }
};

// What the token does at insertion, on a fresh card context.
bool readAtInsertion(Simulator &sim)
{
    _qv_md_card_struct card;
    QVMD_CardInitStruct(&card, reinterpret_cast<unsigned long>(&sim), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, Simulator::Transmit);
    bool ok = QVMD_CheckAppletSelection(&card) == 0;
    for (unsigned char kind : INSERTION_KINDS)
        ok = ok && QVMD_GetInfo(&card, card.info, kind) == 0;
    QVMD_CardReleaseStruct(&card);
    return ok;
}

bool record(Simulator &sim)
{
    sim.recording = true;
    bool ok = readAtInsertion(sim);
    sim.recording = false;
    return ok;
}

void BM_CardInfoAtInsertion(benchmark::State &state)
{
    Simulator sim;
    if (!record(sim))
        state.SkipWithError("the card information could not be read");
    Clock::time_point start = Clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(readAtInsertion(sim));
    Clock::duration withLayer = Clock::now() - start;
    start = Clock::now();
    for (benchmark::IterationCount i = 0; i < state.iterations(); i++)
        sim.Replay();
    Clock::duration simulator = Clock::now() - start;
    state.counters["apdus"] = static_cast<double>(sim.commands.size());
    state.counters["layer_overhead_pct"] =
        100.0 * static_cast<double>((withLayer - simulator).count()) / simulator.count();
}
BENCHMARK(BM_CardInfoAtInsertion);

// The simulator's own time for one insertion: the recorded commands through the
// transmit callback, without the layer.
void BM_CardInfoAtInsertionSimulatorOnly(benchmark::State &state)
{
    Simulator sim;
    if (!record(sim))
        state.SkipWithError("the card information could not be read");
    for (auto _ : state)
        sim.Replay();
    state.counters["apdus"] = static_cast<double>(sim.commands.size());
}
BENCHMARK(BM_CardInfoAtInsertionSimulatorOnly);

} // namespace
