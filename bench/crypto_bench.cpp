// Software cryptography of the module: each operation through the module's
// classes and through the raw mbed TLS calls, in the same run, so that the
// overhead of the classes shows as the ratio of the two.
//
// This program links its own crypto_random in place of the module's pool: a
// CTR-DRBG whose stream can be restarted from a numbered seed. Key generation
// time depends on how many prime candidates the stream yields, so both key
// generation benchmarks replay the same seeds and do the same work.
#include "crypto/crypto_random.h"
#include "crypto/digest.h"
#include "crypto/rsa.h"

#include <benchmark/benchmark.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/rsa.h>
#include <mbedtls/sha256.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

mbedtls_ctr_drbg_context g_drbg;
bool g_drbgReady = false;

int seedEntropy(void *seed, unsigned char *out, size_t n)
{
    memset(out, 0x5A, n);
    memcpy(out, seed, n < sizeof(unsigned) ? n : sizeof(unsigned));
    return 0;
}

void restartRandom(unsigned seed)
{
    if (g_drbgReady)
        mbedtls_ctr_drbg_free(&g_drbg);
    mbedtls_ctr_drbg_init(&g_drbg);
    if (mbedtls_ctr_drbg_seed(&g_drbg, seedEntropy, &seed, nullptr, 0) != 0)
        abort();
    g_drbgReady = true;
}

} // namespace

int crypto_random(void *, unsigned char *out, size_t length)
{
    if (!g_drbgReady)
        restartRandom(0);
    while (length > 0) {
        size_t chunk =
            length < MBEDTLS_CTR_DRBG_MAX_REQUEST ? length : MBEDTLS_CTR_DRBG_MAX_REQUEST;
        int ret = mbedtls_ctr_drbg_random(&g_drbg, out, chunk);
        if (ret != 0)
            return ret;
        out += chunk;
        length -= chunk;
    }
    return 0;
}

namespace
{

using Bytes = std::vector<unsigned char>;

const unsigned char EXPONENT[] = {0x01, 0x00, 0x01};
const unsigned long COMPONENTS[] = {
    CRSA::ATTR_MODULUS,    CRSA::ATTR_PUBLIC_EXPONENT, CRSA::ATTR_PRIVATE_EXPONENT,
    CRSA::ATTR_PRIME_1,    CRSA::ATTR_PRIME_2,         CRSA::ATTR_EXPONENT_1,
    CRSA::ATTR_EXPONENT_2, CRSA::ATTR_COEFFICIENT,
};

Bytes input(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = static_cast<unsigned char>(i * 31 + 7);
    return b;
}

// One RSA-2048 key, generated once, as component bytes.
struct Key {
    std::vector<Bytes> parts;
    Bytes signature; // PKCS#1 v1.5 SHA-256 signature of MESSAGE
};

const Bytes MESSAGE = input(32);

Key const &key()
{
    static Key k = [] {
        Key out;
        CRSA rsa;
        rsa.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, EXPONENT, sizeof(EXPONENT));
        rsa.SetAttribute(CRSA::ATTR_MODULUS_BITS, 2048);
        if (!rsa.Generate())
            abort();
        for (unsigned long id : COMPONENTS) {
            unsigned long n = 0;
            rsa.GetAttribute(id, nullptr, &n);
            Bytes b(n);
            rsa.GetAttribute(id, b.data(), &n);
            out.parts.push_back(b);
        }
        rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM,
                         CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256);
        rsa.Init(CKeyAsymetric::OP_SIGN);
        rsa.Do(MESSAGE.data(), MESSAGE.size(), nullptr, 0);
        out.signature.resize(rsa.Get(nullptr));
        rsa.Get(out.signature.data());
        return out;
    }();
    return k;
}

void loadOurs(CRSA &rsa, bool withPrivate)
{
    Key const &k = key();
    for (size_t i = 0; i < k.parts.size(); i++) {
        if (!withPrivate && i > 1)
            break;
        rsa.SetAttribute(COMPONENTS[i], k.parts[i].data(), k.parts[i].size());
    }
    rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM,
                     CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256);
}

void loadRaw(mbedtls_rsa_context &ctx, bool withPrivate)
{
    Key const &k = key();
    mbedtls_rsa_init(&ctx, MBEDTLS_RSA_PKCS_V15, 0);
    if (withPrivate)
        mbedtls_rsa_import_raw(&ctx, k.parts[0].data(), k.parts[0].size(), k.parts[3].data(),
                               k.parts[3].size(), k.parts[4].data(), k.parts[4].size(),
                               k.parts[2].data(), k.parts[2].size(), k.parts[1].data(),
                               k.parts[1].size());
    else
        mbedtls_rsa_import_raw(&ctx, k.parts[0].data(), k.parts[0].size(), nullptr, 0, nullptr, 0,
                               nullptr, 0, k.parts[1].data(), k.parts[1].size());
    if (mbedtls_rsa_complete(&ctx) != 0)
        abort();
}

