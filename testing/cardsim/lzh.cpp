#include "lzh.h"

#include <cstring>
#include <memory>

namespace cardsim
{

unsigned char Crc8(const unsigned char *data, size_t length)
{
    unsigned reg = 0xC7;
    for (size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80) ? ((reg << 1) ^ 0x1D) & 0xFF : (reg << 1) & 0xFF;
    }
    return static_cast<unsigned char>(reg);
}

namespace
{

constexpr int N = 4096;                     // window
constexpr int F = 60;                       // look-ahead
constexpr int THRESHOLD = 2;                // longer matches are coded as matches
constexpr int NIL = N;                      // empty search-tree link
constexpr int N_CHAR = 256 - THRESHOLD + F; // literals and match lengths
constexpr int T = N_CHAR * 2 - 1;           // Huffman tree size
constexpr int R = T - 1;                    // its root
constexpr unsigned MAX_FREQ = 0x8000;

// Position codes for the upper 6 bits of a match position: a canonical prefix code
// with 1 code of 3 bits, 3 of 4, 8 of 5, 12 of 6, 24 of 7 and 16 of 8 bits.
struct PositionTables {
    unsigned char pLen[64];
    unsigned char pCode[64];
    unsigned char dCode[256];
    unsigned char dLen[256];
    PositionTables()
    {
        static const int counts[][2] = {{3, 1}, {4, 3}, {5, 8}, {6, 12}, {7, 24}, {8, 16}};
        int index = 0;
        unsigned code = 0;
        for (const auto &c : counts) {
            for (int k = 0; k < c[1]; ++k, ++index) {
                pLen[index] = static_cast<unsigned char>(c[0]);
                pCode[index] = static_cast<unsigned char>(code);
                unsigned span = 1u << (8 - c[0]);
                for (unsigned b = 0; b < span; ++b) {
                    dCode[code + b] = static_cast<unsigned char>(index);
                    dLen[code + b] = static_cast<unsigned char>(c[0]);
                }
                code += span;
            }
        }
    }
};

const PositionTables &Tables()
{
    static const PositionTables tables;
    return tables;
}

class Codec
{
  public:
    // ---- adaptive Huffman tree ----
    void StartHuff()
    {
        for (int i = 0; i < N_CHAR; ++i) {
            freq[i] = 1;
            son[i] = i + T;
            prnt[i + T] = i;
        }
        for (int i = 0, j = N_CHAR; j <= R; i += 2, ++j) {
            freq[j] = freq[i] + freq[i + 1];
            son[j] = i;
            prnt[i] = prnt[i + 1] = j;
        }
        freq[T] = 0xFFFF;
        prnt[R] = 0;
    }

    void Reconst()
    {
        int j = 0;
        for (int i = 0; i < T; ++i) {
            if (son[i] >= T) {
                freq[j] = (freq[i] + 1) / 2;
                son[j] = son[i];
                ++j;
            }
        }
        for (int i = 0, j2 = N_CHAR; j2 < T; i += 2, ++j2) {
            unsigned f = freq[i] + freq[i + 1];
            freq[j2] = f;
            int k = j2 - 1;
            while (f < freq[k])
                --k;
            ++k;
            for (int m = j2; m > k; --m) {
                freq[m] = freq[m - 1];
                son[m] = son[m - 1];
            }
            freq[k] = f;
            son[k] = i;
        }
        for (int i = 0; i < T; ++i) {
            int k = son[i];
            if (k >= T)
                prnt[k] = i;
            else
                prnt[k] = prnt[k + 1] = i;
        }
    }

    void Update(int c)
    {
        if (freq[R] == MAX_FREQ)
            Reconst();
        c = prnt[c + T];
        do {
            unsigned k = ++freq[c];
            int l = c + 1;
            if (k > freq[l]) {
                while (k > freq[++l]) {
                }
                --l;
                freq[c] = freq[l];
                freq[l] = k;

                int i = son[c];
                prnt[i] = l;
                if (i < T)
                    prnt[i + 1] = l;
                int j = son[l];
                son[l] = i;
                prnt[j] = c;
                if (j < T)
                    prnt[j + 1] = c;
                son[c] = j;
                c = l;
            }
        } while ((c = prnt[c]) != 0);
    }

