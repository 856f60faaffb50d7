// Byte streams for the LZH codec's callbacks: a memory stream over a caller's buffer
// and a file stream over a C file in 4096-byte blocks. Each record carries its own
// size in its first word; a call with a record of another size fails with -2.
#pragma once

#include <cstdint>
#include <cstdio>

// Memory stream. As a source it hands out buffer[position .. capacity); as a sink it
// appends at position and fails with -1 when the buffer is full. A sink without a
// buffer only counts the bytes in position.
struct lzhsmstream {
    uint32_t size; // sizeof(lzhsmstream), 24
    unsigned char *buffer;
    uint32_t capacity;
    uint32_t position;
};

void lzhsmInit(lzhsmstream *stream, unsigned char *buffer, uint32_t capacity);
int lzhsmPutBytes(void *bytes, int count, void *stream);
int lzhsmGetBytes(void *bytes, int count, void *stream);

// File stream: reads and writes the file in whole blocks; a sink writes what is left
// in its block on the codec's (null, 0) flush call. The caller opens and closes the
// file.
struct lzhsfstream {
    uint32_t size;  // sizeof(lzhsfstream), 4120
    uint32_t count; // bytes in the block (sink), or bytes read into it (source)
    FILE *file;
    uint32_t position; // next byte of the block to hand out (source)
    uint32_t reserved;
    unsigned char block[4096];
};

void lzhsfInit(lzhsfstream *stream, FILE *file);
int lzhsfPutBytes(void *bytes, int count, void *stream);
int lzhsfGetBytes(void *bytes, int count, void *stream);
