// The identity-card token at a card's insertion and at its first session, with a
// simulated card of four key containers (2048-bit keys, a certificate for each)
// in the first virtual reader:
// - over pcscd, with the built libvokralp11.so as applications load it: insertion
//   until the token is listed, the first C_OpenSession after the insertion, and a
//   first C_OpenSession again after the last session closed; each with the APDUs
//   the card received;
// - one APDU's round trip through pcscd (SCardTransmit), which most of those
//   times are made of;
// - the same first session in process, the token on a channel straight to the
//   simulated card: the token's and the card's own work without the reader.
//
// The pcscd part needs a running pcscd with the virtual reader driver (run it
// under the machine's lock); the module is the built one or $VOK_MODULE.
#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <dlfcn.h>
#include <unistd.h>
#include <winscard.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <p11-kit/pkcs11.h>

#include "card.h"
#include "core/p11_slot.h"
#include "personalise.h"
#include "sim_channel.h"
#include "token/p11_token_eid.h"
#include "vpcd_card.h"

namespace
{

using Clock = std::chrono::steady_clock;

cardsim::Card *fourContainerCard()
{
    cardsim::Personalisation p;
    for (int i = 0; i < 4; ++i) {
        cardsim::ContainerSpec c;
        c.keys[0].bits = c.keys[1].bits = 2048;
        p.containers.push_back(c);
    }
    cardsim::CardState state;
    if (!cardsim::Personalise(p, state, nullptr))
        abort();
    return new cardsim::Card(state);
}

// The module, the card in the first virtual reader and an initialised library,
// for the length of the program.
struct OverPcscd {
    CK_FUNCTION_LIST_PTR f = nullptr;
    std::unique_ptr<cardsim::Card> card{fourContainerCard()};
    vpcd::VirtualCard reader{*card, vpcd::PortOfReader(0)};
    std::string error;

    OverPcscd()
    {
        char const *module = std::getenv("VOK_MODULE");
        std::string path = module != nullptr ? module : buildDir() + "/module/libvokralp11.so";
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto get = handle != nullptr
                       ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"))
                       : nullptr;
        if (get == nullptr || get(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK)
            error = "the module does not load or initialise (is pcscd running?)";
    }
    ~OverPcscd()
    {
        if (error.empty())
            f->C_Finalize(nullptr);
    }

    // The slot with a token, or none; waits until it is so.
    bool waitToken(bool present, CK_SLOT_ID *slot = nullptr)
    {
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            CK_SLOT_ID slots[4];
            CK_ULONG count = 4;
            if (f->C_GetSlotList(CK_TRUE, slots, &count) == CKR_OK && (count != 0) == present) {
                if (slot != nullptr && count != 0)
                    *slot = slots[0];
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }
    bool reinsert(CK_SLOT_ID *slot)
    {
        reader.Remove();
        return waitToken(false) && reader.Insert() && waitToken(true, slot);
    }
};

OverPcscd *pcscd(benchmark::State &state)
{
    static OverPcscd setup;
    if (!setup.error.empty()) {
        state.SkipWithError(setup.error.c_str());
        return nullptr;
    }
    return &setup;
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void BM_InsertionToTokenPresent(benchmark::State &state)
{
    OverPcscd *p = pcscd(state);
    if (p == nullptr)
        return;
    size_t apdus = 0;
    for (auto _ : state) {
        p->reader.Remove();
        if (!p->waitToken(false)) {
            state.SkipWithError("the token stays");
            return;
        }
        size_t before = p->card->ApduCount();
        auto start = Clock::now();
        if (!p->reader.Insert() || !p->waitToken(true)) {
            state.SkipWithError("no token");
            return;
        }
        state.SetIterationTime(seconds(start));
        apdus = p->card->ApduCount() - before;
    }
    state.counters["apdus"] = (double)apdus;
}

// first: a first session after the insertion; else one after the last closed
void firstOpenSession(benchmark::State &state, bool first)
{
    OverPcscd *p = pcscd(state);
    CK_SLOT_ID slot = 0;
    if (p == nullptr || !p->reinsert(&slot))
        return;
    size_t apdus = 0;
    for (auto _ : state) {
        if (first && !p->reinsert(&slot)) {
            state.SkipWithError("no token");
            return;
        }
        CK_SESSION_HANDLE session = 0;
        size_t before = p->card->ApduCount();
        auto start = Clock::now();
        if (p->f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
            state.SkipWithError("C_OpenSession failed");
            return;
        }
        state.SetIterationTime(seconds(start));
        apdus = p->card->ApduCount() - before;
        p->f->C_CloseSession(session);
    }
    state.counters["apdus"] = (double)apdus;
}

void BM_FirstOpenSessionAfterInsertion(benchmark::State &state)
{
    firstOpenSession(state, true);
}

void BM_FirstOpenSessionAgain(benchmark::State &state)
{
    firstOpenSession(state, false);
}

// One short APDU (the application selection) through pcscd to the card.
void BM_ApduRoundTrip(benchmark::State &state)
{
    OverPcscd *p = pcscd(state);
    if (p == nullptr)
        return;
    SCARDCONTEXT ctx = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    std::string name = vpcd::NameOfReader(0);
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS ||
        SCardConnect(ctx, name.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                     &card, &protocol) != SCARD_S_SUCCESS) {
        state.SkipWithError("no PC/SC connection");
        return;
    }
    unsigned char const select[] = {0x00, 0xA4, 0x04, 0x00, 0x0A, 0xA0, 0x00, 0x00,
                                    0x00, 0x28, 0x80, 0x10, 0x30, 0x01, 0xFF};
    SCARD_IO_REQUEST const *pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    for (auto _ : state) {
        unsigned char reply[258];
        DWORD length = sizeof(reply);
        SCardTransmit(card, pci, select, sizeof(select), nullptr, reply, &length);
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(ctx);
}

// The first session in process: the token's and the simulated card's own work.
void BM_FirstOpenSessionInProcess(benchmark::State &state)
{
    std::unique_ptr<cardsim::Card> card(fourContainerCard());
    card->PowerOn();
    token_test::SimChannel channel([&](token_test::Bytes const &c) { return card->Apdu(c); });
    CP11Slot slot(&channel);
    slot.SetAttribute(SLOT_A_ID, 0UL);
    slot.SetAttribute(SLOT_A_NAME, token_test::READER, ~0UL);
    int apdus = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<CP11Token_eiD> token(new CP11Token_eiD(&slot));
        token->IsKnown();
        token->Initialize();
        int before = channel.apdus;
        state.ResumeTiming();
        CK_SESSION_HANDLE session = 0;
        token->OpenSession(CKF_SERIAL_SESSION, nullptr, nullptr, &session);
        state.PauseTiming();
        apdus = channel.apdus - before;
        token.reset();
        state.ResumeTiming();
    }
    state.counters["apdus"] = apdus;
}

BENCHMARK(BM_InsertionToTokenPresent)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_FirstOpenSessionAfterInsertion)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_FirstOpenSessionAgain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ApduRoundTrip)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstOpenSessionInProcess)->Unit(benchmark::kMillisecond);

} // namespace