    // ---- search tree (encoder) ----
    void InitTree()
    {
        for (int i = N + 1; i <= N + 256; ++i)
            rson[i] = NIL;
        for (int i = 0; i < N; ++i)
            dad[i] = NIL;
    }

    void InsertNode(int r)
    {
        int cmp = 1;
        const unsigned char *key = &text[r];
        int p = N + 1 + key[0];
        rson[r] = lson[r] = NIL;
        matchLength = 0;
        for (;;) {
            if (cmp >= 0) {
                if (rson[p] != NIL) {
                    p = rson[p];
                } else {
                    rson[p] = r;
                    dad[r] = p;
                    return;
                }
            } else {
                if (lson[p] != NIL) {
                    p = lson[p];
                } else {
                    lson[p] = r;
                    dad[r] = p;
                    return;
                }
            }
            int i;
            for (i = 1; i < F; ++i)
                if ((cmp = key[i] - text[p + i]) != 0)
                    break;
            if (i > THRESHOLD) {
                int pos = ((r - p) & (N - 1)) - 1;
                if (i > matchLength) {
                    matchPosition = pos;
                    if ((matchLength = i) >= F)
                        break;
                } else if (i == matchLength && pos < matchPosition) {
                    matchPosition = pos;
                }
            }
        }
        // full-length match: r takes p's place in the tree
        dad[r] = dad[p];
        lson[r] = lson[p];
        rson[r] = rson[p];
        dad[lson[p]] = r;
        dad[rson[p]] = r;
        if (rson[dad[p]] == p)
            rson[dad[p]] = r;
        else
            lson[dad[p]] = r;
        dad[p] = NIL;
    }

    void DeleteNode(int p)
    {
        if (dad[p] == NIL)
            return;
        int q;
        if (rson[p] == NIL) {
            q = lson[p];
        } else if (lson[p] == NIL) {
            q = rson[p];
        } else {
            q = lson[p];
            if (rson[q] != NIL) {
                do {
                    q = rson[q];
                } while (rson[q] != NIL);
                rson[dad[q]] = lson[q];
                dad[lson[q]] = dad[q];
                lson[q] = lson[p];
                dad[lson[p]] = q;
            }
            rson[q] = rson[p];
            dad[rson[p]] = q;
        }
        dad[q] = dad[p];
        if (rson[dad[p]] == p)
            rson[dad[p]] = q;
        else
            lson[dad[p]] = q;
        dad[p] = NIL;
    }

    // ---- bit output ----
    void PutBits(int count, uint64_t bits) // the low count bits, most significant first
    {
        for (int b = count - 1; b >= 0; --b) {
            outByte = static_cast<unsigned>((outByte << 1) | ((bits >> b) & 1));
            if (++outBits == 8) {
                out->push_back(static_cast<unsigned char>(outByte));
                outByte = 0;
                outBits = 0;
            }
        }
    }

    void EncodeChar(int c)
    {
        // walk from the leaf to the root; the last step taken is the first bit sent
        uint64_t code = 0;
        int length = 0;
        int k = prnt[c + T];
        do {
            code |= static_cast<uint64_t>(k & 1) << length;
            ++length;
        } while ((k = prnt[k]) != R);
        PutBits(length, code);
        Update(c);
    }

    void EncodePosition(unsigned c)
    {
        const PositionTables &t = Tables();
        unsigned upper = c >> 6;
        PutBits(t.pLen[upper], t.pCode[upper] >> (8 - t.pLen[upper]));
        PutBits(6, c & 0x3F);
    }

    void EncodeEnd()
    {
        if (outBits > 0) {
            out->push_back(static_cast<unsigned char>(outByte << (8 - outBits)));
            outByte = 0;
            outBits = 0;
        }
    }

    // ---- bit input ----
    int GetBit()
    {
        if (inPos >= inLength * 8)
            return -1;
        int bit = (in[inPos / 8] >> (7 - inPos % 8)) & 1;
        ++inPos;
        return bit;
    }

    int GetBits(int count)
    {
        int v = 0;
        for (int i = 0; i < count; ++i) {
            int b = GetBit();
            if (b < 0)
                return -1;
            v = (v << 1) | b;
        }
        return v;
    }

    int DecodeChar()
    {
        int c = son[R];
        while (c < T) {
            int b = GetBit();
            if (b < 0)
                return -1;
            c = son[c + b];
        }
        c -= T;
        Update(c);
        return c;
    }

