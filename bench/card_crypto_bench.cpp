// The token's software crypto through the module's C_* frame, beside the same work
// on the crypto classes directly, so that what the frame and the token add shows:
// - C_DigestInit + C_Digest, SHA-256 over 1 MiB, against CSHA256 over the same bytes;
// - C_VerifyInit + C_Verify, CKM_SHA256_RSA_PKCS with a 2048-bit card public key,
//   against a CRSA loaded with the same key, initialised and run the same way.
//
// The module is the built libvokralp11.so loaded as applications load it, with a
// simulated card (one 2048-bit signature key) in the first virtual reader; the
// signature is made once on the card. Needs a running pcscd with the virtual reader
// driver (run it under the machine's lock).
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "card.h"
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "personalise.h"
#include "vpcd_card.h"

namespace
{

using Bytes = std::vector<unsigned char>;

unsigned char PIN[] = {'1', '2', '3', '4', '5', '6'};

cardsim::Card *signingCard()
{
    cardsim::Personalisation p;
    cardsim::ContainerSpec c;
    c.keys[0].bits = 2048;
    p.containers = {c};
    cardsim::CardState state;
    if (!cardsim::Personalise(p, state, nullptr))
        abort();
    return new cardsim::Card(state);
}

// The module, the card in the first reader and a logged-in session with the key's
// handles, a message and its signature from the card, for the length of the program.
struct Setup {
    CK_FUNCTION_LIST_PTR f = nullptr;
    std::unique_ptr<cardsim::Card> card{signingCard()};
    vpcd::VirtualCard reader{*card, vpcd::PortOfReader(0)};
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE publicKey = 0;
    Bytes data = Bytes(1 << 20, 0x5A); // 1 MiB
    Bytes message = Bytes(64, 0xA5);
    Bytes signature, modulus, exponent;
    std::string error;

    Setup()
    {
        void *handle = dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL);
        auto get = handle != nullptr
                       ? reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"))
                       : nullptr;
        if (get == nullptr || get(&f) != CKR_OK || f->C_Initialize(nullptr) != CKR_OK) {
            error = "the module does not load or initialise (is pcscd running?)";
            return;
        }
        if (!reader.Insert()) {
            error = "the card does not go into the reader";
            return;
        }
        CK_SLOT_ID slot = 0;
        if (!waitToken(&slot) ||
            f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                             &session) != CKR_OK ||
            f->C_Login(session, CKU_USER, PIN, sizeof(PIN)) != CKR_OK) {
            error = "no logged-in session on the card";
            return;
        }
        CK_OBJECT_HANDLE privateKey = find(CKO_PRIVATE_KEY);
        publicKey = find(CKO_PUBLIC_KEY);
        CK_MECHANISM m = {CKM_SHA256_RSA_PKCS, nullptr, 0};
        signature.resize(256);
        CK_ULONG length = signature.size();
        if (privateKey == 0 || publicKey == 0 || f->C_SignInit(session, &m, privateKey) != CKR_OK ||
            f->C_Sign(session, message.data(), message.size(), signature.data(), &length) !=
                CKR_OK ||
            !attribute(CKA_MODULUS, modulus) || !attribute(CKA_PUBLIC_EXPONENT, exponent)) {
            error = "no signature from the card";
            return;
        }
        signature.resize(length);
    }
    ~Setup()
    {
        if (f != nullptr)
            f->C_Finalize(nullptr);
    }

    bool waitToken(CK_SLOT_ID *slot)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            CK_ULONG count = 1;
            if (f->C_GetSlotList(CK_TRUE, slot, &count) == CKR_OK && count == 1)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    CK_OBJECT_HANDLE find(CK_OBJECT_CLASS cls)
    {
        CK_ATTRIBUTE templ = {CKA_CLASS, &cls, sizeof(cls)};
        CK_OBJECT_HANDLE found = 0;
        CK_ULONG count = 0;
        if (f->C_FindObjectsInit(session, &templ, 1) != CKR_OK)
            return 0;
        f->C_FindObjects(session, &found, 1, &count);
        f->C_FindObjectsFinal(session);
        return count == 1 ? found : 0;
    }
    bool attribute(CK_ATTRIBUTE_TYPE type, Bytes &value)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        if (f->C_GetAttributeValue(session, publicKey, &a, 1) != CKR_OK)
            return false;
        value.resize(a.ulValueLen);
        a.pValue = value.data();
        return f->C_GetAttributeValue(session, publicKey, &a, 1) == CKR_OK;
    }
};

Setup *setup(benchmark::State &state)
{
    static Setup s;
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return nullptr;
    }
    return &s;
}

void BM_DigestSha256_1MiB_Frame(benchmark::State &state)
{
    Setup *s = setup(state);
    if (s == nullptr)
        return;
    CK_MECHANISM m = {CKM_SHA256, nullptr, 0};
    unsigned char digest[32];
    for (auto _ : state) {
        CK_ULONG length = sizeof(digest);
        if (s->f->C_DigestInit(s->session, &m) != CKR_OK ||
            s->f->C_Digest(s->session, s->data.data(), s->data.size(), digest, &length) != CKR_OK) {
            state.SkipWithError("C_Digest failed");
            return;
        }
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)s->data.size());
}

void BM_DigestSha256_1MiB_Direct(benchmark::State &state)
{
    Setup *s = setup(state);
    if (s == nullptr)
        return;
    unsigned char digest[32];
    for (auto _ : state) {
        CSHA256 sha;
        sha.Update(s->data.data(), s->data.size());
        sha.Final();
        sha.Get(digest, CDigest::FORM_RAW);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)s->data.size());
}

void BM_VerifyRsa2048_Frame(benchmark::State &state)
{
    Setup *s = setup(state);
    if (s == nullptr)
        return;
    CK_MECHANISM m = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    for (auto _ : state) {
        if (s->f->C_VerifyInit(s->session, &m, s->publicKey) != CKR_OK ||
            s->f->C_Verify(s->session, s->message.data(), s->message.size(), s->signature.data(),
                           s->signature.size()) != CKR_OK) {
            state.SkipWithError("C_Verify failed");
            return;
        }
    }
}

void BM_VerifyRsa2048_Direct(benchmark::State &state)
{
    Setup *s = setup(state);
    if (s == nullptr)
        return;
    for (auto _ : state) {
        CRSA rsa;
        bool ok =
            rsa.SetAttribute(CRSA::ATTR_MODULUS, s->modulus.data(), s->modulus.size()) &&
            rsa.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, s->exponent.data(), s->exponent.size()) &&
            rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM,
                             CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256) &&
            rsa.Init(CKeyAsymetric::OP_VERIFY) &&
            rsa.Update(s->message.data(), s->message.size()) &&
            rsa.Final(s->signature.data(), s->signature.size());
        if (!ok) {
            state.SkipWithError("CRSA verification failed");
            return;
        }
    }
}

BENCHMARK(BM_DigestSha256_1MiB_Frame)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_DigestSha256_1MiB_Direct)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_VerifyRsa2048_Frame)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(5);
BENCHMARK(BM_VerifyRsa2048_Direct)->Unit(benchmark::kMicrosecond)->MinTime(1.0)->Repetitions(5);

} // namespace
