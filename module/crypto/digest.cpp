#include "crypto/digest.h"

#include <mbedtls/md5.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>
#include <mbedtls/sha512.h>

#include <cstring>
#include <new>

CDigest::CDigest() : m_ctx(nullptr), m_flags(0), m_algId(0)
{
    memset(m_digest, 0, sizeof(m_digest));
}

CDigest::~CDigest() {}

void CDigest::Reset()
{
    m_flags = STATE_RESET;
}

void CDigest::Hash(void const *, unsigned long)
{
    m_flags = STATE_FINAL;
}

void CDigest::Update(void const *, unsigned long)
{
    m_flags = STATE_UPDATED;
}

void CDigest::Final()
{
    m_flags = STATE_FINAL;
}

unsigned long CDigest::toHex(unsigned char const *bytes, unsigned long count, char const *separator,
                             char *out)
{
    static const char DIGITS[] = "0123456789ABCDEF";
    size_t sepLength = separator != nullptr ? strlen(separator) : 0;
    unsigned long total = count * 2 + (count > 0 ? (count - 1) * sepLength : 0);
    if (out == nullptr)
        return total + 1;
    char *p = out;
    for (unsigned long i = 0; i < count; i++) {
        if (i > 0 && sepLength > 0) {
            memcpy(p, separator, sepLength);
            p += sepLength;
        }
        *p++ = DIGITS[bytes[i] >> 4];
        *p++ = DIGITS[bytes[i] & 0x0F];
    }
    *p = '\0';
    return total;
}

unsigned long CDigest::getForm(void *buffer, unsigned long form, unsigned long length,
                               unsigned char const *prefix, unsigned long prefixLength) const
{
    char *out = static_cast<char *>(buffer);
    switch (form) {
    case FORM_RAW:
        if (out != nullptr)
            memcpy(out, m_digest, length);
        return length;
    case FORM_HEX:
        return toHex(m_digest, length, nullptr, out);
    case FORM_HEX_COLON:
        return toHex(m_digest, length, ":", out);
    case FORM_DIGEST_INFO:
        if (out != nullptr) {
            memcpy(out, prefix, prefixLength);
            memcpy(out + prefixLength, m_digest, length);
        }
        return prefixLength + length;
    default:
        return 0;
    }
}

