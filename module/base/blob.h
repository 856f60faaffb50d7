#ifndef VOK_BASE_BLOB_H
#define VOK_BASE_BLOB_H

#include <cstdarg>
#include <cstdio>

// The module's byte string. It owns its buffer (malloc) unless told to borrow
// the caller's. Content that is valid UTF-8 is followed by a hidden NUL (not
// counted in the size) so that the blob can be read as a C string; a borrowed
// buffer is never written past its size.
class CBlob
{
  public:
    enum DataFormat : int {
        DF_UTF8 = 0,  // UTF-8 text, i.e. raw bytes
        DF_HEX = 1,   // "01AB..."
        DF_CPP = 2,   // "0x01, 0xAB, ..."
        DF_UTF16 = 3, // 2-byte units, host order
        DF_UTF32 = 4  // 4-byte units, host order
    };

    enum AlignType : int {
        AT_RIGHT = -1, // fill before the data
        AT_CENTER = 0, // fill on both sides
        AT_LEFT = 1    // fill after the data
    };

    enum { FLAG_BORROWED = 0x1 };

    CBlob();
    CBlob(void const *p, unsigned int n, bool copy = true);
    CBlob(char const *s);
    CBlob(unsigned short const *s);
    CBlob(wchar_t const *s);
    CBlob(unsigned char c);
    CBlob(CBlob const &other);
    virtual ~CBlob();

    bool Set(void const *p, unsigned int n, bool copy = true);
    bool Set(char const *s);
    bool Set(unsigned short const *s);
    bool Set(wchar_t const *s);
    bool Set(unsigned char c);
    bool Set(CBlob const &other);
    CBlob &operator=(CBlob const &other);
    CBlob &operator=(char const *s);

    unsigned char *SetSize(unsigned int n);
    unsigned char *CutSize(unsigned int n);
    unsigned char *PutSize(unsigned int n, int pos = -1);
    void Clear();
    void release();
    bool copy();
    void init();

    unsigned char *GetData() const { return m_data; }
    unsigned int GetSize() const { return m_size; }
    bool IsBorrowed() const { return (m_flags & FLAG_BORROWED) != 0; }
    // The content as a C string: NULL when empty or not valid UTF-8. A
    // borrowed buffer holding no NUL is first turned into an owned copy; a
    // const blob cannot do that and gives NULL for it.
    operator char const *();
    operator char const *() const;

    bool Put(void const *p, unsigned int n, int pos = -1);
    bool Put(char const *s, int pos = -1);
    bool Put(unsigned short const *s, int pos = -1);
    bool Put(wchar_t const *s, int pos = -1);
    bool Put(unsigned char c, int pos = -1);
    bool Put(CBlob const &other, int pos = -1);
    CBlob &operator+=(char const *s);
    CBlob &operator+=(CBlob const &other);
    bool PutFormat(int pos, char const *fmt, ...) __attribute__((format(printf, 3, 4)));
    bool PutFormat(int pos, char const *fmt, va_list args) __attribute__((format(printf, 3, 0)));
    bool SetFormat(char const *fmt, ...) __attribute__((format(printf, 2, 3)));
    bool SetFormat(char const *fmt, va_list args) __attribute__((format(printf, 2, 0)));

    void Upper();
    void Lower();
    bool Replace(char a, char b);
    bool Replace(char const *from, char const *to);
    void Swap();
    bool Align(AlignType type, unsigned char fill, unsigned int n);
    void Trim(bool fromStart);
    void TrimChar(unsigned char c, bool fromStart);
    int Compare(void const *p, unsigned int n) const;
    int Compare(char const *s) const;
    int Compare(CBlob const &other) const;

    // Walk of NUL-separated strings ended by an empty one (a PC/SC reader list).
    char const *MBStringFirst();
    char const *MBStringNext();

    bool Write(FILE *f) const;
    bool Write(char const *path) const;
    bool Read(FILE *f, int n = -1);
    bool Read(char const *path);

    bool IsFormat(DataFormat fmt) const;
    bool FromFormat(DataFormat fmt);
    bool ToFormat(DataFormat fmt, char const *sep = nullptr, int perLine = -1);

    // Unit decoders: bytes used (0 at the end of the input) or a negative error.
    static int getc_utf8(unsigned char const *p, unsigned int n, unsigned long *value);
    static int getc_hex(unsigned char const *p, unsigned int n, unsigned char *value);
    static int getc_cpp(unsigned char const *p, unsigned int n, unsigned char *value);

    static bool check_utf8(unsigned char const *p, unsigned int n);
    static bool check_hex(unsigned char const *p, unsigned int n);
    static bool check_cpp(unsigned char const *p, unsigned int n);
    static bool check_utf16(unsigned char const *p, unsigned int n);

    // Converters: (source, source length in bytes, [perLine, sep,] destination).
    // They return the output length in bytes without the terminator (a NUL or
    // a zero unit), which they write after the output; with a NULL destination
    // they only measure. The destination needs room for 4 more bytes.
    // 0 means nothing was converted.
    static unsigned int hex2bin(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int cpp2bin(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int bin2hex(unsigned char const *p, unsigned int n, int perLine,
                                char const *sep, unsigned char *out);
    static unsigned int bin2cpp(unsigned char const *p, unsigned int n, int perLine,
                                char const *sep, unsigned char *out);
    static unsigned int utf8_to_utf16(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int utf16_to_utf8(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int utf8_to_utf32(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int utf16_to_utf32(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int utf32_to_utf8(unsigned char const *p, unsigned int n, unsigned char *out);
    static unsigned int utf32_to_utf16(unsigned char const *p, unsigned int n, unsigned char *out);

  protected:
    unsigned char *m_data;
    unsigned int m_size;
    unsigned int m_flags;
    char *m_cursor;

  private:
    bool adopt(unsigned char *buf, unsigned int n);
    bool insert(void const *p, unsigned int n, int pos, unsigned int *at);
    bool ensureNul();
};

#endif
