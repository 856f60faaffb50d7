#include "base/cfg.h"

int cfg_rd(_t_cfg** cfg, char const*) { if (cfg) *cfg = nullptr; return -2; }
void cfg_free(_t_cfg*) {}
char const* cfg_getv(_t_cfg*, char const*, int*) { return nullptr; }
_t_cfg* cfg_gets(_t_cfg*, char const*) { return nullptr; }
unsigned long cfg_getv_int(_t_cfg*, char const*, int*) { return 2; }
unsigned long cfg_getv_ulong(_t_cfg*, char const*, unsigned long*) { return 2; }
unsigned long cfg_getv_b64(_t_cfg*, char const*, unsigned long*, unsigned char*) { return 2; }
unsigned long cfg_getv_bin(_t_cfg*, char const*, unsigned long*, unsigned char*) { return 2; }
