// LZHUF codec for card files: LZSS over a 4096-byte window with a binary search tree
// of matches; literals and match lengths are coded with an adaptive Huffman tree,
// match positions with a fixed prefix code. The bit stream is that of the classic
// 1988 coder without its 4-byte length header: the decoder is told how many plain
// bytes to produce, and the encoder stops when its source reports the end.
//
// Invariants: the codec never allocates; everything it needs lives in one flat
// lzhcontext (about 63 KB, so keep it off small thread stacks). Data moves through
// byte callbacks, one byte per call, and the sink gets one (null, 0) flush call at
// the end. A negative callback result ends the run with that value.
#pragma once

#include <cstdint>

enum : uint32_t {
    LZH_N = 4096,                             // window
    LZH_F = 60,                               // look-ahead
    LZH_THRESHOLD = 2,                        // longer matches are coded as matches
    LZH_N_CHAR = 256 - LZH_THRESHOLD + LZH_F, // literals and match lengths 3..60
    LZH_T = LZH_N_CHAR * 2 - 1,               // nodes of the Huffman tree
    LZH_R = LZH_T - 1,                        // its root
    LZH_MAX_FREQ = 0x8000,                    // the tree is rebuilt at this root count
    LZH_NIL = LZH_N,                          // no node in the search tree
};

struct lzhcontext {
    uint32_t getbuf;   // bit input, most significant bit next
    uint32_t getlen;   // bits held in getbuf
    uint32_t putlen;   // bits held in putbuf
    uint32_t putbuf;   // bit output, most significant bit first
    uint32_t textsize; // plain bytes read by the encoder
    uint32_t codesize; // code bytes written by the encoder
    uint32_t reserved;
    uint32_t match_position; // of the last InsertNode
    uint32_t match_length;
    unsigned char text_buf[LZH_N + LZH_F - 1];
    uint32_t lson[LZH_N + 1];
    uint32_t dad[LZH_N + 1];
    uint32_t rson[LZH_N + 257]; // N+1 .. N+256: the roots of one tree per first byte
    uint32_t freq[LZH_T + 1];   // freq[T] is a sentinel
    uint32_t prnt[LZH_T + LZH_N_CHAR];
    uint32_t son[LZH_T];
    uint32_t code; // the last symbol code written and its bit length
    uint32_t len;
};

// A byte source or sink: moves up to count bytes and returns how many it moved; a
// source returns 0 at the end of its data, any negative value is an error.
typedef int (*lzh_callback)(void *bytes, int count, void *user);

void InitLZH(lzhcontext *context);
void EndLZH(lzhcontext *context);

// Compresses everything the source delivers. A null context uses one shared context
// (one call at a time). Returns the number of plain bytes read (0 for no input, which
// writes no code bytes), -2 for a null callback, or the negative callback result.
int LZHPack(lzhcontext *context, lzh_callback source, void *sourceUser, lzh_callback sink,
            void *sinkUser);

// Decodes until at least length plain bytes have been written (a final match may add
// up to 59 more; the caller checks the length). Returns 0, -2 for a null callback,
// -1 when the code ends first, or the negative callback result.
int LZHUnPack(lzhcontext *context, uint32_t length, lzh_callback source, void *sourceUser,
              lzh_callback sink, void *sinkUser);
