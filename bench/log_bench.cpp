// Cost of a written log line, of a line that is filtered out, and of name lookups.
#include "base/linux/linux_log.h"
#include "base/p11_convert.h"

#include <benchmark/benchmark.h>

namespace
{

void BM_LogLineToFile(benchmark::State &state)
{
    hl_openlog("(0x3F,0x1DF,-1)file:/dev/null");
    for (auto _ : state) {
        hl_log(1, "CP11Token_eiD::Verify(0x%.8x,%p,0x%.8x)\n", 1u, nullptr, 2u);
        hl_log(2, "CP11Token_eiD::Verify( )\n");
    }
    closelog();
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_LogLineToFile);

void BM_FilteredDebugLine(benchmark::State &state)
{
    hl_openlog("(0x3F,0x1DF,-1)file:/dev/null");
    unsigned char data[64] = {};
    for (auto _ : state) {
        hl_log(0x40, "debug %d\n", 1);
        hl_hd(0x40, data, sizeof(data));
    }
    closelog();
}
BENCHMARK(BM_FilteredDebugLine);

void BM_MechanismName(benchmark::State &state)
{
    unsigned long value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CP11Convert::CKM2String(value));
        value = (value + 0x101) & 0x2FFF;
    }
}
BENCHMARK(BM_MechanismName);

} // namespace
