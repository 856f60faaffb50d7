#include "certview/crypto_tool.h"

#include <climits>
#include <cstdlib>
#include <memory>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace Orvane::Helper
{

namespace
{

// A malloc'ed buffer filled by ReadFile, freed on every path.
struct FileBytes {
    void *data = nullptr;
    long length = 0;
    ~FileBytes() { std::free(data); }
};

struct MdCtxFree {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
typedef std::unique_ptr<EVP_MD_CTX, MdCtxFree> MdCtx;

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};

struct BioFree {
    void operator()(BIO *bio) const { BIO_free(bio); }
};

// Reads what is left of a seekable stream; the stream stays open.
bool readStream(FILE *stream, void **buffer, long *length)
{
    if (std::fseek(stream, 0, SEEK_END) != 0)
        return false;
    long size = std::ftell(stream);
    if (size < 0 || std::fseek(stream, 0, SEEK_SET) != 0)
        return false;
    void *bytes = std::malloc(size > 0 ? (size_t)size : 1);
    if (!bytes)
        return false;
    size_t got = std::fread(bytes, 1, (size_t)size, stream);
    std::free(*buffer);
    *buffer = bytes;
    *length = (long)got;
    return true;
}

FILE *openForReading(char const *path)
{
    return path ? std::fopen(path, "rb") : nullptr;
}

void closeIfOpen(FILE *stream)
{
    if (stream)
        std::fclose(stream);
}

// The PEM reader works on a BIO; BIO_write takes an int length.
EVP_PKEY *readPemKey(unsigned char const *key, long keyLength)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio)
        return nullptr;
    for (long done = 0; done < keyLength;) {
        long left = keyLength - done;
        int written = BIO_write(bio.get(), key + done, left > INT_MAX ? INT_MAX : (int)left);
        if (written <= 0)
            return nullptr;
        done += written;
    }
    return PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
}

bool signatureVerifies(void const *content, long contentLength, EVP_PKEY *key,
                       void const *signature, long signatureLength, EVP_MD const *md)
{
    // EVP_VerifyFinal takes an unsigned int length; a longer buffer must not be cut to fit.
    if ((unsigned long)signatureLength > UINT_MAX)
        return false;
    MdCtx ctx(EVP_MD_CTX_new());
    return ctx && EVP_VerifyInit_ex(ctx.get(), md, nullptr) == 1 &&
           EVP_VerifyUpdate(ctx.get(), content, (size_t)contentLength) == 1 &&
           EVP_VerifyFinal(ctx.get(), static_cast<unsigned char const *>(signature),
                           (unsigned int)signatureLength, key) == 1;
}

} // namespace

bool CryptoTool::ReadFile(FILE *stream, void **buffer, long *length)
{
    if (!stream || !buffer || !length)
        return false;
    bool read = readStream(stream, buffer, length);
    std::fclose(stream);
    return read;
}

bool CryptoTool::ReadFile(char const *path, void **buffer, long *length)
{
    if (!path || !buffer || !length)
        return false;
    FILE *stream = std::fopen(path, "rb");
    return stream && ReadFile(stream, buffer, length);
}

int CryptoTool::getEVP_PKEY(void const *key, long keyLength, EVP_PKEY **out)
{
    if (!key || keyLength < 0)
        return ContentMissing;
    if (!out)
        return KeyMissing;
    auto const *bytes = static_cast<unsigned char const *>(key);
    unsigned char const *cursor = bytes;
    EVP_PKEY *found = d2i_PUBKEY(nullptr, &cursor, keyLength);
    if (!found)
        found = readPemKey(bytes, keyLength);
    // A failed attempt leaves its reasons queued; they concern nobody else.
    ERR_clear_error();
    if (!found)
        return SignatureInvalid;
    *out = found;
    return SignatureValid;
}

bool CryptoTool::CalculateDigest(void const *data, long length, unsigned char **digest,
                                 unsigned int *digestLength, EVP_MD const *md)
{
    if (digest)
        *digest = nullptr;
    if (digestLength)
        *digestLength = 0;
    if (!data || length < 1 || !digest || !digestLength || !md)
        return false;
    auto *bytes = static_cast<unsigned char *>(std::malloc(EVP_MAX_MD_SIZE));
    MdCtx ctx(EVP_MD_CTX_new());
    unsigned int written = 0;
    bool done = bytes && ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 &&
                EVP_DigestUpdate(ctx.get(), data, (size_t)length) == 1 &&
                EVP_DigestFinal_ex(ctx.get(), bytes, &written) == 1;
    ERR_clear_error();
    if (!done) {
        std::free(bytes);
        return false;
    }
    *digest = bytes;
    *digestLength = written;
    return true;
}

int CryptoTool::VerifyContent(void const *content, long contentLength, void const *key,
                              long keyLength, void const *signature, long signatureLength,
                              EVP_MD const *md)
{
    if (!content || contentLength < 0)
        return ContentMissing;
    if (!key || keyLength < 0)
        return KeyMissing;
    if (!signature || signatureLength < 0)
        return SignatureMissing;
    EVP_PKEY *raw = nullptr;
    if (getEVP_PKEY(key, keyLength, &raw) != SignatureValid)
        return KeyMissing;
    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(raw);
    bool valid =
        signatureVerifies(content, contentLength, pkey.get(), signature, signatureLength, md);
    ERR_clear_error();
    return valid ? SignatureValid : SignatureInvalid;
}

int CryptoTool::VerifyFile(FILE *content, FILE *signature, FILE *key, EVP_MD const *md)
{
    if (!md) {
        closeIfOpen(content);
        closeIfOpen(signature);
        closeIfOpen(key);
        return SignatureInvalid;
    }
    // ReadFile closes each stream it is given, so all three are read before
    // the first failure is reported.
    FileBytes c, s, k;
    bool haveContent = ReadFile(content, &c.data, &c.length);
    bool haveSignature = ReadFile(signature, &s.data, &s.length);
    bool haveKey = ReadFile(key, &k.data, &k.length);
    if (!haveContent)
        return ContentMissing;
    if (!haveSignature)
        return SignatureMissing;
    if (!haveKey)
        return KeyMissing;
    return VerifyContent(c.data, c.length, k.data, k.length, s.data, s.length, md);
}

int CryptoTool::VerifyFile(char const *content, char const *signature, char const *key,
                           EVP_MD const *md)
{
    return VerifyFile(openForReading(content), openForReading(signature), openForReading(key), md);
}

} // namespace Orvane::Helper
