#include "crypto/rsa.h"

#include "base/linux/linux_log.h"
#include "crypto/crypto_random.h"
#include "crypto/digest.h"
#include "crypto/rsa_pkcs1.h"

#include <mbedtls/bignum.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/rsa.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace
{

mbedtls_rsa_context *rsaOf(void *key)
{
    return static_cast<mbedtls_rsa_context *>(key);
}

mbedtls_mpi *component(mbedtls_rsa_context *ctx, unsigned int id)
{
    switch (id) {
    case CRSA::ATTR_MODULUS:
        return &ctx->N;
    case CRSA::ATTR_PUBLIC_EXPONENT:
        return &ctx->E;
    case CRSA::ATTR_PRIVATE_EXPONENT:
        return &ctx->D;
    case CRSA::ATTR_PRIME_1:
        return &ctx->P;
    case CRSA::ATTR_PRIME_2:
        return &ctx->Q;
    case CRSA::ATTR_EXPONENT_1:
        return &ctx->DP;
    case CRSA::ATTR_EXPONENT_2:
        return &ctx->DQ;
    case CRSA::ATTR_COEFFICIENT:
        return &ctx->QP;
    default:
        return nullptr;
    }
}

bool isComponent(unsigned int id)
{
    return id >= CRSA::ATTR_MODULUS && id <= CRSA::ATTR_COEFFICIENT;
}

// Values the context caches for the current key; stale once a component
// changes.
void dropCaches(mbedtls_rsa_context *ctx)
{
    mbedtls_mpi_free(&ctx->RN);
    mbedtls_mpi_free(&ctx->RP);
    mbedtls_mpi_free(&ctx->RQ);
    mbedtls_mpi_free(&ctx->Vi);
    mbedtls_mpi_free(&ctx->Vf);
}

// The RSA hash id for a digest algorithm id, 0 for none.
int hashIdOf(unsigned long algorithmId)
{
    switch (algorithmId) {
    case CDigest::ALG_MD5:
        return PKCS1_HASH_MD5;
    case CDigest::ALG_SHA1:
        return PKCS1_HASH_SHA1;
    case CDigest::ALG_SHA224:
        return PKCS1_HASH_SHA224;
    case CDigest::ALG_SHA256:
        return PKCS1_HASH_SHA256;
    case CDigest::ALG_SHA384:
        return PKCS1_HASH_SHA384;
    case CDigest::ALG_SHA512:
        return PKCS1_HASH_SHA512;
    default:
        return -1;
    }
}

// Skips leading zero bytes.
void stripZeros(unsigned char const *&p, unsigned long &n)
{
    while (n > 0 && *p == 0) {
        p++;
        n--;
    }
}

} // namespace

CRSA::CRSA() : m_bits(0), m_keyChanged(false)
{
    auto *ctx = new (std::nothrow) mbedtls_rsa_context;
    if (ctx == nullptr) {
        m_lastError = CKR_HOST_MEMORY;
        return;
    }
    mbedtls_rsa_init(ctx, MBEDTLS_RSA_PKCS_V15, 0);
    m_key = ctx;
}

CRSA::~CRSA()
{
    if (m_key != nullptr) {
        mbedtls_rsa_free(rsaOf(m_key));
        delete rsaOf(m_key);
        m_key = nullptr;
    }
}

unsigned long CRSA::keyLength() const
{
    if (m_key != nullptr && rsaOf(m_key)->len != 0)
        return rsaOf(m_key)->len;
    return m_bits / 8;
}

