// Loads a PKCS#11 module in a process of its own and exercises what a test process
// cannot do to itself: exit with the module still initialised, load and unload it
// many times, fork with it initialised.
//   module_probe exit MODULE         C_Initialize, then exit() without C_Finalize
//   module_probe cycles MODULE N     N loads and unloads, every other one finalised
//   module_probe fork MODULE         C_Initialize, fork; the child initialises too
// Exit status 0 on success; a failure is described on standard error.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

namespace
{

int fail(char const *what, unsigned long rv)
{
    std::fprintf(stderr, "module_probe: %s: 0x%lx\n", what, rv);
    return 1;
}

CK_FUNCTION_LIST_PTR load(char const *path, void **handle)
{
    *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (*handle == nullptr) {
        std::fprintf(stderr, "module_probe: %s\n", dlerror());
        return nullptr;
    }
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(*handle, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (get == nullptr || get(&list) != CKR_OK)
        return nullptr;
    return list;
}

// The module loaded and initialised; nullptr, the failure told, otherwise.
CK_FUNCTION_LIST_PTR loadInitialised(char const *path, void **handle)
{
    CK_FUNCTION_LIST_PTR f = load(path, handle);
    if (f == nullptr)
        return nullptr;
    CK_RV rv = f->C_Initialize(nullptr);
    if (rv != CKR_OK) {
        fail("C_Initialize", rv);
        return nullptr;
    }
    return f;
}

// The slots the module lists now; -1 on failure.
long slotCount(CK_FUNCTION_LIST_PTR f)
{
    CK_ULONG count = 0;
    if (f->C_GetSlotList(CK_FALSE, nullptr, &count) != CKR_OK)
        return -1;
    std::vector<CK_SLOT_ID> slots(count + 1);
    if (f->C_GetSlotList(CK_FALSE, slots.data(), &count) != CKR_OK)
        return -1;
    return static_cast<long>(count);
}

int exitInitialised(char const *path)
{
    void *handle;
    CK_FUNCTION_LIST_PTR f = loadInitialised(path, &handle);
    if (f == nullptr)
        return 1;
    if (slotCount(f) < 0)
        return fail("C_GetSlotList", 0);
    std::exit(0); // the module is never finalised nor unloaded by the application
}

int cycles(char const *path, int n)
{
    for (int i = 0; i < n; ++i) {
        void *handle;
        CK_FUNCTION_LIST_PTR f = loadInitialised(path, &handle);
        if (f == nullptr)
            return 1;
        if (slotCount(f) < 0)
            return fail("C_GetSlotList", 0);
        CK_RV rv = CKR_OK;
        if (i % 2 == 0 && (rv = f->C_Finalize(nullptr)) != CKR_OK)
            return fail("C_Finalize", rv);
        if (dlclose(handle) != 0)
            return fail("dlclose", 0);
    }
    return 0;
}

int forked(char const *path)
{
    void *handle;
    CK_FUNCTION_LIST_PTR f = loadInitialised(path, &handle);
    if (f == nullptr)
        return 1;
    CK_RV rv = CKR_OK;
    long parentSlots = slotCount(f);
    pid_t child = fork();
    if (child < 0)
        return fail("fork", 0);
    if (child == 0) {
        rv = f->C_Initialize(nullptr);
        if (rv != CKR_OK)
            _exit(fail("C_Initialize in the child", rv));
        if (slotCount(f) != parentSlots)
            _exit(fail("C_GetSlotList in the child", static_cast<unsigned long>(slotCount(f))));
        if ((rv = f->C_Finalize(nullptr)) != CKR_OK)
            _exit(fail("C_Finalize in the child", rv));
        std::exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fail("child", static_cast<unsigned long>(status));
    if (slotCount(f) != parentSlots)
        return fail("C_GetSlotList after the fork", 0);
    if ((rv = f->C_Finalize(nullptr)) != CKR_OK)
        return fail("C_Finalize", rv);
    return 0; // unloaded at exit
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: module_probe exit|cycles|fork MODULE [N]\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "exit")
        return exitInitialised(argv[2]);
    if (mode == "cycles")
        return cycles(argv[2], argc > 3 ? std::atoi(argv[3]) : 100);
    if (mode == "fork")
        return forked(argv[2]);
    std::fprintf(stderr, "module_probe: unknown mode %s\n", mode.c_str());
    return 2;
}
