// Signing and decryption on the identity-card token. The session's RSA context
// does the hashing, the PKCS#1 v1.5 padding and unpadding and the length checks;
// a card key's raw RSA step runs on the card (cardStep), a session key's in the
// context itself.
//
// Invariants:
// - A size query, or a buffer too small, keeps the operation and sends nothing
//   to the card; every other failure of Sign, SignFinal, SignUpdate and Decrypt
//   ends it.
// - The card works on a buffer of the token's, never on the caller's: the
//   caller's input stays as it was and the output receives only the result.
#include <memory>
#include <new>
#include <vector>

#include <mbedtls/platform_util.h>

#include "base/linux/linux_log.h"
#include "core/core_support.h"
#include "core/p11_session.h"
#include "crypto/rsa.h"
#include "objects/p11_key.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;

namespace
{

struct MechanismWord {
    CK_MECHANISM_TYPE type;
    unsigned long word;
    bool decrypts;
};
MechanismWord const WORDS[] = {
    {CKM_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS, true},
    {CKM_RSA_X_509, CKeyAsymetric::MECH_RSA_RAW, true},
    {CKM_SHA1_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA1, false},
    {CKM_SHA224_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA224, false},
    {CKM_SHA256_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256, false},
    {CKM_SHA384_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA384, false},
    {CKM_SHA512_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA512, false},
};

unsigned long mechanismWord(CK_MECHANISM_TYPE type, bool sign)
{
    for (MechanismWord const &w : WORDS)
        if (w.type == type && (sign || w.decrypts))
            return w.word;
    throw CP11Exception(CKR_MECHANISM_INVALID);
}

void noParameter(CK_MECHANISM const *mechanism)
{
    if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0)
        throw CP11Exception(CKR_MECHANISM_PARAM_INVALID);
}

[[noreturn]] void refuse(char const *message, unsigned long rv)
{
    hl_log(HL_ERROR, "%s\n", message);
    throw CP11Exception(rv);
}

[[noreturn]] void contextFailed(CKeyAsymetric *ctx)
{
    unsigned long rv = ctx->GetLastError();
    throw CP11Exception(rv != CKR_OK ? rv : CKR_GENERAL_ERROR);
}

CKeyAsymetric *active(CKeyAsymetric *ctx)
{
    if (ctx == nullptr)
        throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
    return ctx;
}

unsigned long keyLength(CKeyAsymetric *ctx)
{
    unsigned long k = 0;
    if (!ctx->GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, k))
        contextFailed(ctx);
    return k;
}

// The size convention: false (length stored) for a size query; a buffer too
// small gets the length and CKR_BUFFER_TOO_SMALL; true when the output fits.
bool fits(unsigned long needed, unsigned char *out, unsigned long *outLength)
{
    if (out == nullptr) {
        *outLength = needed;
        return false;
    }
    if (*outLength < needed) {
        *outLength = needed;
        throw CP11Exception(CKR_BUFFER_TOO_SMALL);
    }
    return true;
}

// Runs body; a failure other than CKR_BUFFER_TOO_SMALL (or any failure, with
// always) ends the session's operation of that kind.
template <typename Body>
void ending(CP11Session *session, void (CP11Session::*drop)(CKeyAsymetric *), Body body,
            bool always = false)
{
    try {
        body();
    } catch (CP11Exception &e) {
        if (always || e.GetErrorCode() != CKR_BUFFER_TOO_SMALL)
            (session->*drop)(nullptr);
        throw;
    }
}

// A block the card works on, wiped when it goes.
struct Block {
    explicit Block(unsigned long length) : bytes(length) {}
    ~Block() { mbedtls_platform_zeroize(bytes.data(), bytes.size()); }
    std::vector<unsigned char> bytes;
};

bool isCardKey(unsigned long handle)
{
    return (handle & SESSION_OBJECT_HANDLE_BASE) == 0;
}

} // namespace