namespace
{

// What each algorithm needs from the crypto library. The library's return
// codes are ignored: with a valid context these calls cannot fail.
struct Md5Algo {
    using Ctx = mbedtls_md5_context;
    static constexpr unsigned long ID = CDigest::ALG_MD5;
    static constexpr unsigned long LENGTH = 16;
    static constexpr unsigned char PREFIX[] = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08,
                                               0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d,
                                               0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
    static void init(Ctx *c) { mbedtls_md5_init(c); }
    static void free(Ctx *c) { mbedtls_md5_free(c); }
    static void starts(Ctx *c) { (void)mbedtls_md5_starts_ret(c); }
    static void update(Ctx *c, unsigned char const *d, size_t n)
    {
        (void)mbedtls_md5_update_ret(c, d, n);
    }
    static void finish(Ctx *c, unsigned char *out) { (void)mbedtls_md5_finish_ret(c, out); }
};

struct Sha1Algo {
    using Ctx = mbedtls_sha1_context;
    static constexpr unsigned long ID = CDigest::ALG_SHA1;
    static constexpr unsigned long LENGTH = 20;
    static constexpr unsigned char PREFIX[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                               0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    static void init(Ctx *c) { mbedtls_sha1_init(c); }
    static void free(Ctx *c) { mbedtls_sha1_free(c); }
    static void starts(Ctx *c) { (void)mbedtls_sha1_starts_ret(c); }
    static void update(Ctx *c, unsigned char const *d, size_t n)
    {
        (void)mbedtls_sha1_update_ret(c, d, n);
    }
    static void finish(Ctx *c, unsigned char *out) { (void)mbedtls_sha1_finish_ret(c, out); }
};

// Identity and DigestInfo prefix of a SHA-2 algorithm: the OID arcs differ only
// in their last octet.
template <unsigned long Id, unsigned long Length, unsigned char AlgOctet> struct Sha2Ident {
    static constexpr unsigned long ID = Id;
    static constexpr unsigned long LENGTH = Length;
    static constexpr unsigned char OUTER = 0x11 + Length; // SEQUENCE length
    static constexpr unsigned char INNER = Length;        // OCTET STRING length
    static constexpr unsigned char PREFIX[] = {0x30,     OUTER, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                               0x86,     0x48,  0x01, 0x65, 0x03, 0x04, 0x02,
                                               AlgOctet, 0x05,  0x00, 0x04, INNER};
};

template <int Is224, unsigned long Id, unsigned long Length, unsigned char AlgOctet>
struct Sha256Family : Sha2Ident<Id, Length, AlgOctet> {
    using Ctx = mbedtls_sha256_context;
    static void init(Ctx *c) { mbedtls_sha256_init(c); }
    static void free(Ctx *c) { mbedtls_sha256_free(c); }
    static void starts(Ctx *c) { (void)mbedtls_sha256_starts_ret(c, Is224); }
    static void update(Ctx *c, unsigned char const *d, size_t n)
    {
        (void)mbedtls_sha256_update_ret(c, d, n);
    }
    static void finish(Ctx *c, unsigned char *out) { (void)mbedtls_sha256_finish_ret(c, out); }
};

template <int Is384, unsigned long Id, unsigned long Length, unsigned char AlgOctet>
struct Sha512Family : Sha2Ident<Id, Length, AlgOctet> {
    using Ctx = mbedtls_sha512_context;
    static void init(Ctx *c) { mbedtls_sha512_init(c); }
    static void free(Ctx *c) { mbedtls_sha512_free(c); }
    static void starts(Ctx *c) { (void)mbedtls_sha512_starts_ret(c, Is384); }
    static void update(Ctx *c, unsigned char const *d, size_t n)
    {
        (void)mbedtls_sha512_update_ret(c, d, n);
    }
    static void finish(Ctx *c, unsigned char *out) { (void)mbedtls_sha512_finish_ret(c, out); }
};

using Sha224Algo = Sha256Family<1, CDigest::ALG_SHA224, 28, 0x04>;
using Sha256Algo = Sha256Family<0, CDigest::ALG_SHA256, 32, 0x01>;
using Sha384Algo = Sha512Family<1, CDigest::ALG_SHA384, 48, 0x02>;
using Sha512Algo = Sha512Family<0, CDigest::ALG_SHA512, 64, 0x03>;

template <class A> void *newContext()
{
    auto *ctx = new (std::nothrow) typename A::Ctx;
    if (ctx != nullptr)
        A::init(ctx);
    return ctx;
}

template <class A> void deleteContext(void *p)
{
    auto *ctx = static_cast<typename A::Ctx *>(p);
    if (ctx != nullptr) {
        A::free(ctx);
        delete ctx;
    }
}

template <class A> typename A::Ctx *ctxOf(void *p)
{
    return static_cast<typename A::Ctx *>(p);
}

} // namespace

// The six classes differ only in their algorithm.
#define VOK_DIGEST_METHODS(name, Algo)                                                             \
    name::name()                                                                                   \
    {                                                                                              \
        m_algId = Algo::ID;                                                                        \
        m_ctx = newContext<Algo>();                                                                \
        Reset();                                                                                   \
    }                                                                                              \
    name::name(void const *data, unsigned long length) : name()                                    \
    {                                                                                              \
        if (m_ctx != nullptr) {                                                                    \
            Update(data, length);                                                                  \
            Final();                                                                               \
        }                                                                                          \
    }                                                                                              \
    name::~name()                                                                                  \
    {                                                                                              \
        deleteContext<Algo>(m_ctx);                                                                \
        m_ctx = nullptr;                                                                           \
        mbedtls_platform_zeroize(m_digest, sizeof(m_digest));                                      \
    }                                                                                              \
    void name::Reset()                                                                             \
    {                                                                                              \
        memset(m_digest, 0, sizeof(m_digest));                                                     \
        if (m_ctx == nullptr)                                                                      \
            return;                                                                                \
        Algo::starts(ctxOf<Algo>(m_ctx));                                                          \
        CDigest::Reset();                                                                          \
    }                                                                                              \
    void name::Update(void const *data, unsigned long length)                                      \
    {                                                                                              \
        if (m_ctx == nullptr)                                                                      \
            return;                                                                                \
        if (data != nullptr && length != 0)                                                        \
            Algo::update(ctxOf<Algo>(m_ctx), static_cast<unsigned char const *>(data), length);    \
        CDigest::Update(data, length);                                                             \
    }                                                                                              \
    void name::Final()                                                                             \
    {                                                                                              \
        if (m_ctx == nullptr)                                                                      \
            return;                                                                                \
        Algo::finish(ctxOf<Algo>(m_ctx), m_digest);                                                \
        CDigest::Final();                                                                          \
    }                                                                                              \
    void name::Hash(void const *data, unsigned long length)                                        \
    {                                                                                              \
        if (m_ctx == nullptr)                                                                      \
            return;                                                                                \
        Reset();                                                                                   \
        Update(data, length);                                                                      \
        Final();                                                                                   \
        CDigest::Hash(data, length);                                                               \
    }                                                                                              \
    unsigned long name::Get(void *buffer, unsigned long form)                                      \
    {                                                                                              \
        return getForm(buffer, form, Algo::LENGTH, Algo::PREFIX, sizeof(Algo::PREFIX));            \
    }

VOK_DIGEST_METHODS(CMD5, Md5Algo)
VOK_DIGEST_METHODS(CSHA1, Sha1Algo)
VOK_DIGEST_METHODS(CSHA224, Sha224Algo)
VOK_DIGEST_METHODS(CSHA256, Sha256Algo)
VOK_DIGEST_METHODS(CSHA384, Sha384Algo)
VOK_DIGEST_METHODS(CSHA512, Sha512Algo)
