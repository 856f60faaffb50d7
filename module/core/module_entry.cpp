#include "core/module_entry.h"

#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include <p11-kit/pkcs11.h>

#include "base/blob.h"
#include "base/cfg.h"
#include "base/linux/linux_log.h"
#include "base/mutex.h"
#include "channel/channel_pcsc.h"
#include "core/p11_manager.h"
#include "core/token_kinds.h"
#include "crypto/crypto_random.h"

// The storage of the module-wide objects (module_globals.h gives their types to the
// rest of the module). The objects are constructed in place by the load hook and
// destroyed by the unload hook: as plain globals, a process that exits without
// unloading the module would run their destructors before the unload hook.
extern "C" {
__attribute__((visibility("default"))) int32_t m_gForceFinal = 0;
alignas(CMutex) __attribute__((visibility("default"))) unsigned char m_gMtx[sizeof(CMutex)];
alignas(CP11Manager)
    __attribute__((visibility("default"))) unsigned char m_gManager[sizeof(CP11Manager)];
}

namespace
{

char const kConfigFile[] = "/usr/local/etc/vtorix/vokral.cfg";

CMutex &globalMutex()
{
    return *reinterpret_cast<CMutex *>(m_gMtx);
}

CP11Manager &manager()
{
    return *reinterpret_cast<CP11Manager *>(m_gManager);
}

bool g_built = false;

void prepareFork()
{
    if (!g_built)
        return;
    globalMutex().Lock();
    manager().PrepareFork();
}

void parentAfterFork()
{
    if (!g_built)
        return;
    manager().ParentAfterFork();
    globalMutex().UnLock();
}

void childAfterFork()
{
    if (!g_built)
        return;
    // held by the parent's thread id: made anew
    new (m_gMtx) CMutex();
    manager().ChildAfterFork();
}

// The load hook, then the globals in this order: the mutex, the manager.
__attribute__((constructor)) void moduleLoad()
{
    my_init();
    new (m_gMtx) CMutex();
    new (m_gManager) CP11Manager();
    vokRegisterTokenKinds(manager());
    g_built = true;
    pthread_atfork(prepareFork, parentAfterFork, childAfterFork);
}

// The unload hook, then the globals in reverse order: the manager, the mutex; last
// what the module kept process-wide, so that an unload leaves nothing behind: the
// list of monitors that ended on their own and the random generator (wiped).
__attribute__((destructor)) void moduleUnload()
{
    my_fini();
    g_built = false;
    manager().~CP11Manager();
    globalMutex().~CMutex();
    CChannelPCSC::ReapMonitors();
    crypto_random_free();
}

} // namespace

void my_readcfg(char const *path)
{
    if (path == nullptr)
        return;
    _t_cfg *cfg = nullptr;
    if (cfg_rd(&cfg, path) != 0)
        return;
    char const *value = cfg_getv(cfg, "log", nullptr);
    if (value != nullptr) {
        CBlob target(value);
        struct passwd *user = getpwuid(getuid());
        if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] != '\0') {
            CBlob home(":");
            home += user->pw_dir;
            target.Replace(":~", home);
        }
        hl_openlog(target);
    }
    cfg_free(cfg);
}

void my_init()
{
    m_gForceFinal = 0;
    my_readcfg(kConfigFile);
    setloglevel(0);
    hl_log(HL_INFO, "%s version : %s.%s.%s.%s\n", "libvokralp11.so", "0", "3", "0", "120719");
    hl_log(HL_INFO, "_init\n");
    incloglevel();
}

void my_fini()
{
    decloglevel();
    hl_log(HL_INFO, "_fini\n");
    m_gForceFinal = 1;
    C_Finalize(nullptr);
    closelog();
}