bool CRSA::SetAttribute(unsigned int id, void const *data, unsigned long length)
{
    m_lastError = CKR_OK;
    if (!isComponent(id))
        return CKeyAsymetric::SetAttribute(id, data, length);
    if (m_key == nullptr) {
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
        return false;
    }
    if (data == nullptr && length != 0) {
        m_lastError = CKR_ARGUMENTS_BAD;
        return false;
    }
    mbedtls_rsa_context *ctx = rsaOf(m_key);
    static const unsigned char ZERO = 0;
    auto const *bytes = data != nullptr ? static_cast<unsigned char const *>(data) : &ZERO;
    int ret;
    switch (id) {
    case ATTR_MODULUS: // also sets the key length
        ret = mbedtls_rsa_import_raw(ctx, bytes, length, nullptr, 0, nullptr, 0, nullptr, 0,
                                     nullptr, 0);
        break;
    case ATTR_PRIME_1:
        ret = mbedtls_rsa_import_raw(ctx, nullptr, 0, bytes, length, nullptr, 0, nullptr, 0,
                                     nullptr, 0);
        break;
    case ATTR_PRIME_2:
        ret = mbedtls_rsa_import_raw(ctx, nullptr, 0, nullptr, 0, bytes, length, nullptr, 0,
                                     nullptr, 0);
        break;
    case ATTR_PRIVATE_EXPONENT:
        ret = mbedtls_rsa_import_raw(ctx, nullptr, 0, nullptr, 0, nullptr, 0, bytes, length,
                                     nullptr, 0);
        break;
    case ATTR_PUBLIC_EXPONENT:
        ret = mbedtls_rsa_import_raw(ctx, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, bytes,
                                     length);
        break;
    default: // the CRT values have no import call of their own
        ret = mbedtls_mpi_read_binary(component(ctx, id), bytes, length);
        break;
    }
    dropCaches(ctx);
    m_keyChanged = true;
    if (ret != 0) {
        hl_log(vok_log::HL_ERROR, "CRSA::SetAttribute(0x%.8x): component not taken ( -0x%04x )\n",
               id, -ret);
        m_lastError = CKR_ARGUMENTS_BAD;
        return false;
    }
    return true;
}

bool CRSA::SetAttribute(unsigned int id, unsigned long value)
{
    m_lastError = CKR_OK;
    if (id != ATTR_MODULUS_BITS)
        return CKeyAsymetric::SetAttribute(id, value);
    m_bits = value;
    if (value == 0) {
        m_lastError = CKR_ATTRIBUTE_VALUE_INVALID;
        return false;
    }
    return true;
}

bool CRSA::GetAttribute(unsigned int id, void *buffer, unsigned long *length)
{
    m_lastError = CKR_OK;
    if (length == nullptr) {
        m_lastError = CKR_ARGUMENTS_BAD;
        return false;
    }
    if (!isComponent(id))
        return CKeyAsymetric::GetAttribute(id, buffer, length);
    if (m_key == nullptr) {
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
        return false;
    }
    mbedtls_mpi const *mpi = component(rsaOf(m_key), id);
    unsigned long size = mbedtls_mpi_size(mpi);
    if (buffer == nullptr) {
        *length = size;
        return true;
    }
    if (*length < size) {
        *length = size;
        m_lastError = CKR_BUFFER_TOO_SMALL;
        return false;
    }
    if (size != 0 &&
        mbedtls_mpi_write_binary(mpi, static_cast<unsigned char *>(buffer), size) != 0) {
        m_lastError = CKR_GENERAL_ERROR;
        return false;
    }
    return true;
}

bool CRSA::GetAttribute(unsigned int id, unsigned long &value)
{
    m_lastError = CKR_OK;
    switch (id) {
    case ATTR_KEY_LENGTH:
        value = keyLength();
        return true;
    case ATTR_MODULUS_BITS:
        value = m_bits;
        return true;
    default:
        return CKeyAsymetric::GetAttribute(id, value);
    }
}

bool CRSA::Reset()
{
    m_lastError = CKR_OK;
    bool ok = true;
    if (m_key != nullptr) {
        mbedtls_rsa_free(rsaOf(m_key));
        mbedtls_rsa_init(rsaOf(m_key), MBEDTLS_RSA_PKCS_V15, 0);
        m_keyChanged = false;
    } else {
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
        ok = false;
    }
    CKeyAsymetric::Reset();
    return ok;
}

