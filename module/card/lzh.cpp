// LZHUF encoder and decoder over one flat context. The search tree, the adaptive
// Huffman tree and the bit packing follow the classic coder step for step, so that
// the bytes on the card are those of every other reader of the card's files. One
// difference: a symbol code deeper than 16 levels is written whole (the classic
// coder cut it to 16 bits and so wrote an undecodable stream).
#include "card/lzh.h"

#include <cstring>

namespace
{

const uint32_t N = LZH_N, F = LZH_F, T = LZH_T, R = LZH_R, NIL = LZH_NIL;

// The fixed prefix code of the upper 6 bits of a match position: one code of 3 bits,
// 3 of 4, 8 of 5, 12 of 6, 24 of 7 and 16 of 8 bits, assigned in ascending order
// (p_len, p_code), and its inverse by the first 8 code bits (d_code, d_len).
struct PositionCode {
    unsigned char p_len[64];
    unsigned char p_code[64];
    unsigned char d_code[256];
    unsigned char d_len[256];
};

constexpr PositionCode makePositionCode()
{
    PositionCode t{};
    const unsigned char groups[6][2] = {{3, 1}, {4, 3}, {5, 8}, {6, 12}, {7, 24}, {8, 16}};
    unsigned code = 0, index = 0;
    for (auto const &group : groups) {
        for (unsigned n = 0; n < group[1]; ++n, ++index) {
            unsigned span = 1u << (8 - group[0]);
            t.p_len[index] = group[0];
            t.p_code[index] = static_cast<unsigned char>(code);
            for (unsigned b = 0; b < span; ++b) {
                t.d_code[code + b] = static_cast<unsigned char>(index);
                t.d_len[code + b] = group[0];
            }
            code += span;
        }
    }
    return t;
}

constexpr PositionCode kPosition = makePositionCode();
static_assert(kPosition.p_code[1] == 0x20 && kPosition.p_code[4] == 0x50 &&
                  kPosition.p_code[12] == 0x90 && kPosition.p_code[24] == 0xC0 &&
                  kPosition.p_code[48] == 0xF0 && kPosition.p_code[63] == 0xFF,
              "position code");

lzhcontext g_shared;

// The callbacks of one run and the first error they reported.
struct Io {
    lzh_callback source;
    void *sourceUser;
    lzh_callback sink;
    void *sinkUser;
    bool ended;
    int error;
};

bool readByte(Io &io, unsigned char &c)
{
    if (io.ended)
        return false;
    int n = io.source(&c, 1, io.sourceUser);
    if (n < 0)
        io.error = n;
    io.ended = n <= 0;
    return n > 0;
}

void writeByte(Io &io, uint32_t value)
{
    if (io.error != 0)
        return;
    unsigned char c = static_cast<unsigned char>(value);
    int n = io.sink(&c, 1, io.sinkUser);
    if (n < 0)
        io.error = n;
}

int flush(Io &io)
{
    if (io.error == 0) {
        int n = io.sink(nullptr, 0, io.sinkUser);
        if (n < 0)
            io.error = n;
    }
    return io.error;
}

// --- search tree of the window's strings ---

void InitTree(lzhcontext *x)
{
    for (uint32_t i = N + 1; i <= N + 256; i++)
        x->rson[i] = NIL;
    for (uint32_t i = 0; i < N; i++)
        x->dad[i] = NIL;
}

// Puts node r in place of node p (p leaves the tree).
void replaceNode(lzhcontext *x, uint32_t p, uint32_t r)
{
    x->dad[r] = x->dad[p];
    x->lson[r] = x->lson[p];
    x->rson[r] = x->rson[p];
    x->dad[x->lson[p]] = r;
    x->dad[x->rson[p]] = r;
    if (x->rson[x->dad[p]] == p)
        x->rson[x->dad[p]] = r;
    else
        x->lson[x->dad[p]] = r;
    x->dad[p] = NIL;
}

// Notes a match of i bytes at node p for the string at r: longer wins, and among
// equally long ones the nearest. True when the match is full length.
bool noteMatch(lzhcontext *x, uint32_t r, uint32_t p, uint32_t i)
{
    uint32_t position = ((r - p) & (N - 1)) - 1;
    if (i > x->match_length) {
        x->match_position = position;
        x->match_length = i;
        return i >= F;
    }
    if (i == x->match_length && position < x->match_position)
        x->match_position = position;
    return false;
}

void InsertNode(lzhcontext *x, uint32_t r)
{
    int cmp = 1;
    unsigned char const *key = &x->text_buf[r];
    uint32_t p = N + 1 + key[0];
    x->rson[r] = x->lson[r] = NIL;
    x->match_length = 0;
    for (;;) {
        uint32_t *next = cmp >= 0 ? &x->rson[p] : &x->lson[p];
        if (*next == NIL) {
            *next = r;
            x->dad[r] = p;
            return;
        }
        p = *next;
        uint32_t i = 1;
        for (; i < F; i++)
            if ((cmp = key[i] - x->text_buf[p + i]) != 0)
                break;
        if (i > LZH_THRESHOLD && noteMatch(x, r, p, i))
            break;
    }
    replaceNode(x, p, r);
}

void DeleteNode(lzhcontext *x, uint32_t p)
{
    if (x->dad[p] == NIL)
        return;
    uint32_t q;
    if (x->rson[p] == NIL) {
        q = x->lson[p];
    } else if (x->lson[p] == NIL) {
        q = x->rson[p];
    } else {
        q = x->lson[p];
        if (x->rson[q] != NIL) {
            do {
                q = x->rson[q];
            } while (x->rson[q] != NIL);
            x->rson[x->dad[q]] = x->lson[q];
            x->dad[x->lson[q]] = x->dad[q];
            x->lson[q] = x->lson[p];
            x->dad[x->lson[p]] = q;
        }
        x->rson[q] = x->rson[p];
        x->dad[x->rson[p]] = q;
    }
    x->dad[q] = x->dad[p];
    if (x->rson[x->dad[p]] == p)
        x->rson[x->dad[p]] = q;
    else
        x->lson[x->dad[p]] = q;
    x->dad[p] = NIL;
}

// --- adaptive Huffman tree ---

void StartHuff(lzhcontext *x)
{
    for (uint32_t i = 0; i < LZH_N_CHAR; i++) {
        x->freq[i] = 1;
        x->son[i] = i + T;
        x->prnt[i + T] = i;
    }
    for (uint32_t i = 0, j = LZH_N_CHAR; j <= R; i += 2, j++) {
        x->freq[j] = x->freq[i] + x->freq[i + 1];
        x->son[j] = i;
        x->prnt[i] = x->prnt[i + 1] = j;
    }
    x->freq[T] = 0xFFFF;
    x->prnt[R] = 0;
}

// Halves the leaves' counts and builds the tree again.
void reconst(lzhcontext *x)
{
    uint32_t j = 0;
    for (uint32_t i = 0; i < T; i++) {
        if (x->son[i] >= T) {
            x->freq[j] = (x->freq[i] + 1) / 2;
            x->son[j] = x->son[i];
            j++;
        }
    }
    for (uint32_t i = 0, j = LZH_N_CHAR; j < T; i += 2, j++) {
        uint32_t f = x->freq[i] + x->freq[i + 1];
        uint32_t k = j - 1;
        while (f < x->freq[k])
            k--;
        k++;
        std::memmove(&x->freq[k + 1], &x->freq[k], (j - k) * sizeof x->freq[0]);
        x->freq[k] = f;
        std::memmove(&x->son[k + 1], &x->son[k], (j - k) * sizeof x->son[0]);
        x->son[k] = i;
    }
    for (uint32_t i = 0; i < T; i++) {
        uint32_t k = x->son[i];
        x->prnt[k] = i;
        if (k < T)
            x->prnt[k + 1] = i;
    }
}

// Moves node c above the last node of lower count; returns its new place.
uint32_t swapUp(lzhcontext *x, uint32_t c)
{
    uint32_t k = x->freq[c];
    uint32_t l = c + 1;
    while (k > x->freq[++l]) {
    }
    l--;
    x->freq[c] = x->freq[l];
    x->freq[l] = k;
    uint32_t i = x->son[c];
    x->prnt[i] = l;
    if (i < T)
        x->prnt[i + 1] = l;
    uint32_t j = x->son[l];
    x->son[l] = i;
    x->prnt[j] = c;
    if (j < T)
        x->prnt[j + 1] = c;
    x->son[c] = j;
    return l;
}

void update(lzhcontext *x, uint32_t symbol)
{
    if (x->freq[R] == LZH_MAX_FREQ)
        reconst(x);
    uint32_t c = x->prnt[symbol + T];
    do {
        uint32_t k = ++x->freq[c];
        if (k > x->freq[c + 1])
            c = swapUp(x, c);
    } while ((c = x->prnt[c]) != 0);
}

// --- bit output ---

// Writes the first l (at most 16) bits of the 16-bit left-aligned code c.
void Putcode(lzhcontext *x, Io &io, uint32_t l, uint32_t c)
{
    x->putbuf |= c >> x->putlen;
    x->putlen += l;
    if (x->putlen < 8)
        return;
    writeByte(io, x->putbuf >> 8);
    x->putlen -= 8;
    if (x->putlen >= 8) {
        writeByte(io, x->putbuf);
        x->codesize += 2;
        x->putlen -= 8;
        x->putbuf = (c << (l - x->putlen)) & 0xFFFF;
    } else {
        x->putbuf = (x->putbuf << 8) & 0xFFFF;
        x->codesize++;
    }
}

void EncodeChar(lzhcontext *x, Io &io, uint32_t symbol)
{
    // from the leaf up to the root; the root's branch ends up first
    uint32_t code = 0, length = 0;
    uint32_t k = x->prnt[symbol + T];
    do {
        code >>= 1;
        if (k & 1)
            code |= 0x80000000u;
        length++;
    } while ((k = x->prnt[k]) != R);
    if (length <= 16) {
        Putcode(x, io, length, code >> 16);
    } else {
        Putcode(x, io, 16, code >> 16);
        Putcode(x, io, length - 16, code & 0xFFFF);
    }
    x->code = code >> 16;
    x->len = length;
    update(x, symbol);
}

void EncodePosition(lzhcontext *x, Io &io, uint32_t position)
{
    uint32_t upper = position >> 6;
    Putcode(x, io, kPosition.p_len[upper], static_cast<uint32_t>(kPosition.p_code[upper]) << 8);
    Putcode(x, io, 6, (position & 0x3F) << 10);
}

void EncodeEnd(lzhcontext *x, Io &io)
{
    if (x->putlen == 0)
        return;
    writeByte(io, x->putbuf >> 8);
    x->codesize++;
}

// --- bit input ---

void fillBits(lzhcontext *x, Io &io)
{
    unsigned char c;
    while (x->getlen <= 8 && readByte(io, c)) {
        x->getbuf |= static_cast<uint32_t>(c) << (8 - x->getlen);
        x->getlen += 8;
    }
}

int inputEnded(Io const &io)
{
    return io.error != 0 ? io.error : -1;
}

int GetBit(lzhcontext *x, Io &io)
{
    fillBits(x, io);
    if (x->getlen == 0)
        return inputEnded(io);
    int bit = (x->getbuf >> 15) & 1;
    x->getbuf = (x->getbuf << 1) & 0xFFFF;
    x->getlen--;
    return bit;
}

int GetByte(lzhcontext *x, Io &io)
{
    fillBits(x, io);
    if (x->getlen < 8)
        return inputEnded(io);
    int byte = x->getbuf >> 8;
    x->getbuf = (x->getbuf << 8) & 0xFFFF;
    x->getlen -= 8;
    return byte;
}

int DecodeChar(lzhcontext *x, Io &io)
{
    uint32_t c = x->son[R];
    while (c < T) {
        int bit = GetBit(x, io);
        if (bit < 0)
            return bit;
        c = x->son[c + bit];
    }
    c -= T;
    update(x, c);
    return static_cast<int>(c);
}

int DecodePosition(lzhcontext *x, Io &io)
{
    int i = GetByte(x, io);
    if (i < 0)
        return i;
    uint32_t upper = static_cast<uint32_t>(kPosition.d_code[i]) << 6;
    for (int j = kPosition.d_len[i] - 2; j > 0; j--) {
        int bit = GetBit(x, io);
        if (bit < 0)
            return bit;
        i = (i << 1) + bit;
    }
    return static_cast<int>(upper | (i & 0x3F));
}

// --- the two directions ---

void startWindow(lzhcontext *x)
{
    std::memset(x->text_buf, ' ', N - F);
}

// Stores one more plain byte at s and moves the window on by one.
void slideIn(lzhcontext *x, uint32_t &s, uint32_t &r, unsigned char c)
{
    DeleteNode(x, s);
    x->text_buf[s] = c;
    if (s < F - 1)
        x->text_buf[s + N] = c;
    s = (s + 1) & (N - 1);
    r = (r + 1) & (N - 1);
    InsertNode(x, r);
}

void encodeAt(lzhcontext *x, Io &io, uint32_t r, uint32_t len)
{
    if (x->match_length > len)
        x->match_length = len;
    if (x->match_length <= LZH_THRESHOLD) {
        x->match_length = 1;
        EncodeChar(x, io, x->text_buf[r]);
    } else {
        EncodeChar(x, io, 255 - LZH_THRESHOLD + x->match_length);
        EncodePosition(x, io, x->match_position);
    }
}

int encode(lzhcontext *x, Io &io)
{
    StartHuff(x);
    InitTree(x);
    uint32_t s = 0, r = N - F, len = 0;
    startWindow(x);
    unsigned char c;
    while (len < F && readByte(io, c))
        x->text_buf[r + len++] = c;
    x->textsize = len;
    if (len == 0)
        return io.error != 0 ? io.error : flush(io);
    for (uint32_t i = 1; i <= F; i++)
        InsertNode(x, r - i);
    InsertNode(x, r);
    do {
        encodeAt(x, io, r, len);
        uint32_t last = x->match_length, i = 0;
        for (; i < last && readByte(io, c); i++)
            slideIn(x, s, r, c);
        x->textsize += i;
        for (; i < last; i++) {
            DeleteNode(x, s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len)
                InsertNode(x, r);
        }
    } while (len > 0 && io.error == 0);
    EncodeEnd(x, io);
    int error = flush(io);
    return error != 0 ? error : static_cast<int>(x->textsize);
}

void emit(lzhcontext *x, Io &io, uint32_t &r, uint32_t c)
{
    writeByte(io, c);
    x->text_buf[r] = static_cast<unsigned char>(c);
    r = (r + 1) & (N - 1);
}

int decode(lzhcontext *x, Io &io, uint32_t length)
{
    StartHuff(x);
    startWindow(x);
    uint32_t r = N - F;
    for (uint32_t count = 0; count < length && io.error == 0;) {
        int c = DecodeChar(x, io);
        if (c < 0)
            return c;
        if (c < 256) {
            emit(x, io, r, static_cast<uint32_t>(c));
            count++;
            continue;
        }
        int position = DecodePosition(x, io);
        if (position < 0)
            return position;
        uint32_t from = (r - static_cast<uint32_t>(position) - 1) & (N - 1);
        uint32_t n = static_cast<uint32_t>(c) - 255 + LZH_THRESHOLD;
        for (uint32_t k = 0; k < n; k++)
            emit(x, io, r, x->text_buf[(from + k) & (N - 1)]);
        count += n;
    }
    return io.error != 0 ? io.error : flush(io);
}

} // namespace

void InitLZH(lzhcontext *context)
{
    std::memset(context, 0, sizeof *context);
}

void EndLZH(lzhcontext *) {}

int LZHPack(lzhcontext *context, lzh_callback source, void *sourceUser, lzh_callback sink,
            void *sinkUser)
{
    if (source == nullptr || sink == nullptr)
        return -2;
    lzhcontext *x = context != nullptr ? context : &g_shared;
    InitLZH(x);
    Io io = {source, sourceUser, sink, sinkUser, false, 0};
    return encode(x, io);
}

int LZHUnPack(lzhcontext *context, uint32_t length, lzh_callback source, void *sourceUser,
              lzh_callback sink, void *sinkUser)
{
    if (source == nullptr || sink == nullptr)
        return -2;
    lzhcontext *x = context != nullptr ? context : &g_shared;
    InitLZH(x);
    Io io = {source, sourceUser, sink, sinkUser, false, 0};
    return decode(x, io, length);
}
