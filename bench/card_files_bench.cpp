// Card files: LZH compression and decompression throughput as the card layer runs it
// (QVMD_Compress / QVMD_Decompress, codec context and buffers included), on 2 KB of
// certificate DER and on 64 KB of certificates; and one certificate file read from
// the in-process simulated card (file information, read in GET RESPONSE chunks,
// decompression, CRC), counted in APDUs and timed with and without the card's own
// share of the time.
#include "card/qvmd_compress.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_files.h"
#include "card/qvmd_info.h"

#include "card.h"
#include "personalise.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace
{

using Bytes = std::vector<unsigned char>;

// A personalised card with container 0: its certificates (DER) and its state.
struct Personalised {
    cardsim::CardState state;
    std::vector<Bytes> certificates;
    Personalised()
    {
        cardsim::Personalisation p;
        p.withContainer = true;
        std::string error;
        if (!cardsim::Personalise(p, state, &error, &certificates))
            abort();
    }
};

const Personalised &personalised()
{
    static const Personalised once;
    return once;
}

// size bytes of certificates: the card's two, one after another, each copy with its
// own random key bytes (as different certificates would have).
Bytes certificateData(size_t size)
{
    const auto &certs = personalised().certificates;
    std::mt19937 rng(1);
    Bytes out;
    while (out.size() < size) {
        Bytes c = certs[out.size() / certs[0].size() % 2];
        if (out.size() >= certs[0].size() + certs[1].size())
            for (size_t i = c.size() / 3; i < c.size() / 3 + 256 && i < c.size(); i++)
                c[i] = static_cast<unsigned char>(rng());
        out.insert(out.end(), c.begin(), c.end());
    }
    out.resize(size);
    return out;
}

_qv_md_card_struct *noCommunication()
{
    static _qv_md_card_struct card;
    static bool ready = QVMD_CardInitStructNoCommunication(&card, 0, nullptr, nullptr, nullptr,
                                                           nullptr, nullptr, nullptr, nullptr) == 0;
    return ready ? &card : nullptr;
}

void LzhCompress(benchmark::State &state)
{
    Bytes plain = certificateData(static_cast<size_t>(state.range(0)));
    _qv_md_card_struct *card = noCommunication();
    unsigned long packed = 0;
    for (auto _ : state) {
        unsigned char *out = nullptr;
        if (QVMD_Compress(card, plain.data(), plain.size(), &out, &packed) != 0)
            state.SkipWithError("compression failed");
        QVMD_Free(card, out);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(plain.size()));
    state.counters["ratio"] = static_cast<double>(packed) / plain.size();
}

void LzhDecompress(benchmark::State &state)
{
    Bytes plain = certificateData(static_cast<size_t>(state.range(0)));
    _qv_md_card_struct *card = noCommunication();
    unsigned char *packed = nullptr;
    unsigned long packedLength = 0;
    QVMD_Compress(card, plain.data(), plain.size(), &packed, &packedLength);
    for (auto _ : state) {
        unsigned char *out = nullptr;
        unsigned long length = 0;
        if (QVMD_Decompress(card, packed, packedLength, &out, &length, plain.size()) != 0)
            state.SkipWithError("decompression failed");
        QVMD_Free(card, out);
    }
    QVMD_Free(card, packed);
    // throughput in plain bytes produced
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(plain.size()));
}

// The simulated card behind the layer's transport, with the time it spends.
struct Simulated {
    cardsim::Card card{personalised().state};
    unsigned long apdus = 0;
    std::chrono::nanoseconds inCard{0};

    static uint32_t transmit(void *context, const unsigned char *command,
                             unsigned long commandLength, unsigned char *response,
                             unsigned long *responseLength)
    {
        auto *self = static_cast<Simulated *>(context);
        auto start = std::chrono::steady_clock::now();
        Bytes reply = self->card.Apdu(Bytes(command, command + commandLength));
        self->inCard += std::chrono::steady_clock::now() - start;
        self->apdus++;
        if (reply.size() > *responseLength)
            return 0x80100008;
        memcpy(response, reply.data(), reply.size());
        *responseLength = reply.size();
        return 0;
    }
};

void CertificateFileRead(benchmark::State &state)
{
    Simulated sim;
    sim.card.PowerOn();
    _qv_md_card_struct card;
    QVMD_CardInitStruct(&card, reinterpret_cast<unsigned long>(&sim), nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, Simulated::transmit);
    QVMD_CheckAppletSelection(&card);
    const unsigned char dir[8] = {'m', 's', 'c', 'p'}, name[8] = {'k', 's', 'c', '0', '0'};
    sim.apdus = 0;
    sim.inCard = std::chrono::nanoseconds(0);
    auto start = std::chrono::steady_clock::now();
    unsigned long length = 0, stored = 0;
    for (auto _ : state) {
        _qv_md_file_info info;
        unsigned char *data = nullptr;
        if (QVMD_ReadFileInfo(&card, dir, name, &info) != 0 ||
            QVMD_ReadFile(&card, dir, name, &data, &length) != 0)
            state.SkipWithError("read failed");
        stored = info.storedLength;
        QVMD_Free(&card, data);
    }
    auto total = std::chrono::steady_clock::now() - start;
    double n = static_cast<double>(state.iterations());
    state.counters["apdus"] = sim.apdus / n;
    state.counters["plain_bytes"] = static_cast<double>(length);
    state.counters["stored_bytes"] = static_cast<double>(stored);
    state.counters["host_us"] =
        std::chrono::duration<double, std::micro>(total - sim.inCard).count() / n;
    state.counters["card_us"] = std::chrono::duration<double, std::micro>(sim.inCard).count() / n;
    QVMD_CardReleaseStruct(&card);
}

} // namespace

BENCHMARK(LzhCompress)->Arg(2048)->Arg(65536);
BENCHMARK(LzhDecompress)->Arg(2048)->Arg(65536);
BENCHMARK(CertificateFileRead);