    int DecodePosition()
    {
        const PositionTables &t = Tables();
        int i = GetBits(8);
        if (i < 0)
            return -1;
        int upper = t.dCode[i];
        int extra = GetBits(t.dLen[i] - 2);
        if (extra < 0)
            return -1;
        i = (i << (t.dLen[i] - 2)) | extra;
        return (upper << 6) | (i & 0x3F);
    }

    unsigned char text[N + F - 1];
    int lson[N + 1], dad[N + 1], rson[N + 257];
    int matchPosition = 0, matchLength = 0;
    unsigned freq[T + 1];
    int prnt[T + N_CHAR];
    int son[T];

    Bytes *out = nullptr;
    unsigned outByte = 0;
    int outBits = 0;
    const unsigned char *in = nullptr;
    size_t inLength = 0;
    size_t inPos = 0; // in bits
};

} // namespace

Bytes LzhPack(const Bytes &plain)
{
    Bytes result;
    if (plain.empty())
        return result;
    auto codec = std::make_unique<Codec>();
    Codec &c = *codec;
    c.out = &result;
    size_t next = 0; // next input byte
    auto get = [&](int &byte) {
        if (next >= plain.size())
            return false;
        byte = plain[next++];
        return true;
    };

    c.StartHuff();
    c.InitTree();
    int s = 0;
    int r = N - F;
    std::memset(c.text, ' ', r);
    int len = 0;
    int byte;
    while (len < F && get(byte))
        c.text[r + len++] = static_cast<unsigned char>(byte);
    for (int i = 1; i <= F; ++i)
        c.InsertNode(r - i);
    c.InsertNode(r);
    do {
        if (c.matchLength > len)
            c.matchLength = len;
        if (c.matchLength <= THRESHOLD) {
            c.matchLength = 1;
            c.EncodeChar(c.text[r]);
        } else {
            c.EncodeChar(255 - THRESHOLD + c.matchLength);
            c.EncodePosition(static_cast<unsigned>(c.matchPosition));
        }
        int last = c.matchLength;
        int i = 0;
        for (; i < last && get(byte); ++i) {
            c.DeleteNode(s);
            c.text[s] = static_cast<unsigned char>(byte);
            if (s < F - 1)
                c.text[s + N] = static_cast<unsigned char>(byte);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            c.InsertNode(r);
        }
        while (i++ < last) {
            c.DeleteNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len)
                c.InsertNode(r);
        }
    } while (len > 0);
    c.EncodeEnd();
    return result;
}

bool LzhUnpack(const unsigned char *data, size_t length, size_t plainLength, Bytes &out)
{
    out.clear();
    out.reserve(plainLength + F);
    auto codec = std::make_unique<Codec>();
    Codec &c = *codec;
    c.in = data;
    c.inLength = data ? length : 0;
    c.StartHuff();
    std::memset(c.text, ' ', N - F);
    int r = N - F;
    while (out.size() < plainLength) {
        int ch = c.DecodeChar();
        if (ch < 0)
            return false;
        if (ch < 256) {
            out.push_back(static_cast<unsigned char>(ch));
            c.text[r++] = static_cast<unsigned char>(ch);
            r &= N - 1;
        } else {
            int pos = c.DecodePosition();
            if (pos < 0)
                return false;
            int from = (r - pos - 1) & (N - 1);
            int count = ch - 255 + THRESHOLD;
            // a match running past the plain length means the length is wrong
            if (out.size() + static_cast<size_t>(count) > plainLength)
                return false;
            for (int k = 0; k < count; ++k) {
                unsigned char b = c.text[(from + k) & (N - 1)];
                out.push_back(b);
                c.text[r++] = b;
                r &= N - 1;
            }
        }
    }
    return true;
}

Bytes PackCardFile(const Bytes &plain)
{
    Bytes stored = LzhPack(plain);
    stored.push_back(Crc8(plain));
    return stored;
}

bool UnpackCardFile(const Bytes &stored, size_t plainLength, Bytes &plain)
{
    plain.clear();
    if (stored.empty())
        return false;
    if (!LzhUnpack(stored.data(), stored.size() - 1, plainLength, plain))
        return false;
    return Crc8(plain) == stored.back();
}

} // namespace cardsim
