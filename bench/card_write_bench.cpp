// The identity-card token's writes in process, the token on a channel straight to
// a simulated card that holds two containers (2048-bit keys, a certificate for
// each), the user logged in on a read-write session:
// - a key pair generated on the card (1024 and 2048 bits);
// - an RSA private key of 2048 bits imported (under secure messaging), and the
//   certificate of a key the card holds.
// The time reported is the host's: the token's own work, without the time the
// simulated card spent answering (its RSA key generation above all), which is
// given apart as card_ms. Counters: the APDUs the card received, how often the
// token read the card's whole containers-usage list (usage_reads), and how often
// it read it again for the C_GetTokenInfo a client calls next, with its memory
// figures (info_reads; not timed).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "card.h"
#include "card_content.h"
#include "core/p11_slot.h"
#include "personalise.h"
#include "rsa_components.h"
#include "rsa_key.h"
#include "sim_channel.h"
#include "token/containers_usage.h"
#include "token/p11_token_eid.h"

namespace
{

using Clock = std::chrono::steady_clock;
using token_test::Bytes;

unsigned char PIN[] = {'1', '2', '3', '4', '5', '6'};

// The card every iteration starts from: its first signature key has no
// certificate (the one imported).
cardsim::CardState twoContainerCard()
{
    static cardsim::CardState state = [] {
        cardsim::Personalisation p;
        for (int i = 0; i < 2; ++i) {
            cardsim::ContainerSpec c;
            c.keys[0].bits = c.keys[1].bits = 2048;
            p.containers.push_back(c);
        }
        p.containers[0].keys[0].certificate = false;
        cardsim::CardState made;
        if (!cardsim::Personalise(p, made, nullptr))
            abort();
        return made;
    }();
    return state;
}

// A fresh card and the token on it, logged in; what the card and the token did is
// counted from the moment Begin is called.
struct OnCard {
    std::unique_ptr<cardsim::Card> card{new cardsim::Card(twoContainerCard())};
    Clock::duration cardTime{};
    token_test::SimChannel channel{[this](Bytes const &c) {
        auto start = Clock::now();
        Bytes reply = card->Apdu(c);
        cardTime += Clock::now() - start;
        return reply;
    }};
    CP11Slot slot{&channel};
    std::unique_ptr<CP11Token_eiD> token;
    CK_SESSION_HANDLE session = 0;
    int apdus = 0;
    unsigned long reads = 0;

    OnCard()
    {
        card->PowerOn();
        slot.SetAttribute(SLOT_A_ID, 0UL);
        slot.SetAttribute(SLOT_A_NAME, token_test::READER, ~0UL);
        token.reset(new CP11Token_eiD(&slot));
        token->IsKnown();
        token->Initialize();
        token->OpenSession(CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
        token->Login(session, CKU_USER, PIN, sizeof(PIN));
    }
    void Begin()
    {
        cardTime = {};
        apdus = channel.apdus;
        reads = CContainersUsage::Reads();
    }
};

// Runs op on a fresh card in every iteration; the setup is not timed.
template <typename Op> void onFreshCards(benchmark::State &state, Op op)
{
    double apdus = 0, reads = 0, infoReads = 0, cardMs = 0;
    for (auto _ : state) {
        OnCard on;
        on.Begin();
        auto start = Clock::now();
        try {
            op(on);
        } catch (CP11Exception &e) {
            state.SkipWithError("the token refused the operation");
            return;
        }
        auto total = Clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(total - on.cardTime).count());
        apdus = on.channel.apdus - on.apdus;
        reads = (double)(CContainersUsage::Reads() - on.reads);
        unsigned long before = CContainersUsage::Reads();
        CK_TOKEN_INFO info;
        on.token->GetInfo(&info);
        infoReads = (double)(CContainersUsage::Reads() - before);
        cardMs += std::chrono::duration<double, std::milli>(on.cardTime).count();
    }
    state.counters["apdus"] = apdus;
    state.counters["usage_reads"] = reads;
    state.counters["info_reads"] = infoReads;
    state.counters["card_ms"] = cardMs / (double)state.iterations();
}

void BM_GenerateKeyPairOnTheCard(benchmark::State &state)
{
    CK_ULONG bits = (CK_ULONG)state.range(0);
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicKey[] = {{CKA_CLASS, &publicClass, sizeof(publicClass)},
                                {CKA_TOKEN, &yes, 1},
                                {CKA_MODULUS_BITS, &bits, sizeof(bits)}};
    CK_ATTRIBUTE privateKey[] = {{CKA_CLASS, &privateClass, sizeof(privateClass)},
                                 {CKA_TOKEN, &yes, 1},
                                 {CKA_PRIVATE, &yes, 1}};
    CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    onFreshCards(state, [&](OnCard &on) {
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        on.token->GenerateKeyPair(on.session, &m, publicKey, 3, privateKey, 3, &pub, &priv);
    });
}

// An RSA private key of OpenSSL's: its DER and its eight components by type.
struct ImportedKey {
    Bytes der;
    std::map<CK_ATTRIBUTE_TYPE, Bytes> parts;

    ImportedKey()
    {
        if (!cardsim::GenerateRsaKey(2048, 65537, der))
            abort();
        if (!token_test::RsaComponents(der, parts))
            abort();
    }
};

void BM_ImportPrivateKey(benchmark::State &state)
{
    static ImportedKey const key;
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    std::vector<CK_ATTRIBUTE> templ = {{CKA_CLASS, &cls, sizeof(cls)},
                                       {CKA_KEY_TYPE, &type, sizeof(type)},
                                       {CKA_TOKEN, &yes, 1},
                                       {CKA_PRIVATE, &yes, 1}};
    for (auto const &part : key.parts)
        templ.push_back({part.first, (void *)part.second.data(), (CK_ULONG)part.second.size()});
    onFreshCards(state, [&](OnCard &on) {
        CK_OBJECT_HANDLE h = 0;
        on.token->CreateObject(on.session, templ.data(), templ.size(), &h);
    });
}

// A certificate of the first container's signature key, which has none.
void BM_ImportCertificate(benchmark::State &state)
{
    cardsim::CardState card = twoContainerCard();
    Bytes certificate;
    for (auto const &k : card.keys)
        if (k.first == std::make_pair(0, 0) &&
            !cardsim::MakeCertificate(k.second.der, "imported", 9, false, certificate))
            abort();
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE templ[] = {{CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_CERTIFICATE_TYPE, &type, sizeof(type)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_VALUE, certificate.data(), certificate.size()}};
    onFreshCards(state, [&](OnCard &on) {
        CK_OBJECT_HANDLE h = 0;
        on.token->CreateObject(on.session, templ, 4, &h);
    });
}

BENCHMARK(BM_GenerateKeyPairOnTheCard)
    ->Arg(1024)
    ->Arg(2048)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_ImportPrivateKey)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ImportCertificate)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
