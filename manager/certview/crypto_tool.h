#ifndef VOK_CERTVIEW_CRYPTO_TOOL_H
#define VOK_CERTVIEW_CRYPTO_TOOL_H

#include <cstdio>

#include <openssl/types.h>

namespace Orvane::Helper
{

// The checks behind signed files: a detached signature (RSA PKCS#1 v1.5 over a
// digest of the whole content) is verified with a public key given in DER or
// PEM form. Every operation is static and reports through its result only;
// nothing is logged. Buffers handed out are malloc'ed: the caller frees them.
class CryptoTool
{
  public:
    // Results of the verifications (plain integers).
    enum {
        SignatureInvalid = 0, // bad signature, an OpenSSL error, or no digest given
        SignatureValid = 1,
        ContentMissing = 4,   // null, negative length or unreadable content
        SignatureMissing = 5, // null, negative length or unreadable signature
        KeyMissing = 6        // null, negative length, unreadable or no key in it
    };

    // Reads a stream whole into a new buffer (a buffer already held in *buffer
    // is freed first) and closes the stream. False for a null argument; a
    // stream that cannot be measured or read is closed and gives false too.
    static bool ReadFile(FILE *stream, void **buffer, long *length);
    static bool ReadFile(char const *path, void **buffer, long *length);

    // 1 with a new key in *out (the caller frees it with EVP_PKEY_free), 0 when
    // the bytes hold no public key in DER or PEM form, 4 for a null key or a
    // negative length, 6 for a null out-pointer.
    static int getEVP_PKEY(void const *key, long keyLength, EVP_PKEY **out);

    // Digests the data into a new buffer of EVP_MAX_MD_SIZE bytes. False, with
    // *digest null and *digestLength 0, for no data, a length below 1, a
    // missing out-pointer or a failing digest.
    static bool CalculateDigest(void const *data, long length, unsigned char **digest,
                                unsigned int *digestLength, EVP_MD const *md);

    // A result code: the content is tested first, then the key, then the
    // signature.
    static int VerifyContent(void const *content, long contentLength, void const *key,
                             long keyLength, void const *signature, long signatureLength,
                             EVP_MD const *md);

    // The streams overload takes the three streams over and closes every one
    // of them that is not null, whatever the result. Each file is read whole;
    // an unreadable content, signature or key gives 4, 5 or 6.
    static int VerifyFile(FILE *content, FILE *signature, FILE *key, EVP_MD const *md);
    static int VerifyFile(char const *content, char const *signature, char const *key,
                          EVP_MD const *md);
};

} // namespace Orvane::Helper

#endif