CKeyAsymetric *CP11Token_eiD::keyContext(unsigned long session, CK_MECHANISM *mechanism,
                                         unsigned long handle, unsigned long purpose)
{
    bool sign = purpose == CKF_SIGN;
    if (mechanism == nullptr)
        throw CP11Exception(CKR_ARGUMENTS_BAD);
    hl_log(HL_INFO, "Mechanism : %s \n",
           vok_core::logText(CP11Convert::CKM2String(mechanism->mechanism)));
    hl_log(HL_INFO, "Parameter : %p (0x%.8lx)\n", mechanism->pParameter, mechanism->ulParameterLen);
    FindMechanism(mechanism->mechanism);
    if (sign)
        noParameter(mechanism);
    CK_MECHANISM_INFO info;
    GetMechanismInfo(mechanism->mechanism, &info);
    if ((info.flags & purpose) == 0)
        refuse(sign ? "Mechanism purpose invalid ( CKF_SIGN not set )."
                    : "Mechanism purpose invalid ( CKF_DECRYPT not set ).",
               CKR_MECHANISM_INVALID);
    unsigned long word = mechanismWord(mechanism->mechanism, sign);
    if (!sign)
        noParameter(mechanism);

    CP11Session *s = GetSession(session);
    CP11Object *key = objectOf(handle);
    unsigned long keyClass = key->FindLongAttribute(CKA_CLASS);
    if (keyClass != CKO_PRIVATE_KEY)
        refuse("Unexpected 'CKA_CLASS' attribute value.", keyClass == CKO_PUBLIC_KEY
                                                              ? CKR_KEY_FUNCTION_NOT_PERMITTED
                                                              : CKR_KEY_HANDLE_INVALID);
    bool typed = false;
    if (key->FindLongAttribute(CKA_KEY_TYPE, &typed) != CKK_RSA || !typed)
        refuse("Unexpected 'CKA_KEY_TYPE' attribute value.", CKR_KEY_TYPE_INCONSISTENT);
    if (!static_cast<CP11Key *>(key)->IsMechanismAllowed(mechanism->mechanism))
        refuse("Mechanism is not allowed.", CKR_KEY_TYPE_INCONSISTENT);
    if (key->FindByteAttribute(sign ? CKA_SIGN : CKA_DECRYPT) != CK_TRUE)
        refuse(sign ? "Object function not permited ( 'CKA_SIGN' not set to TRUE )."
                    : "Object function not permited ( 'CKA_DECRYPT' not set to TRUE ).",
               CKR_KEY_FUNCTION_NOT_PERMITTED);
    if ((sign ? s->SignCtxGet() : s->DecryptCtxGet()) != nullptr)
        throw CP11Exception(CKR_OPERATION_ACTIVE);
    unsigned long modulusLength = 0;
    if (key->FindBinaryAttribute(CKA_MODULUS, &modulusLength) == nullptr || modulusLength == 0)
        refuse("Unexpected 'CKA_MODULUS' attribute value.", CKR_KEY_TYPE_INCONSISTENT);

    std::unique_ptr<CRSA> ctx(new (std::nothrow) CRSA);
    if (ctx == nullptr)
        throw CP11Exception(CKR_HOST_MEMORY);
    bool card = isCardKey(handle);
    if (!card)
        s->WriteKeyToCtx(static_cast<CP11Key *>(key), ctx.get());
    unsigned long operation = sign ? CKeyAsymetric::OP_SIGN : CKeyAsymetric::OP_DECRYPT;
    if (card)
        operation |= CKeyAsymetric::OP_EXTERNAL;
    ctx->SetUserData(handle);
    if (!ctx->SetAttribute(CRSA::ATTR_MODULUS_BITS, modulusLength * 8) ||
        !ctx->SetAttribute(CKeyAsymetric::ATTR_MECHANISM, word) || !ctx->Init(operation))
        contextFailed(ctx.get());
    return ctx.release();
}

void CP11Token_eiD::SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SignInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    deviceFrame("SignInit", [&] {
        CKeyAsymetric *ctx = keyContext(session, mechanism, key, CKF_SIGN);
        GetSession(session)->SignCtxSet(ctx);
    });
}

