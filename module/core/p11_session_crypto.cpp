// The session's cryptographic operation contexts, the loading of RSA keys
// into them, and RSA key pairs generated in software as session objects.
#include <memory>
#include <new>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "core/core_support.h"
#include "core/p11_session.h"
#include "core/p11_token.h"
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "objects/p11_key.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"

namespace
{

using vok_core::ckaName;
using vok_core::rethrow;

// RSA components: the key context's id and the key object's attribute.
struct Component {
    unsigned int ctxId;
    unsigned long type;
};
Component const COMPONENTS[] = {
    {CRSA::ATTR_MODULUS, CKA_MODULUS},
    {CRSA::ATTR_PUBLIC_EXPONENT, CKA_PUBLIC_EXPONENT},
    {CRSA::ATTR_PRIVATE_EXPONENT, CKA_PRIVATE_EXPONENT},
    {CRSA::ATTR_PRIME_1, CKA_PRIME_1},
    {CRSA::ATTR_PRIME_2, CKA_PRIME_2},
    {CRSA::ATTR_EXPONENT_1, CKA_EXPONENT_1},
    {CRSA::ATTR_EXPONENT_2, CKA_EXPONENT_2},
    {CRSA::ATTR_COEFFICIENT, CKA_COEFFICIENT},
};
constexpr unsigned PUBLIC_COMPONENTS = 2;
constexpr unsigned ALL_COMPONENTS = sizeof(COMPONENTS) / sizeof(COMPONENTS[0]);

unsigned char const DEFAULT_EXPONENT[] = {0x01, 0x00, 0x01};

// "Bad attribute value" with the value one nesting level deeper.
void badValue(char const *name, void const *value, unsigned long length)
{
    hl_log(HL_ERROR, "Bad attribute value [ %s ] :\n", name);
    incloglevel();
    if (value != nullptr && length != 0)
        hl_hd(HL_ERROR, value, length > 0x7FFFFFFFUL ? 0x7FFFFFFF : (int)length);
    decloglevel();
}

} // namespace

namespace
{

// The setters' one body: frees the context held (unless it is ctx itself), then
// owns ctx.
template <class Ctx> void replaceCtx(char const *setter, std::unique_ptr<Ctx> &held, Ctx *ctx)
{
    hl_log(HL_ENTER, "CP11Session::%s(%p)\n", setter, (void *)ctx);
    if (held.get() != ctx)
        held.reset(ctx);
    hl_log(HL_LEAVE, "CP11Session::%s( )\n", setter);
}

} // namespace

void CP11Session::DigestCtxSet(CDigest *ctx)
{
    replaceCtx("DigestCtxSet", m_digestCtx, ctx);
}

void CP11Session::SignCtxSet(CKeyAsymetric *ctx)
{
    replaceCtx("SignCtxSet", m_signCtx, ctx);
}

void CP11Session::VerifyCtxSet(CKeyAsymetric *ctx)
{
    replaceCtx("VerifyCtxSet", m_verifyCtx, ctx);
}

void CP11Session::EncryptCtxSet(CKeyAsymetric *ctx)
{
    replaceCtx("EncryptCtxSet", m_encryptCtx, ctx);
}

void CP11Session::DecryptCtxSet(CKeyAsymetric *ctx)
{
    replaceCtx("DecryptCtxSet", m_decryptCtx, ctx);
}

