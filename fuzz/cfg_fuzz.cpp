// Configuration reader on arbitrary file contents.
#include "base/cfg.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    int fd = memfd_create("cfg", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    _t_cfg *cfg = nullptr;
    if (cfg_rd(&cfg, path) == 0) {
        for (_t_cfg *e = cfg; e != nullptr; e = e->next) {
            _t_cfg *chain = e->entries != nullptr ? e->entries : cfg;
            int index = 0;
            while (cfg_getv(chain, e->name, &index) != nullptr) {
            }
            int i = 0;
            unsigned long u = 0;
            cfg_getv_int(chain, e->name, &i);
            cfg_getv_ulong(chain, e->name, &u);
            unsigned char out[1024];
            unsigned long len = 0;
            if (cfg_getv_b64(chain, e->name, &len, nullptr) == 0 && len <= sizeof(out))
                cfg_getv_b64(chain, e->name, &len, out);
            len = 0;
            if (cfg_getv_bin(chain, e->name, &len, nullptr) == 0 && len <= sizeof(out))
                cfg_getv_bin(chain, e->name, &len, out);
            cfg_gets(cfg, e->name);
        }
    }
    cfg_free(cfg);
    close(fd);
    return 0;
}