void CP11Token_eiD::Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
                         unsigned char *signature, unsigned long *signatureLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Sign(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)signature, (void *)signatureLength);
    deviceFrame("Sign", [&] {
        CP11Session *s = GetSession(session);
        ending(s, &CP11Session::SignCtxSet, [&] {
            if (data == nullptr || dataLength == 0 || signatureLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            if (!fits(keyLength(active(s->SignCtxGet())), signature, signatureLength))
                return;
            SignUpdate(session, data, dataLength);
            SignFinal(session, signature, signatureLength);
        });
    });
}

void CP11Token_eiD::SignUpdate(unsigned long session, unsigned char *part, unsigned long partLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SignUpdate(0x%.8lx,%p,0x%.8lx)\n", session, (void *)part,
           partLength);
    frame("SignUpdate", [&] {
        CP11Session *s = GetSession(session);
        ending(
            s, &CP11Session::SignCtxSet,
            [&] {
                if (part == nullptr || partLength == 0)
                    throw CP11Exception(CKR_ARGUMENTS_BAD);
                CKeyAsymetric *ctx = active(s->SignCtxGet());
                if ((ctx->GetFlags() & CKeyAsymetric::FLAG_FINISHED) != 0)
                    throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
                if (!ctx->Update(part, partLength))
                    contextFailed(ctx);
            },
            true);
    });
}

void CP11Token_eiD::SignFinal(unsigned long session, unsigned char *signature,
                              unsigned long *signatureLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SignFinal(0x%.8lx,%p,%p)\n", session, (void *)signature,
           (void *)signatureLength);
    deviceFrame("SignFinal", [&] {
        CP11Session *s = GetSession(session);
        ending(s, &CP11Session::SignCtxSet, [&] {
            if (signatureLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CKeyAsymetric *ctx = active(s->SignCtxGet());
            if ((ctx->GetFlags() & CKeyAsymetric::FLAG_INITIALISED) != 0)
                throw CP11Exception(CKR_OPERATION_ACTIVE); // no data was given
            // the padding (or a session key's signature) is made once per operation
            if ((ctx->GetFlags() & CKeyAsymetric::FLAG_FINISHED) == 0 && !ctx->Final(nullptr, 0))
                contextFailed(ctx);
            unsigned long length = ctx->Get(nullptr);
            if (!fits(length, signature, signatureLength))
                return;
            Block block(length);
            ctx->Get(block.bytes.data());
            unsigned long key = ctx->GetUserData();
            if (isCardKey(key))
                cardStep(key, block.bytes.data(), length, true);
            std::copy(block.bytes.begin(), block.bytes.end(), signature);
            *signatureLength = length;
            s->SignCtxSet(nullptr);
        });
    });
}

void CP11Token_eiD::DecryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DecryptInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    deviceFrame("DecryptInit", [&] {
        CKeyAsymetric *ctx = keyContext(session, mechanism, key, CKF_DECRYPT);
        GetSession(session)->DecryptCtxSet(ctx);
    });
}

void CP11Token_eiD::Decrypt(unsigned long session, unsigned char *encrypted,
                            unsigned long encryptedLength, unsigned char *data,
                            unsigned long *dataLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Decrypt(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)encrypted, encryptedLength, (void *)data, (void *)dataLength);
    deviceFrame("Decrypt", [&] {
        CP11Session *s = GetSession(session);
        ending(s, &CP11Session::DecryptCtxSet, [&] {
            if (encrypted == nullptr || encryptedLength == 0 || dataLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CKeyAsymetric *ctx = active(s->DecryptCtxGet());
            unsigned long length = keyLength(ctx);
            if (encryptedLength != length)
                throw CP11Exception(CKR_DATA_LEN_RANGE);
            // the plaintext's length is known only after the card's step
            if (!fits(length, data, dataLength))
                return;
            Block block(length);
            std::copy(encrypted, encrypted + length, block.bytes.begin());
            unsigned long key = ctx->GetUserData();
            if (isCardKey(key))
                cardStep(key, block.bytes.data(), length, false);
            if (!ctx->Do(block.bytes.data(), length, nullptr, 0))
                contextFailed(ctx);
            *dataLength = ctx->Get(data);
            s->DecryptCtxSet(nullptr);
        });
    });
}
