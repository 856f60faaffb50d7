// Start-up and shut-down of the PKCS#11 module as an application sees them:
// C_Initialize + C_GetSlotList + C_Finalize against the running pcscd with the two
// virtual readers and one simulated card in the first.
//
// Needs a running pcscd with the virtual reader driver. The module is the built
// libvokralp11.so (or $VOK_MODULE); the card is played by the built cardsim (or
// $VOK_CARDSIM), started here and stopped at the end.
#include <benchmark/benchmark.h>

#include "bench_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <p11-kit/pkcs11.h>

extern char **environ;

namespace
{

std::string setting(char const *variable, std::string const &fallback)
{
    char const *value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// The simulated card in the first virtual reader, for the length of the program.
class SimulatedCard
{
  public:
    SimulatedCard()
    {
        std::string program = setting("VOK_CARDSIM", buildDir() + "/testing/cardsim/cardsim");
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        char *argv[] = {const_cast<char *>(program.c_str()), const_cast<char *>("--reader"),
                        const_cast<char *>("0"), nullptr};
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        m_control = fds[1];
    }
    ~SimulatedCard()
    {
        if (m_control >= 0)
            close(m_control); // end of input: cardsim removes the card and ends
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    bool Running() const { return m_pid > 0; }

  private:
    pid_t m_pid = -1;
    int m_control = -1;
};

CK_FUNCTION_LIST_PTR loadModule(benchmark::State &state)
{
    static CK_FUNCTION_LIST_PTR list = nullptr;
    if (list != nullptr)
        return list;
    std::string path = setting("VOK_MODULE", buildDir() + "/module/libvokralp11.so");
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        state.SkipWithError(dlerror());
        return nullptr;
    }
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
    if (get == nullptr || get(&list) != CKR_OK)
        state.SkipWithError("no function list");
    return list;
}

void BM_InitializeSlotListFinalize(benchmark::State &state)
{
    static SimulatedCard card;
    CK_FUNCTION_LIST_PTR f = loadModule(state);
    if (f == nullptr)
        return;
    if (!card.Running()) {
        state.SkipWithError("cardsim did not start");
        return;
    }
    // the card is seen once it has been inserted: wait for its reader to report it
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    CK_ULONG slots = 0;
    for (auto _ : state) {
        if (f->C_Initialize(nullptr) != CKR_OK) {
            state.SkipWithError("C_Initialize failed (is pcscd running?)");
            return;
        }
        CK_SLOT_ID list[8];
        slots = 8;
        if (f->C_GetSlotList(CK_FALSE, list, &slots) != CKR_OK) {
            state.SkipWithError("C_GetSlotList failed");
            return;
        }
        f->C_Finalize(nullptr);
    }
    state.counters["slots"] = static_cast<double>(slots);
}
BENCHMARK(BM_InitializeSlotListFinalize)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
