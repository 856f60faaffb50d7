// Reader of INI-like configuration files: global keys and [sections] with keys,
// typed getters with Windows-style error numbers (2 not found or malformed,
// 87 bad argument, 234 buffer too small).
#pragma once

struct _t_cfg {
    char *name;
    char *value;     // "" for a section
    _t_cfg *entries; // first key of a section
    _t_cfg *next;    // next entry of the same chain
};

// 0 success, -2 file not readable, -4 no memory, >0 number of the first malformed line.
int cfg_rd(_t_cfg **cfg, char const *path);
void cfg_free(_t_cfg *cfg);
char const *cfg_getv(_t_cfg *cfg, char const *key, int *index);
_t_cfg *cfg_gets(_t_cfg *cfg, char const *name);
unsigned long cfg_getv_int(_t_cfg *cfg, char const *key, int *out);
unsigned long cfg_getv_ulong(_t_cfg *cfg, char const *key, unsigned long *out);
unsigned long cfg_getv_b64(_t_cfg *cfg, char const *key, unsigned long *len, unsigned char *out);
unsigned long cfg_getv_bin(_t_cfg *cfg, char const *key, unsigned long *len, unsigned char *out);