void Sha256_Ours(benchmark::State &state)
{
    Bytes data = input(state.range(0));
    unsigned char out[32];
    CSHA256 sha;
    for (auto _ : state) {
        sha.Hash(data.data(), data.size());
        sha.Get(out, CDigest::FORM_RAW);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void Sha256_Raw(benchmark::State &state)
{
    Bytes data = input(state.range(0));
    unsigned char out[32];
    for (auto _ : state) {
        mbedtls_sha256_ret(data.data(), data.size(), out, 0);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void Rsa2048Verify_Ours(benchmark::State &state)
{
    CRSA rsa;
    loadOurs(rsa, false);
    Bytes const &sig = key().signature;
    for (auto _ : state) {
        rsa.Init(CKeyAsymetric::OP_VERIFY);
        if (!rsa.Do(MESSAGE.data(), MESSAGE.size(), sig.data(), sig.size()))
            state.SkipWithError("verify failed");
    }
}

void Rsa2048Verify_Raw(benchmark::State &state)
{
    mbedtls_rsa_context ctx;
    loadRaw(ctx, false);
    Bytes const &sig = key().signature;
    unsigned char hash[32];
    for (auto _ : state) {
        mbedtls_sha256_ret(MESSAGE.data(), MESSAGE.size(), hash, 0);
        if (mbedtls_rsa_pkcs1_verify(&ctx, nullptr, nullptr, MBEDTLS_RSA_PUBLIC, MBEDTLS_MD_SHA256,
                                     32, hash, sig.data()) != 0)
            state.SkipWithError("verify failed");
    }
    mbedtls_rsa_free(&ctx);
}

void Rsa2048Sign_Ours(benchmark::State &state)
{
    CRSA rsa;
    loadOurs(rsa, true);
    unsigned char sig[256];
    for (auto _ : state) {
        rsa.Init(CKeyAsymetric::OP_SIGN);
        if (!rsa.Do(MESSAGE.data(), MESSAGE.size(), nullptr, 0))
            state.SkipWithError("sign failed");
        rsa.Get(sig);
        benchmark::DoNotOptimize(sig);
    }
}

void Rsa2048Sign_Raw(benchmark::State &state)
{
    mbedtls_rsa_context ctx;
    loadRaw(ctx, true);
    unsigned char hash[32], sig[256];
    for (auto _ : state) {
        mbedtls_sha256_ret(MESSAGE.data(), MESSAGE.size(), hash, 0);
        if (mbedtls_rsa_pkcs1_sign(&ctx, crypto_random, nullptr, MBEDTLS_RSA_PRIVATE,
                                   MBEDTLS_MD_SHA256, 32, hash, sig) != 0)
            state.SkipWithError("sign failed");
        benchmark::DoNotOptimize(sig);
    }
    mbedtls_rsa_free(&ctx);
}

// Iteration i of either variant generates from seed i.
void Rsa2048Generate_Ours(benchmark::State &state)
{
    unsigned seed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        restartRandom(++seed);
        state.ResumeTiming();
        CRSA rsa;
        rsa.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, EXPONENT, sizeof(EXPONENT));
        rsa.SetAttribute(CRSA::ATTR_MODULUS_BITS, 2048);
        if (!rsa.Generate())
            state.SkipWithError("generate failed");
    }
}

void Rsa2048Generate_Raw(benchmark::State &state)
{
    unsigned seed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        restartRandom(++seed);
        state.ResumeTiming();
        mbedtls_rsa_context ctx;
        mbedtls_rsa_init(&ctx, MBEDTLS_RSA_PKCS_V15, 0);
        if (mbedtls_rsa_gen_key(&ctx, crypto_random, nullptr, 2048, 65537) != 0)
            state.SkipWithError("generate failed");
        mbedtls_rsa_free(&ctx);
    }
}

const int KEYGEN_ITERATIONS = 30;

// Other work on the machine only ever adds time: the minimum over the
// repetitions is the steadiest figure to compare.
double minimum(std::vector<double> const &v)
{
    return *std::min_element(v.begin(), v.end());
}

} // namespace

BENCHMARK(Sha256_Ours)->Arg(64)->Arg(1 << 20)->ComputeStatistics("min", minimum);
BENCHMARK(Sha256_Raw)->Arg(64)->Arg(1 << 20)->ComputeStatistics("min", minimum);
BENCHMARK(Rsa2048Verify_Ours)->ComputeStatistics("min", minimum);
BENCHMARK(Rsa2048Verify_Raw)->ComputeStatistics("min", minimum);
BENCHMARK(Rsa2048Sign_Ours)->ComputeStatistics("min", minimum);
BENCHMARK(Rsa2048Sign_Raw)->ComputeStatistics("min", minimum);
BENCHMARK(Rsa2048Generate_Ours)
    ->Iterations(KEYGEN_ITERATIONS)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);
BENCHMARK(Rsa2048Generate_Raw)
    ->Iterations(KEYGEN_ITERATIONS)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", minimum);
