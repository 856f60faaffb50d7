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
#include "token/token_crypto_support.h"

using vok_log::HL_ENTER;
using namespace token_crypto;

namespace
{

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
    logMechanism(mechanism);
    FindMechanism(mechanism->mechanism);
    if (sign)
        noParameter(mechanism);
    requirePurpose(mechanism->mechanism, purpose, sign ? "CKF_SIGN" : "CKF_DECRYPT");
    unsigned long word = mechanismWord(mechanism->mechanism, sign);
    if (!sign)
        noParameter(mechanism);

    CP11Session *s = GetSession(session);
    CP11Key *key = keyFor(handle, CKO_PRIVATE_KEY, mechanism->mechanism,
                          sign ? CKA_SIGN : CKA_DECRYPT, sign ? "CKA_SIGN" : "CKA_DECRYPT");
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
        s->WriteKeyToCtx(key, ctx.get());
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