// Derives what the context needs from the components that were set.
bool CRSA::completeKey()
{
    if (!m_keyChanged)
        return true;
    int ret = mbedtls_rsa_complete(rsaOf(m_key));
    if (ret != 0) {
        hl_log(vok_log::HL_ERROR, "CRSA: incomplete or inconsistent key ( -0x%04x )\n", -ret);
        return false;
    }
    m_keyChanged = false;
    return true;
}

bool CRSA::CheckPublicKey()
{
    hl_log(vok_log::HL_ENTER, "CRSA::CheckPublicKey()\n");
    m_lastError = CKR_OK;
    if (m_key == nullptr)
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
    else if (!completeKey() || mbedtls_rsa_check_pubkey(rsaOf(m_key)) != 0)
        m_lastError = CKR_KEY_TYPE_INCONSISTENT;
    hl_log(vok_log::HL_LEAVE, "CRSA::CheckPublicKey( 0x%.8lx )\n", m_lastError);
    return m_lastError == CKR_OK;
}

bool CRSA::CheckPrivateKey()
{
    hl_log(vok_log::HL_ENTER, "CRSA::CheckPrivateKey()\n");
    m_lastError = CKR_OK;
    if (m_key == nullptr)
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
    else if (!completeKey() || mbedtls_rsa_check_privkey(rsaOf(m_key)) != 0)
        m_lastError = CKR_KEY_TYPE_INCONSISTENT;
    hl_log(vok_log::HL_LEAVE, "CRSA::CheckPrivateKey( 0x%.8lx )\n", m_lastError);
    return m_lastError == CKR_OK;
}