void CP11Session::WriteKeyToCtx(CP11Key *key, CKeyAsymetric *ctx)
{
    hl_log(HL_ENTER, "CP11Session::WriteKeyToCtx(%p,%p)\n", (void *)key, (void *)ctx);
    try {
        if (key == nullptr || ctx == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        unsigned long keyClass = key->FindLongAttribute(CKA_CLASS);
        unsigned rows;
        if (keyClass == CKO_PUBLIC_KEY)
            rows = PUBLIC_COMPONENTS;
        else if (keyClass == CKO_PRIVATE_KEY)
            rows = ALL_COMPONENTS;
        else
            throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
        for (unsigned i = 0; i < rows; ++i) {
            unsigned long length = 0;
            // The attribute list directly: no sensitivity rule applies here.
            void const *value = key->FindBinaryAttribute(COMPONENTS[i].type, &length);
            if (value == nullptr || length == 0)
                throw CP11Exception(CKR_GENERAL_ERROR);
            if (!ctx->SetAttribute(COMPONENTS[i].ctxId, value, length))
                throw CP11Exception(ctx->GetLastError() != CKR_OK ? ctx->GetLastError()
                                                                  : CKR_GENERAL_ERROR);
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Session::WriteKeyToCtx", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::WriteKeyToCtx( )\n");
}

void CP11Session::GenerateKeyPair(CP11PublicKey *publicTemplate, CP11PrivateKey *privateTemplate,
                                  unsigned long *publicHandle, unsigned long *privateHandle)
{
    hl_log(HL_ENTER, "CP11Session::GenerateKeyPair(%p,%p,%p,%p)\n", (void *)publicTemplate,
           (void *)privateTemplate, (void *)publicHandle, (void *)privateHandle);
    CRSA rsa;
    CBlob buffer;
    std::unique_ptr<CP11RSAPublicKey> publicKey;
    std::unique_ptr<CP11RSAPrivateKey> privateKey;
    CP11Object *publicListed = nullptr; // once the session's list holds it
    unsigned long lastBefore = FindLongAttribute(SESSION_A_LAST_OBJ_ID);
    try {
        if (publicTemplate == nullptr || privateTemplate == nullptr || publicHandle == nullptr ||
            privateHandle == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *privateHandle = 0;
        *publicHandle = 0;

        if (publicTemplate->FindLongAttribute(CKA_KEY_TYPE) != CKK_RSA ||
            privateTemplate->FindLongAttribute(CKA_KEY_TYPE) != CKK_RSA)
            throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
        CP11RSAPublicKey *rsaPublic = dynamic_cast<CP11RSAPublicKey *>(publicTemplate);
        CP11RSAPrivateKey *rsaPrivate = dynamic_cast<CP11RSAPrivateKey *>(privateTemplate);
        if (rsaPublic == nullptr || rsaPrivate == nullptr)
            throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);

        publicKey.reset(new (std::nothrow) CP11RSAPublicKey(*rsaPublic));
        privateKey.reset(new (std::nothrow) CP11RSAPrivateKey(*rsaPrivate));
        if (publicKey == nullptr || privateKey == nullptr)
            throw CP11Exception(CKR_HOST_MEMORY);

        // The modulus size: absent is an incomplete template, 0 or a size
        // the token does not offer is out of range.
        bool present = false;
        unsigned long bits = publicKey->FindLongAttribute(CKA_MODULUS_BITS, &present);
        if (!present)
            bits = 0;
        unsigned long minBits = m_token->FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE);
        unsigned long maxBits = m_token->FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE);
        if (!present || bits == 0 || (minBits != 0 && bits < minBits) ||
            (maxBits != 0 && bits > maxBits) || !rsa.SetAttribute(CRSA::ATTR_MODULUS_BITS, bits)) {
            hl_log(HL_ERROR, "Bad attribute value [ CKA_MODULUS_BITS ] :\n");
            incloglevel();
            log("0x%.8lx ( %lu )", bits, bits);
            decloglevel();
            throw CP11Exception(present ? CKR_KEY_SIZE_RANGE : CKR_TEMPLATE_INCOMPLETE);
        }

        unsigned long exponentLength = 0;
        void const *exponent = publicKey->FindBinaryAttribute(CKA_PUBLIC_EXPONENT, &exponentLength);
        if (exponent == nullptr || exponentLength == 0) {
            exponent = DEFAULT_EXPONENT;
            exponentLength = sizeof(DEFAULT_EXPONENT);
        }
        if (!rsa.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, exponent, exponentLength)) {
            badValue("RSA_A_PUBLIC_EXPONENT", exponent, exponentLength);
            throw CP11Exception(rsa.GetLastError() != CKR_OK ? rsa.GetLastError()
                                                             : CKR_ATTRIBUTE_VALUE_INVALID);
        }
        if (!rsa.Generate()) {
            hl_log(HL_ERROR, "RSA key generation has failed.\n");
            throw CP11Exception(rsa.GetLastError() != CKR_OK ? rsa.GetLastError()
                                                             : CKR_FUNCTION_FAILED);
        }

        for (unsigned i = 0; i < ALL_COMPONENTS; ++i) {
            char const *name = ckaName(COMPONENTS[i].type);
            unsigned long length = 0;
            bool ok = rsa.GetAttribute(COMPONENTS[i].ctxId, nullptr, &length) &&
                      length <= 0xFFFFFFFFUL &&
                      (length == 0 || buffer.SetSize((unsigned int)length) != nullptr) &&
                      rsa.GetAttribute(COMPONENTS[i].ctxId, buffer.GetData(), &length);
            if (!ok) {
                badValue(name, buffer.GetData(), buffer.GetSize());
                throw CP11Exception(rsa.GetLastError() != CKR_OK ? rsa.GetLastError()
                                                                 : CKR_GENERAL_ERROR);
            }
            if (i < PUBLIC_COMPONENTS &&
                !publicKey->SetAttribute(COMPONENTS[i].type, (void const *)buffer.GetData(),
                                         length)) {
                badValue(name, buffer.GetData(), length);
                throw CP11Exception(CKR_GENERAL_ERROR);
            }
            if (!privateKey->SetAttribute(COMPONENTS[i].type, (void const *)buffer.GetData(),
                                          length)) {
                badValue(name, buffer.GetData(), length);
                throw CP11Exception(CKR_GENERAL_ERROR);
            }
        }
        // The private exponent and primes are no longer needed here.
        if (buffer.GetSize() != 0)
            buffer.Clear();

        unsigned long publicNumber = m_token->nextSessionObjectHandle();
        unsigned long privateNumber = m_token->nextSessionObjectHandle(publicNumber);
        CP11Object *publicObject = publicKey.get();
        CP11Object *privateObject = privateKey.get();
        addObject(std::move(publicKey), publicNumber);
        publicListed = publicObject;
        addObject(std::move(privateKey), privateNumber);
        *publicHandle = publicNumber;
        *privateHandle = privateNumber;
        hl_log(HL_INFO, "RSA public key(%p) handle :( 0x%.8lx )\n", (void *)publicObject,
               publicNumber);
        hl_log(HL_INFO, "RSA private key(%p) handle :( 0x%.8lx )\n", (void *)privateObject,
               privateNumber);
    } catch (CP11Exception &e) {
        if (publicListed != nullptr) {
            // the pair comes whole or not at all
            for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end();
                 ++it) {
                if (*it == publicListed) {
                    std::unique_ptr<CP11Object> dropped(*it);
                    m_objects.Erase(it);
                    break;
                }
            }
            SetAttribute(SESSION_A_LAST_OBJ_ID, lastBefore);
        }
        rethrow("CP11Session::GenerateKeyPair", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Session::GenerateKeyPair( )\n");
}

void CP11Session::SeedDataSet(unsigned char *seed, unsigned long length)
{
    hl_log(HL_ENTER, "CP11Session::SeedDataSet(%p,0x%.8lx)\n", (void *)seed, length);
    if (seed == nullptr && length == 0)
        m_seed.Clear();
    else if (seed != nullptr && length != 0 && length <= 0xFFFFFFFFUL)
        m_seed.Set(seed, (unsigned int)length);
    hl_log(HL_LEAVE, "CP11Session::SeedDataSet( )\n");
}
