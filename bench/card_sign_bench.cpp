// C_Sign with a 2048-bit key of the simulated card (CKM_SHA256_RSA_PKCS, a logged-in
// session), each signature started by its own C_SignInit:
// - in process, the token on a channel straight to the simulated card: the APDUs of
//   one signature, and the time split into the simulator's own (every command it
//   handles, its RSA included: card_us) and the host's, the rest (host_us);
// - over pcscd with the built libvokralp11.so as applications load it, the time an
//   application sees (needs a running pcscd with the virtual reader driver: run it
//   under the machine's lock; the module is the built one or $VOK_MODULE).
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <unistd.h>

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

unsigned char PIN[] = {'1', '2', '3', '4', '5', '6'};
unsigned char DATA[] = "a document of some length to be signed on the card";
CK_MECHANISM SHA256_RSA = {CKM_SHA256_RSA_PKCS, nullptr, 0};

cardsim::Card *card2048()
{
    cardsim::Personalisation p;
    p.withContainer = true;
    p.keyBits = 2048;
    cardsim::CardState state;
    if (!cardsim::Personalise(p, state, nullptr))
        abort();
    return new cardsim::Card(state);
}

std::string modulePath()
{
    char const *module = std::getenv("VOK_MODULE");
    if (module != nullptr)
        return module;
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
    path = path.substr(0, path.rfind('/')); // .../bench
    return path.substr(0, path.rfind('/')) + "/module/libvokralp11.so";
}

// The private key that signs: the search template every application uses.
template <typename Find> CK_OBJECT_HANDLE signingKey(Find find)
{
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_SIGN, &yes, sizeof(yes)}};
    return find(templ, 2);
}

void BM_CardSignature2048InProcess(benchmark::State &state)
{
    std::unique_ptr<cardsim::Card> card(card2048());
    card->PowerOn();
    Clock::duration inCard{};
    token_test::SimChannel channel([&](token_test::Bytes const &c) {
        auto start = Clock::now();
        token_test::Bytes reply = card->Apdu(c);
        inCard += Clock::now() - start;
        return reply;
    });
    CP11Slot slot(&channel);
    slot.SetAttribute(SLOT_A_ID, 0UL);
    slot.SetAttribute(SLOT_A_NAME, token_test::READER, ~0UL);
    CP11Token_eiD token(&slot);
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE key = 0;
    try {
        token.IsKnown();
        token.Initialize();
        token.OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
        token.Login(session, CKU_USER, PIN, sizeof(PIN));
        key = signingKey([&](CK_ATTRIBUTE *templ, unsigned long count) {
            CK_OBJECT_HANDLE found = 0;
            unsigned long n = 0;
            token.FindObjectsInit(session, templ, count);
            token.FindObjects(session, &found, 1, &n);
            token.FindObjectsFinal(session);
            return found;
        });
    } catch (CP11Exception &e) {
        state.SkipWithError("the token does not come up");
        return;
    }
    int apdus = 0;
    inCard = {};
    auto start = Clock::now();
    for (auto _ : state) {
        int before = channel.apdus;
        unsigned char signature[256];
        unsigned long length = sizeof(signature);
        try {
            token.SignInit(session, &SHA256_RSA, key);
            token.Sign(session, DATA, sizeof(DATA), signature, &length);
        } catch (CP11Exception &) {
            state.SkipWithError("C_Sign failed");
            return;
        }
        apdus = channel.apdus - before;
    }
    double total = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    double card_us = std::chrono::duration<double, std::micro>(inCard).count();
    double n = (double)state.iterations();
    state.counters["apdus"] = apdus;
    state.counters["card_us"] = card_us / n;
    state.counters["host_us"] = (total - card_us) / n;
}

// The module over pcscd, for the length of the program.
struct OverPcscd {
    CK_FUNCTION_LIST_PTR f = nullptr;
    std::unique_ptr<cardsim::Card> card{card2048()};
    vpcd::VirtualCard reader{*card, vpcd::PortOfReader(0)};
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE key = 0;
    std::string error;

    OverPcscd()
    {
        void *handle = dlopen(modulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
        auto get = handle != nullptr
                       ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"))
                       : nullptr;
        if (get == nullptr || get(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) {
            error = "the module does not load or initialise (is pcscd running?)";
            return;
        }
        CK_SLOT_ID slot = 0;
        if (!reader.Insert() || !waitToken(&slot) ||
            f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                             &session) != CKR_OK ||
            f->C_Login(session, CKU_USER, PIN, sizeof(PIN)) != CKR_OK) {
            error = "no token to sign with";
            return;
        }
        key = signingKey([&](CK_ATTRIBUTE *templ, CK_ULONG count) {
            CK_OBJECT_HANDLE found = 0;
            CK_ULONG n = 0;
            f->C_FindObjectsInit(session, templ, count);
            f->C_FindObjects(session, &found, 1, &n);
            f->C_FindObjectsFinal(session);
            return found;
        });
    }
    ~OverPcscd()
    {
        if (f != nullptr)
            f->C_Finalize(nullptr);
    }
    bool waitToken(CK_SLOT_ID *slot)
    {
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            CK_ULONG count = 1;
            if (f->C_GetSlotList(CK_TRUE, slot, &count) == CKR_OK && count != 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

void BM_CardSignature2048OverPcscd(benchmark::State &state)
{
    static OverPcscd p;
    if (!p.error.empty()) {
        state.SkipWithError(p.error.c_str());
        return;
    }
    size_t apdus = 0;
    for (auto _ : state) {
        size_t before = p.card->ApduCount();
        unsigned char signature[256];
        CK_ULONG length = sizeof(signature);
        if (p.f->C_SignInit(p.session, &SHA256_RSA, p.key) != CKR_OK ||
            p.f->C_Sign(p.session, DATA, sizeof(DATA), signature, &length) != CKR_OK) {
            state.SkipWithError("C_Sign failed");
            return;
        }
        apdus = p.card->ApduCount() - before;
    }
    state.counters["apdus"] = (double)apdus;
}

BENCHMARK(BM_CardSignature2048InProcess)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CardSignature2048OverPcscd)->Unit(benchmark::kMillisecond);

} // namespace