bool CRSA::Generate()
{
    hl_log(vok_log::HL_ENTER, "CRSA::Generate() bits %lu\n", m_bits);
    m_lastError = CKR_OK;
    unsigned char exponentBytes[4];
    unsigned long exponentLength = 0;
    unsigned long exponent = 0;
    if (m_key == nullptr) {
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
    } else if (m_bits == 0) {
        m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
    } else if (!GetAttribute(ATTR_PUBLIC_EXPONENT, nullptr, &exponentLength) ||
               exponentLength > sizeof(exponentBytes) ||
               !GetAttribute(ATTR_PUBLIC_EXPONENT, exponentBytes, &exponentLength)) {
        m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
    } else {
        for (unsigned long i = 0; i < exponentLength; i++)
            exponent = (exponent << 8) | exponentBytes[i];
        // An even exponent (or one below 3) has no inverse modulo the totient:
        // the prime search would never end.
        if (exponent < 3 || exponent % 2 == 0) {
            m_lastError = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (m_bits > MBEDTLS_MPI_MAX_BITS) {
            m_lastError = CKR_KEY_TYPE_INCONSISTENT;
        } else {
            mbedtls_rsa_context *ctx = rsaOf(m_key);
            mbedtls_rsa_free(ctx);
            mbedtls_rsa_init(ctx, MBEDTLS_RSA_PKCS_V15, 0);
            m_keyChanged = false;
            int ret =
                mbedtls_rsa_gen_key(ctx, crypto_random, nullptr, static_cast<unsigned int>(m_bits),
                                    static_cast<int>(exponent));
            if (ret != 0) {
                hl_log(vok_log::HL_ERROR, "CRSA::Generate: key generation failed ( -0x%04x )\n",
                       -ret);
                m_lastError = CKR_KEY_TYPE_INCONSISTENT;
            }
        }
    }
    hl_log(vok_log::HL_LEAVE, "CRSA::Generate( 0x%.8lx )\n", m_lastError);
    return m_lastError == CKR_OK;
}

bool CRSA::Init(unsigned long op)
{
    hl_log(vok_log::HL_ENTER, "CRSA::Init(0x%.8lx) mechanism 0x%.8lx\n", op, m_mechanism);
    m_lastError = CKR_OK;
    bool ok = false;
    if (((m_mechanism >> 24) & 0xF) != 1)
        m_lastError = CKR_KEY_TYPE_INCONSISTENT;
    else if (m_key == nullptr)
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
    else if (rsaOf(m_key)->len == 0 && m_bits == 0)
        m_lastError = CKR_KEY_TYPE_INCONSISTENT;
    else {
        if (rsaOf(m_key)->len == 0)
            rsaOf(m_key)->len = m_bits / 8;
        ok = CKeyAsymetric::Init(op);
    }
    hl_log(vok_log::HL_LEAVE, "CRSA::Init( 0x%.8lx )\n", m_lastError);
    return ok;
}

bool CRSA::Update(void const *data, unsigned long length)
{
    m_lastError = CKR_OK;
    unsigned long op = operation();
    if (op == OP_ENCRYPT || op == OP_DECRYPT) {
        m_lastError = CKR_FUNCTION_NOT_SUPPORTED; // single-part only
        return false;
    }
    return CKeyAsymetric::Update(data, length);
}

bool CRSA::Final(void const *data, unsigned long length)
{
    hl_log(vok_log::HL_ENTER, "CRSA::Final(%p,0x%.8lx)\n", data, length);
    bool ok = finalOperation(data, length);
    hl_log(vok_log::HL_LEAVE, "CRSA::Final( 0x%.8lx )\n", m_lastError);
    return ok;
}

bool CRSA::finalOperation(void const *data, unsigned long length)
{
    m_lastError = CKR_OK;
    if (m_key == nullptr) {
        m_lastError = CKR_OBJECT_HANDLE_INVALID;
        return false;
    }
    if (!CKeyAsymetric::Final(data, length))
        return false;
    if (!runOperation()) {
        if (m_lastError == CKR_OK)
            m_lastError = operation() == OP_VERIFY ? CKR_SIGNATURE_INVALID : CKR_FUNCTION_FAILED;
        m_state &= ~FLAG_FINISHED;
        freeOutput();
        return false;
    }
    return true;
}

// The operation after the base's bookkeeping: the gathered input (or the
// digest) is in place, for verification the signature is in the output.
bool CRSA::runOperation()
{
    mbedtls_rsa_context *ctx = rsaOf(m_key);
    unsigned long op = operation();
    bool ext = external();
    bool pkcs1 = ((m_mechanism >> 16) & 0xFF) == 1;
    unsigned long keyLen = ctx->len;

    // Both go through buffers of exactly the key length.
    if (op == OP_VERIFY && m_outputLength != keyLen) {
        m_lastError = CKR_SIGNATURE_LEN_RANGE;
        return false;
    }
    if (op == OP_DECRYPT && m_inputLength != keyLen) {
        m_lastError = CKR_ENCRYPTED_DATA_LEN_RANGE;
        return false;
    }

    if (pkcs1)
        mbedtls_rsa_set_padding(ctx, MBEDTLS_RSA_PKCS_V15, MBEDTLS_MD_NONE);

    unsigned char digest[CDigest::MAX_DIGEST_LENGTH];
    unsigned long digestLength = 0;
    int hashId = PKCS1_HASH_NONE;
    bool withDigest = (op == OP_SIGN || op == OP_VERIFY) && m_digest != nullptr;
    if (withDigest) {
        hashId = hashIdOf(m_digest->GetAlgorithmId());
        if (hashId < 0)
            return false;
        digestLength = m_digest->Get(digest, CDigest::FORM_RAW);
        delete m_digest;
        m_digest = nullptr;
    }
    unsigned char const *message = withDigest ? digest : m_input;
    unsigned long messageLength = withDigest ? digestLength : m_inputLength;

    if (op == OP_SIGN || op == OP_ENCRYPT || op == OP_DECRYPT) {
        if (keyLen == 0) {
            m_lastError = CKR_DATA_INVALID;
            return false;
        }
        freeOutput();
        m_output = static_cast<unsigned char *>(calloc(keyLen, 1));
        if (m_output == nullptr) {
            m_lastError = CKR_HOST_MEMORY;
            return false;
        }
        m_outputLength = keyLen;
    }

    // Raw RSA steps need the whole key; with the external flag the card has it.
    bool rawRsa = !ext || (!pkcs1 && (op == OP_VERIFY || op == OP_ENCRYPT));
    if (rawRsa && !completeKey())
        return false;

    // The raw forms take the input right-aligned in a block of the key length.
    auto placeInput = [&] {
        if (m_inputLength > keyLen) {
            m_lastError = CKR_DATA_LEN_RANGE;
            return false;
        }
        memcpy(m_output + keyLen - m_inputLength, m_input, m_inputLength);
        return true;
    };

    int ret = 0;
    switch (op) {
    case OP_SIGN:
        if (!pkcs1) {
            if (!placeInput())
                return false;
            if (!ext)
                ret = mbedtls_rsa_private(ctx, crypto_random, nullptr, m_output, m_output);
        } else {
            if (!withDigest && m_inputLength > m_outputLength) {
                m_lastError = CKR_DATA_LEN_RANGE;
                return false;
            }
            ret = rsa_pkcs1_sign(ctx, ext ? PKCS1_MODE_NO_RSA : PKCS1_MODE_PRIVATE, hashId,
                                 messageLength, message, m_output);
        }
        break;
    case OP_VERIFY:
        if (!pkcs1) {
            ret = mbedtls_rsa_public(ctx, m_output, m_output);
            if (ret == 0) {
                unsigned char const *expected = m_input;
                unsigned long expectedLength = m_inputLength;
                unsigned char const *recovered = m_output;
                unsigned long recoveredLength = m_outputLength;
                stripZeros(expected, expectedLength);
                stripZeros(recovered, recoveredLength);
                if (expectedLength != recoveredLength ||
                    memcmp(expected, recovered, expectedLength) != 0)
                    return false;
            }
        } else {
            if (!withDigest && m_inputLength > m_outputLength) {
                m_lastError = CKR_DATA_LEN_RANGE;
                return false;
            }
            ret = rsa_pkcs1_verify(ctx, ext ? PKCS1_MODE_NO_RSA : PKCS1_MODE_PUBLIC, hashId,
                                   messageLength, message, m_output);
        }
        break;
    case OP_ENCRYPT:
        if (pkcs1) {
            ret = rsa_pkcs1_encrypt(ctx, ext ? PKCS1_MODE_NO_RSA : PKCS1_MODE_PUBLIC, m_inputLength,
                                    m_input, m_output);
        } else {
            if (!placeInput())
                return false;
            ret = mbedtls_rsa_public(ctx, m_output, m_output);
        }
        break;
    case OP_DECRYPT:
        if (pkcs1) {
            size_t plainLength = 0;
            ret = rsa_pkcs1_decrypt(ctx, ext ? PKCS1_MODE_NO_RSA : PKCS1_MODE_PRIVATE, &plainLength,
                                    m_input, m_output, keyLen);
            if (ret == 0)
                m_outputLength = plainLength;
        } else if (ext) {
            memcpy(m_output, m_input, keyLen);
        } else {
            ret = mbedtls_rsa_private(ctx, crypto_random, nullptr, m_input, m_output);
        }
        break;
    default:
        return false;
    }
    if (ret != 0) {
        hl_log(vok_log::HL_ERROR, "CRSA::Final: operation 0x%.4lx failed ( -0x%04x )\n", op, -ret);
        return false;
    }
    return true;
}

bool CRSA::Do(void const *data, unsigned long length, void const *data2, unsigned long length2)
{
    hl_log(vok_log::HL_ENTER, "CRSA::Do(%p,0x%.8lx,%p,0x%.8lx)\n", data, length, data2, length2);
    m_lastError = CKR_OK;
    unsigned long op = operation();
    bool ok;
    if (op == OP_ENCRYPT || op == OP_DECRYPT)
        ok = CKeyAsymetric::Update(data, length);
    else
        ok = Update(data, length);
    if (ok)
        ok = Final(data2, length2);
    hl_log(vok_log::HL_LEAVE, "CRSA::Do( 0x%.8lx )\n", m_lastError);
    return ok;
}

unsigned long CRSA::Get(void *buffer)
{
    m_lastError = CKR_OK;
    if (buffer != nullptr && m_output != nullptr && m_outputLength != 0)
        memcpy(buffer, m_output, m_outputLength);
    return m_outputLength;
}
