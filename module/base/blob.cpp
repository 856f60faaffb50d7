#include "base/blob.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/hex.h"

// Every owned buffer carries this many zero bytes after the content: the
// hidden NUL of a text, or the zero unit of UTF-16 and UTF-32 text.
static const unsigned int kTail = 4;

namespace
{

unsigned char *allocBuffer(unsigned int n)
{
    if (n > UINT_MAX - kTail)
        return nullptr;
    unsigned char *buf = static_cast<unsigned char *>(std::malloc(n + kTail));
    if (buf != nullptr)
        std::memset(buf + n, 0, kTail);
    return buf;
}

// Two hex digits as one byte; false when either is not a hex digit.
bool hexPair(unsigned char const *p, unsigned char *value)
{
    int hi = hexDigit((char)p[0]), lo = hexDigit((char)p[1]);
    if (hi < 0 || lo < 0)
        return false;
    if (value != nullptr)
        *value = (unsigned char)(hi << 4 | lo);
    return true;
}

// Length of the UTF-8 sequence a lead byte opens (1 to 6) with the value bits
// the lead byte carries; 0 for a continuation byte or 0xFE / 0xFF.
unsigned int utf8Lead(unsigned char lead, unsigned long *bits)
{
    if (lead < 0x80) {
        *bits = lead;
        return 1;
    }
    if (lead < 0xC0)
        return 0;
    if (lead < 0xE0) {
        *bits = lead & 0x1F;
        return 2;
    }
    if (lead < 0xF0) {
        *bits = lead & 0x0F;
        return 3;
    }
    if (lead < 0xF8) {
        *bits = lead & 0x07;
        return 4;
    }
    if (lead < 0xFC) {
        *bits = lead & 0x03;
        return 5;
    }
    if (lead < 0xFE) {
        *bits = lead & 0x01;
        return 6;
    }
    return 0;
}

bool isAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int compareBytes(void const *a, unsigned int alen, void const *b, unsigned int blen)
{
    if ((a == nullptr || alen == 0) && (b == nullptr || blen == 0))
        return 0;
    if (a == nullptr || alen == 0)
        return -1;
    if (b == nullptr || blen == 0)
        return 1;
    if (alen != blen)
        return alen < blen ? -1 : 1;
    int r = std::memcmp(a, b, alen);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Units of a zero-terminated UTF-16 or UTF-32 text before its zero unit.
template <typename Unit> unsigned int unitCount(Unit const *s)
{
    unsigned int n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

unsigned long load16(unsigned char const *p)
{
    unsigned short u;
    std::memcpy(&u, p, 2);
    return u;
}

unsigned long load32(unsigned char const *p)
{
    unsigned int u;
    std::memcpy(&u, p, 4);
    return u;
}

void store16(unsigned char *&out, unsigned int &len, unsigned long u)
{
    if (out != nullptr) {
        unsigned short v = (unsigned short)u;
        std::memcpy(out + len, &v, 2);
    }
    len += 2;
}

void store32(unsigned char *&out, unsigned int &len, unsigned long u)
{
    if (out != nullptr) {
        unsigned int v = (unsigned int)u;
        std::memcpy(out + len, &v, 4);
    }
    len += 4;
}

// UTF-8 encoding of one value (up to 6 bytes); 0 when the value cannot be encoded.
unsigned int encodeUtf8(unsigned long v, unsigned char *out, unsigned int &len)
{
    unsigned char buf[6];
    unsigned int n;
    if (v < 0x80) {
        buf[0] = (unsigned char)v;
        n = 1;
    } else {
        unsigned int extra;
        unsigned char lead;
        if (v < 0x800) {
            extra = 1;
            lead = 0xC0;
        } else if (v < 0x10000) {
            extra = 2;
            lead = 0xE0;
        } else if (v < 0x200000) {
            extra = 3;
            lead = 0xF0;
        } else if (v < 0x4000000) {
            extra = 4;
            lead = 0xF8;
        } else if (v < 0x80000000UL) {
            extra = 5;
            lead = 0xFC;
        } else {
            return 0;
        }
        for (unsigned int i = extra; i > 0; --i) {
            buf[i] = (unsigned char)(0x80 | (v & 0x3F));
            v >>= 6;
        }
        buf[0] = (unsigned char)(lead | v);
        n = extra + 1;
    }
    if (out != nullptr)
        std::memcpy(out + len, buf, n);
    len += n;
    return n;
}

// One value up to 0x10FFFF as UTF-16: a single unit or a surrogate pair.
void storeUtf16(unsigned char *&out, unsigned int &len, unsigned long v)
{
    if (v > 0xFFFF) {
        v -= 0x10000;
        store16(out, len, 0xD800 | (v >> 10));
        store16(out, len, 0xDC00 | (v & 0x3FF));
    } else {
        store16(out, len, v);
    }
}

void finish(unsigned char *out, unsigned int len)
{
    if (out != nullptr)
        std::memset(out + len, 0, kTail);
}

typedef int (*ByteReader)(unsigned char const *, unsigned int, unsigned char *);

// Decodes a hex or C-array text to the end or to its trailing separators,
// writing the bytes to out unless it is NULL; false on a malformed unit.
bool readBytes(ByteReader read, unsigned char const *p, unsigned int n, unsigned char *out,
               unsigned int &len)
{
    len = 0;
    for (unsigned int i = 0; i < n;) {
        unsigned char b;
        int used = read(p + i, n - i, &b);
        if (used < 0)
            return false;
        if (used == 0)
            break;
        if (out != nullptr)
            out[len] = b;
        ++len;
        i += (unsigned int)used;
    }
    return true;
}

unsigned int binToText(unsigned char const *p, unsigned int n, int perLine, char const *sep,
                       unsigned char *out, bool cpp)
{
    static const char digits[] = "0123456789ABCDEF";
    size_t sepLen = sep != nullptr ? std::strlen(sep) : 0;
    if (out == nullptr && (size_t)n * (4 + sepLen + 1) > UINT_MAX - kTail)
        return 0;       // too long for a blob
    size_t len = 0;     // bytes written
    size_t textLen = 0; // bytes written without line feeds
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char unit[4];
        unsigned int unitLen = 0;
        if (cpp) {
            unit[unitLen++] = '0';
            unit[unitLen++] = 'x';
        }
        unit[unitLen++] = (unsigned char)digits[p[i] >> 4];
        unit[unitLen++] = (unsigned char)digits[p[i] & 0x0F];
        if (out != nullptr)
            std::memcpy(out + len, unit, unitLen);
        len += unitLen;
        textLen += unitLen;
        if (i + 1 == n)
            break;
        if (perLine > 0 && textLen % (size_t)perLine == 0) {
            if (out != nullptr)
                out[len] = '\n';
            ++len;
        } else if (sepLen != 0) {
            if (out != nullptr)
                std::memcpy(out + len, sep, sepLen);
            len += sepLen;
            textLen += sepLen;
        }
    }
    if (out != nullptr)
        std::memset(out + len, 0, kTail);
    return (unsigned int)len;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and ownership

CBlob::CBlob()
{
    init();
}

CBlob::CBlob(void const *p, unsigned int n, bool copy)
{
    init();
    Set(p, n, copy);
}

CBlob::CBlob(char const *s)
{
    init();
    Set(s);
}

CBlob::CBlob(unsigned short const *s)
{
    init();
    Set(s);
}

CBlob::CBlob(wchar_t const *s)
{
    init();
    Set(s);
}

CBlob::CBlob(unsigned char c)
{
    init();
    Set(c);
}

CBlob::CBlob(CBlob const &other)
{
    init();
    Set(other);
}

CBlob::~CBlob()
{
    release();
}

void CBlob::init()
{
    m_data = nullptr;
    m_size = 0;
    m_flags = 0;
    m_cursor = nullptr;
}

void CBlob::release()
{
    if (!(m_flags & FLAG_BORROWED))
        std::free(m_data);
    init();
}

void CBlob::Clear()
{
    release();
}

// Takes an owned buffer (from allocBuffer) of n bytes as the new content.
bool CBlob::adopt(unsigned char *buf, unsigned int n)
{
    release();
    m_data = buf;
    m_size = n;
    return true;
}

bool CBlob::Set(void const *p, unsigned int n, bool copy)
{
    if (p != nullptr && n == 0)
        return false;
    unsigned char const *b = static_cast<unsigned char const *>(p);
    bool own = b != nullptr && m_data != nullptr && !(m_flags & FLAG_BORROWED) && b >= m_data &&
               b < m_data + m_size + kTail;
    if (!copy && !own) {
        if (p == nullptr)
            return false;
        release();
        m_data = static_cast<unsigned char *>(const_cast<void *>(p));
        m_size = n;
        m_flags = FLAG_BORROWED;
        return true;
    }
    if (n == 0) {
        release();
        return true;
    }
    // The copy is made before the old content goes: p may point into it (a
    // blob asked to borrow its own buffer keeps a copy instead).
    unsigned char *buf = allocBuffer(n);
    if (buf == nullptr)
        return false;
    if (p != nullptr)
        std::memcpy(buf, p, n);
    else
        std::memset(buf, 0, n);
    return adopt(buf, n);
}

bool CBlob::Set(char const *s)
{
    if (s == nullptr) {
        release();
        return true;
    }
    size_t n = std::strlen(s);
    if (n > UINT_MAX - kTail)
        return false;
    if (n == 0) {
        release();
        return true;
    }
    return Set(s, (unsigned int)n, true);
}

bool CBlob::Set(unsigned short const *s)
{
    if (s == nullptr) {
        release();
        return true;
    }
    unsigned int units = unitCount(s);
    if (units > (UINT_MAX - kTail) / 2)
        return false;
    unsigned char *buf = allocBuffer(units * 2);
    if (buf == nullptr)
        return false;
    std::memcpy(buf, s, units * 2);
    return adopt(buf, units * 2);
}

bool CBlob::Set(wchar_t const *s)
{
    if (s == nullptr) {
        release();
        return true;
    }
    unsigned int units = unitCount(s);
    if (units > (UINT_MAX - kTail) / 4)
        return false;
    unsigned char *buf = allocBuffer(units * 4);
    if (buf == nullptr)
        return false;
    std::memcpy(buf, s, units * 4);
    return adopt(buf, units * 4);
}

bool CBlob::Set(unsigned char c)
{
    return Set(&c, 1, true);
}

bool CBlob::Set(CBlob const &other)
{
    if (&other == this)
        return true;
    if (other.m_size == 0) {
        release();
        return true;
    }
    return Set(other.m_data, other.m_size, true);
}

CBlob &CBlob::operator=(CBlob const &other)
{
    Set(other);
    return *this;
}

CBlob &CBlob::operator=(char const *s)
{
    if (s != nullptr)
        Set(s);
    return *this;
}

unsigned char *CBlob::SetSize(unsigned int n)
{
    if (n == 0)
        return nullptr;
    if (!Set(nullptr, n, true))
        return nullptr;
    return m_data;
}

unsigned char *CBlob::CutSize(unsigned int n)
{
    if (n == m_size)
        return m_data;
    if (n == 0) {
        release();
        return nullptr;
    }
    unsigned char *buf = allocBuffer(n);
    if (buf == nullptr)
        return nullptr;
    unsigned int keep = n < m_size ? n : m_size;
    if (keep != 0)
        std::memcpy(buf, m_data, keep);
    if (n > keep)
        std::memset(buf + keep, 0, n - keep);
    adopt(buf, n);
    return m_data;
}

// Inserts n bytes of p (zeros when p is NULL) at pos (-1: at the end) into a
// new owned buffer; the old content is released only after the copy.
bool CBlob::insert(void const *p, unsigned int n, int pos, unsigned int *at)
{
    if (pos < -1 || (pos >= 0 && (unsigned int)pos > m_size))
        return false;
    unsigned int where = pos == -1 ? m_size : (unsigned int)pos;
    if (n > UINT_MAX - kTail - m_size)
        return false;
    unsigned char *buf = allocBuffer(m_size + n);
    if (buf == nullptr)
        return false;
    if (where != 0)
        std::memcpy(buf, m_data, where);
    if (p != nullptr)
        std::memcpy(buf + where, p, n);
    else
        std::memset(buf + where, 0, n);
    if (m_size > where)
        std::memcpy(buf + where + n, m_data + where, m_size - where);
    adopt(buf, m_size + n);
    if (at != nullptr)
        *at = where;
    return true;
}

unsigned char *CBlob::PutSize(unsigned int n, int pos)
{
    unsigned int at;
    if (n == 0 || !insert(nullptr, n, pos, &at))
        return nullptr;
    return m_data + at;
}

bool CBlob::copy()
{
    if (!(m_flags & FLAG_BORROWED) || m_size == 0)
        return true;
    unsigned char *buf = allocBuffer(m_size);
    if (buf == nullptr)
        return false;
    std::memcpy(buf, m_data, m_size);
    return adopt(buf, m_size);
}

// A borrowed buffer cannot take a NUL after its content: when its content
// holds none, the blob switches to an owned copy, which always has one.
bool CBlob::ensureNul()
{
    if (m_data == nullptr)
        return false;
    if (!(m_flags & FLAG_BORROWED))
        return true;
    if (std::memchr(m_data, 0, m_size) != nullptr)
        return true;
    return copy();
}

CBlob::operator char const *()
{
    if (m_size == 0 || !check_utf8(m_data, m_size))
        return nullptr;
    if (!ensureNul())
        return nullptr;
    return reinterpret_cast<char const *>(m_data);
}

CBlob::operator char const *() const
{
    if (m_size == 0 || !check_utf8(m_data, m_size))
        return nullptr;
    if ((m_flags & FLAG_BORROWED) && std::memchr(m_data, 0, m_size) == nullptr)
        return nullptr;
    return reinterpret_cast<char const *>(m_data);
}

// ---------------------------------------------------------------------------
// Adding content

bool CBlob::Put(void const *p, unsigned int n, int pos)
{
    if (p != nullptr && n == 0)
        return false;
    if (n == 0)
        return pos >= -1 && (pos == -1 || (unsigned int)pos <= m_size);
    return insert(p, n, pos, nullptr);
}

bool CBlob::Put(char const *s, int pos)
{
    if (s == nullptr)
        return false;
    size_t n = std::strlen(s);
    if (n == 0)
        return true;
    if (n > UINT_MAX)
        return false;
    return insert(s, (unsigned int)n, pos, nullptr);
}

bool CBlob::Put(unsigned short const *s, int pos)
{
    if (s == nullptr)
        return false;
    unsigned int units = unitCount(s);
    if (units == 0)
        return true;
    if (units > UINT_MAX / 2)
        return false;
    return insert(s, units * 2, pos, nullptr);
}

bool CBlob::Put(wchar_t const *s, int pos)
{
    if (s == nullptr)
        return false;
    unsigned int units = unitCount(s);
    if (units == 0)
        return true;
    if (units > UINT_MAX / 4)
        return false;
    return insert(s, units * 4, pos, nullptr);
}

bool CBlob::Put(unsigned char c, int pos)
{
    return insert(&c, 1, pos, nullptr);
}

bool CBlob::Put(CBlob const &other, int pos)
{
    return Put(other.m_size ? other.m_data : nullptr, other.m_size, pos);
}

CBlob &CBlob::operator+=(char const *s)
{
    if (s != nullptr)
        Put(s, -1);
    return *this;
}

CBlob &CBlob::operator+=(CBlob const &other)
{
    Put(other, -1);
    return *this;
}

// printf-style formatting into a malloc'ed text; NULL on failure.
__attribute__((format(printf, 1, 0))) static char *formatText(char const *fmt, va_list args)
{
    unsigned int cap = 128;
    for (;;) {
        char *buf = static_cast<char *>(std::malloc(cap));
        if (buf == nullptr)
            return nullptr;
        va_list copy;
        va_copy(copy, args);
        int n = std::vsnprintf(buf, cap, fmt, copy);
        va_end(copy);
        if (n < 0) {
            std::free(buf);
            return nullptr;
        }
        if ((unsigned int)n < cap)
            return buf;
        std::free(buf);
        if ((unsigned int)n > UINT_MAX - kTail - 128)
            return nullptr;
        cap = ((unsigned int)n / 128 + 1) * 128;
    }
}

bool CBlob::PutFormat(int pos, char const *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    bool ok = PutFormat(pos, fmt, args);
    va_end(args);
    return ok;
}

bool CBlob::PutFormat(int pos, char const *fmt, va_list args)
{
    if (fmt == nullptr)
        return false;
    char *text = formatText(fmt, args);
    if (text == nullptr)
        return false;
    bool ok = Put(text, pos);
    std::free(text);
    return ok;
}

bool CBlob::SetFormat(char const *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    bool ok = SetFormat(fmt, args);
    va_end(args);
    return ok;
}

bool CBlob::SetFormat(char const *fmt, va_list args)
{
    if (fmt == nullptr)
        return false;
    char *text = formatText(fmt, args);
    if (text == nullptr)
        return false;
    bool ok = Set(text);
    std::free(text);
    return ok;
}

// ---------------------------------------------------------------------------
// Text and bytes

void CBlob::Upper()
{
    for (unsigned int i = 0; i < m_size; ++i)
        if (m_data[i] >= 'a' && m_data[i] <= 'z')
            m_data[i] = (unsigned char)(m_data[i] - 'a' + 'A');
}

void CBlob::Lower()
{
    for (unsigned int i = 0; i < m_size; ++i)
        if (m_data[i] >= 'A' && m_data[i] <= 'Z')
            m_data[i] = (unsigned char)(m_data[i] - 'A' + 'a');
}

bool CBlob::Replace(char a, char b)
{
    for (unsigned int i = 0; i < m_size; ++i)
        if (m_data[i] == (unsigned char)a)
            m_data[i] = (unsigned char)b;
    return true;
}

// Replaces every non-overlapping occurrence of from in the text up to the
// first zero byte; the bytes from that zero byte on are kept as they are.
// True when done (also when from does not occur).
bool CBlob::Replace(char const *from, char const *to)
{
    if (from == nullptr || to == nullptr || m_size == 0)
        return false;
    size_t fromLen = std::strlen(from);
    if (fromLen == 0)
        return false;
    size_t toLen = std::strlen(to);
    unsigned char const *nul = static_cast<unsigned char const *>(std::memchr(m_data, 0, m_size));
    size_t textLen = nul != nullptr ? (size_t)(nul - m_data) : m_size;
    size_t restLen = m_size - textLen;
    char const *text = reinterpret_cast<char const *>(m_data);

    size_t count = 0;
    for (size_t i = 0; i + fromLen <= textLen;) {
        if (std::memcmp(text + i, from, fromLen) == 0) {
            ++count;
            i += fromLen;
        } else {
            ++i;
        }
    }
    if (count == 0)
        return true;

    size_t newLen = textLen - count * fromLen + count * toLen + restLen;
    if (newLen > UINT_MAX - kTail)
        return false;
    unsigned char *buf = allocBuffer((unsigned int)newLen);
    if (buf == nullptr)
        return false;
    size_t out = 0;
    for (size_t i = 0; i < textLen;) {
        if (i + fromLen <= textLen && std::memcmp(text + i, from, fromLen) == 0) {
            std::memcpy(buf + out, to, toLen);
            out += toLen;
            i += fromLen;
        } else {
            buf[out++] = (unsigned char)text[i++];
        }
    }
    if (restLen != 0)
        std::memcpy(buf + out, m_data + textLen, restLen);
    return adopt(buf, (unsigned int)newLen);
}

void CBlob::Swap()
{
    for (unsigned int i = 0, j = m_size; i + 1 < j; ++i, --j) {
        unsigned char t = m_data[i];
        m_data[i] = m_data[j - 1];
        m_data[j - 1] = t;
    }
}

bool CBlob::Align(AlignType type, unsigned char fill, unsigned int n)
{
    if (n < m_size)
        return false;
    if (n == m_size)
        return true;
    unsigned int pad = n - m_size;
    unsigned int before = type == AT_RIGHT ? pad : (type == AT_LEFT ? 0 : pad / 2);
    unsigned char *buf = allocBuffer(n);
    if (buf == nullptr)
        return false;
    std::memset(buf, fill, before);
    if (m_size != 0)
        std::memcpy(buf + before, m_data, m_size);
    std::memset(buf + before + m_size, fill, pad - before);
    return adopt(buf, n);
}

// Keeps bytes [from, from + n) of the content.
static bool keepRange(CBlob &blob, unsigned int from, unsigned int n)
{
    if (from == 0 && n == blob.GetSize())
        return true;
    if (from == 0) {
        blob.CutSize(n);
        return true;
    }
    return blob.Set(blob.GetData() + from, n, true);
}

// Drops the bytes that trimmed() selects from one end, always keeping one.
template <typename Pred> static void trimEnd(CBlob &blob, bool fromStart, Pred trimmed)
{
    unsigned char const *data = blob.GetData();
    unsigned int start = 0, end = blob.GetSize();
    if (end < 2)
        return;
    if (fromStart) {
        while (end - start > 1 && trimmed(data[start]))
            ++start;
    } else {
        while (end - start > 1 && trimmed(data[end - 1]))
            --end;
    }
    keepRange(blob, start, end - start);
}

void CBlob::Trim(bool fromStart)
{
    trimEnd(*this, fromStart, [](unsigned char b) { return !isAlnum(b); });
}

void CBlob::TrimChar(unsigned char c, bool fromStart)
{
    trimEnd(*this, fromStart, [c](unsigned char b) { return b == c; });
}

int CBlob::Compare(void const *p, unsigned int n) const
{
    return compareBytes(m_data, m_size, p, n);
}

int CBlob::Compare(char const *s) const
{
    size_t n = s != nullptr ? std::strlen(s) : 0;
    if (n > UINT_MAX)
        return -1;
    return compareBytes(m_data, m_size, s, (unsigned int)n);
}

int CBlob::Compare(CBlob const &other) const
{
    return compareBytes(m_data, m_size, other.m_data, other.m_size);
}

// ---------------------------------------------------------------------------
// Multi-strings

char const *CBlob::MBStringFirst()
{
    m_cursor = nullptr;
    if (m_size == 0 || m_data[0] == 0)
        return nullptr;
    // The last string must end in a NUL that can be read: a borrowed buffer
    // without a final NUL is walked in an owned copy.
    if ((m_flags & FLAG_BORROWED) && m_data[m_size - 1] != 0 && !copy())
        return nullptr;
    m_cursor = reinterpret_cast<char *>(m_data);
    return m_cursor;
}

char const *CBlob::MBStringNext()
{
    if (m_cursor == nullptr || m_data == nullptr)
        return nullptr;
    char *end = reinterpret_cast<char *>(m_data) + m_size;
    if (m_cursor < reinterpret_cast<char *>(m_data) || m_cursor >= end) {
        m_cursor = nullptr;
        return nullptr;
    }
    size_t len = strnlen(m_cursor, (size_t)(end - m_cursor));
    char *next = m_cursor + len + 1;
    if (next >= end || *next == 0) {
        m_cursor = nullptr;
        return nullptr;
    }
    m_cursor = next;
    return m_cursor;
}

// ---------------------------------------------------------------------------
// Files

bool CBlob::Write(FILE *f) const
{
    if (f == nullptr)
        return false;
    if (m_size == 0)
        return true;
    return std::fwrite(m_data, 1, m_size, f) == m_size;
}

bool CBlob::Write(char const *path) const
{
    if (path == nullptr)
        return false;
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr)
        return false;
    bool ok = Write(f);
    if (std::fclose(f) != 0)
        ok = false;
    return ok;
}

bool CBlob::Read(FILE *f, int n)
{
    if (f == nullptr || n < -1)
        return false;
    if (n >= 0) {
        if (n == 0) {
            release();
            return true;
        }
        unsigned char *buf = allocBuffer((unsigned int)n);
        if (buf == nullptr)
            return false;
        if (std::fread(buf, 1, (size_t)n, f) != (size_t)n) {
            std::free(buf);
            return false;
        }
        return adopt(buf, (unsigned int)n);
    }
    // Up to the end of the file, in chunks (the stream need not be seekable).
    unsigned int cap = 4096, len = 0;
    unsigned char *buf = allocBuffer(cap);
    if (buf == nullptr)
        return false;
    for (;;) {
        size_t got = std::fread(buf + len, 1, cap - len, f);
        len += (unsigned int)got;
        if (len < cap) {
            if (std::ferror(f)) {
                std::free(buf);
                return false;
            }
            break;
        }
        if (cap > (UINT_MAX - kTail) / 2) {
            std::free(buf);
            return false;
        }
        unsigned char *bigger = static_cast<unsigned char *>(std::realloc(buf, cap * 2 + kTail));
        if (bigger == nullptr) {
            std::free(buf);
            return false;
        }
        buf = bigger;
        cap *= 2;
    }
    std::memset(buf + len, 0, kTail);
    if (len == 0) {
        std::free(buf);
        release();
        return true;
    }
    return adopt(buf, len);
}

bool CBlob::Read(char const *path)
{
    if (path == nullptr)
        return false;
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    bool ok = Read(f, -1);
    std::fclose(f);
    return ok;
}

// ---------------------------------------------------------------------------
// Unit decoders and checks

int CBlob::getc_utf8(unsigned char const *p, unsigned int n, unsigned long *value)
{
    if (n == 0)
        return 0;
    unsigned long v;
    unsigned int len = utf8Lead(p[0], &v);
    if (len == 0)
        return -2;
    if (len > n)
        return -1;
    for (unsigned int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return -3;
        v = (v << 6) | (p[i] & 0x3F);
    }
    static const unsigned long minimum[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    if (v < minimum[len])
        return -4;
    if (value != nullptr)
        *value = v;
    return (int)len;
}

int CBlob::getc_hex(unsigned char const *p, unsigned int n, unsigned char *value)
{
    unsigned int i = 0;
    while (i < n && (p[i] == ' ' || p[i] == '\r' || p[i] == '\n'))
        ++i;
    if (i == n)
        return 0;
    if (n - i < 2 || !hexPair(p + i, value))
        return -1;
    return (int)(i + 2);
}

int CBlob::getc_cpp(unsigned char const *p, unsigned int n, unsigned char *value)
{
    unsigned int i = 0;
    while (i < n && (p[i] == ' ' || p[i] == ',' || p[i] == '\r' || p[i] == '\n'))
        ++i;
    if (i == n)
        return 0;
    if (n - i < 4 || p[i] != '0' || (p[i + 1] != 'x' && p[i + 1] != 'X') ||
        !hexPair(p + i + 2, value))
        return -1;
    return (int)(i + 4);
}

bool CBlob::check_utf8(unsigned char const *p, unsigned int n)
{
    if (p == nullptr || n == 0)
        return false;
    for (unsigned int i = 0; i < n;) {
        int used = getc_utf8(p + i, n - i, nullptr);
        if (used <= 0)
            return false;
        i += (unsigned int)used;
    }
    return true;
}

bool CBlob::check_hex(unsigned char const *p, unsigned int n)
{
    unsigned int len;
    return p != nullptr && n != 0 && readBytes(getc_hex, p, n, nullptr, len);
}

bool CBlob::check_cpp(unsigned char const *p, unsigned int n)
{
    unsigned int len;
    return p != nullptr && n != 0 && readBytes(getc_cpp, p, n, nullptr, len);
}

bool CBlob::check_utf16(unsigned char const *p, unsigned int n)
{
    if (p == nullptr || n < 2)
        return false;
    bool odd = false;
    if (n & 1) {
        if (p[n - 1] == 0)
            --n; // a trailing NUL byte after the text
        else
            odd = true;
    }
    unsigned int units = n / 2;
    if (units > 256)
        units = 256;

    bool signature = false, reversed = false;
    unsigned int i = 0;
    if (i < units && load16(p) == 0xFEFF) {
        signature = true;
        ++i;
    }
    if (i < units && load16(p + 2 * i) == 0xFFFE) {
        reversed = true;
        ++i;
    }

    static const unsigned long controls[] = {0x000D, 0x000A, 0x0009, 0x0020, 0x3000, 0};
    static const unsigned long reverseControls[] = {0x0D00, 0x0A00, 0x0900, 0x2000, 0};
    bool zeroBytes = false, hasControls = false, hasReverseControls = false;
    unsigned int low = 0, examined = 0;
    for (; i < units; ++i, ++examined) {
        unsigned long u = load16(p + 2 * i);
        if (reversed)
            u = ((u & 0xFF) << 8) | (u >> 8);
        if (u < 256)
            ++low;
        if ((u & 0xFF) == 0 || u < 256)
            zeroBytes = true;
        for (unsigned long c : controls)
            if (u == c)
                hasControls = true;
        for (unsigned long c : reverseControls)
            if (u == c)
                hasReverseControls = true;
    }
    bool statistics = low * 2 > examined;
    if (odd || hasReverseControls)
        return false;
    return zeroBytes || statistics || hasControls || signature;
}

// ---------------------------------------------------------------------------
// Converters

unsigned int CBlob::hex2bin(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len;
    if (!readBytes(getc_hex, p, n, out, len))
        return 0;
    finish(out, len);
    return len;
}

unsigned int CBlob::cpp2bin(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len;
    if (!readBytes(getc_cpp, p, n, out, len))
        return 0;
    finish(out, len);
    return len;
}

unsigned int CBlob::bin2hex(unsigned char const *p, unsigned int n, int perLine, char const *sep,
                            unsigned char *out)
{
    return binToText(p, n, perLine, sep, out, false);
}

unsigned int CBlob::bin2cpp(unsigned char const *p, unsigned int n, int perLine, char const *sep,
                            unsigned char *out)
{
    return binToText(p, n, perLine, sep, out, true);
}

// Reads one UTF-8 sequence for the wide conversions. Continuation bytes are
// taken by their low six bits; a sequence is never read past n.
static int readUtf8Lenient(unsigned char const *p, unsigned int n, unsigned long *value)
{
    unsigned long v;
    unsigned int len = utf8Lead(p[0], &v);
    if (len == 0 || len > 4)
        return -1;
    if (len > n)
        return -1;
    for (unsigned int i = 1; i < len; ++i)
        v = (v << 6) | (p[i] & 0x3F);
    *value = v;
    return (int)len;
}

unsigned int CBlob::utf8_to_utf16(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len = 0;
    for (unsigned int i = 0; i < n;) {
        unsigned char lead = p[i];
        if ((lead >= 0x80 && lead < 0xC0) || lead > 0xF7)
            return 0;
        unsigned long v;
        int used = readUtf8Lenient(p + i, n - i, &v);
        if (used < 0)
            return 0;
        for (int k = 1; k < used; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return 0;
        if (v > 0x10FFFF)
            return 0;
        storeUtf16(out, len, v);
        i += (unsigned int)used;
    }
    finish(out, len);
    return len;
}

unsigned int CBlob::utf16_to_utf8(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len = 0;
    for (unsigned int i = 0; i + 2 <= n; i += 2) {
        unsigned long u = load16(p + i);
        if (u == 0) {
            // modified UTF-8: a zero unit keeps its place as C0 80
            if (out != nullptr) {
                out[len] = 0xC0;
                out[len + 1] = 0x80;
            }
            len += 2;
        } else {
            encodeUtf8(u, out, len);
        }
    }
    finish(out, len);
    return len;
}

unsigned int CBlob::utf8_to_utf32(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len = 0;
    for (unsigned int i = 0; i < n && p[i] != 0;) {
        unsigned long v;
        int used = readUtf8Lenient(p + i, n - i, &v);
        if (used < 0)
            return 0;
        store32(out, len, v);
        i += (unsigned int)used;
    }
    finish(out, len);
    return len;
}

unsigned int CBlob::utf16_to_utf32(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len = 0;
    for (unsigned int i = 0; i + 2 <= n; i += 2) {
        unsigned long u = load16(p + i);
        if (u == 0)
            break;
        if (u >= 0xD800 && u < 0xDC00 && i + 4 <= n) {
            unsigned long lo = load16(p + i + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
                u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        store32(out, len, u);
    }
    finish(out, len);
    return len;
}

unsigned int CBlob::utf32_to_utf8(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len = 0;
    for (unsigned int i = 0; i + 4 <= n; i += 4) {
        unsigned long u = load32(p + i);
        if (u == 0)
            break;
        if (encodeUtf8(u, out, len) == 0)
            return 0;
    }
    finish(out, len);
    return len;
}

unsigned int CBlob::utf32_to_utf16(unsigned char const *p, unsigned int n, unsigned char *out)
{
    unsigned int len = 0;
    for (unsigned int i = 0; i + 4 <= n; i += 4) {
        unsigned long u = load32(p + i);
        if (u == 0)
            break;
        if (u > 0x10FFFF)
            return 0;
        storeUtf16(out, len, u);
    }
    finish(out, len);
    return len;
}

// ---------------------------------------------------------------------------
// Formats

bool CBlob::IsFormat(DataFormat fmt) const
{
    switch (fmt) {
    case DF_UTF8:
        return check_utf8(m_data, m_size);
    case DF_HEX:
        return check_hex(m_data, m_size);
    case DF_CPP:
        return check_cpp(m_data, m_size);
    case DF_UTF16:
        return check_utf16(m_data, m_size);
    default:
        return false;
    }
}

typedef unsigned int (*Converter)(unsigned char const *, unsigned int, unsigned char *);

// Runs a converter over the content and makes its output the new content.
static bool convertContent(CBlob &blob, Converter conv)
{
    unsigned char const *src = blob.GetData();
    unsigned int n = blob.GetSize();
    unsigned int len = conv(src, n, nullptr);
    if (len == 0)
        return false;
    CBlob out;
    unsigned char *buf = out.SetSize(len);
    if (buf == nullptr)
        return false;
    if (conv(src, n, buf) != len)
        return false;
    return blob.Set(out);
}

bool CBlob::FromFormat(DataFormat fmt)
{
    if (fmt == DF_UTF8)
        return true;
    if (m_size == 0)
        return false;
    switch (fmt) {
    case DF_HEX:
        return convertContent(*this, hex2bin);
    case DF_CPP:
        return convertContent(*this, cpp2bin);
    case DF_UTF16:
        return convertContent(*this, utf16_to_utf8);
    case DF_UTF32:
        return convertContent(*this, utf32_to_utf8);
    default:
        return false;
    }
}

bool CBlob::ToFormat(DataFormat fmt, char const *sep, int perLine)
{
    if (m_size == 0)
        return false;
    switch (fmt) {
    case DF_UTF8:
        return convertContent(*this, check_utf16(m_data, m_size) ? utf16_to_utf8 : utf32_to_utf8);
    case DF_HEX:
    case DF_CPP: {
        bool cpp = fmt == DF_CPP;
        unsigned int len = binToText(m_data, m_size, perLine, sep, nullptr, cpp);
        CBlob out;
        unsigned char *buf = out.SetSize(len);
        if (buf == nullptr)
            return false;
        binToText(m_data, m_size, perLine, sep, buf, cpp);
        return Set(out);
    }
    case DF_UTF16:
        return convertContent(*this, utf8_to_utf16);
    case DF_UTF32:
        return convertContent(*this, utf8_to_utf32);
    default:
        return false;
    }
}
