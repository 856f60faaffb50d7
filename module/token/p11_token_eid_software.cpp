// What the identity-card token does without the card: message digests, signature
// verification and RSA encryption with public keys, computed by the session's
// digest and RSA contexts, and the refused operation kinds of those families.
//
// An operation lives in its session from its Init until the call that delivers
// its result. A size query (NULL output) and CKR_BUFFER_TOO_SMALL keep it; every
// other failure of a data call ends it (the Update calls on every failure); a
// failed Init leaves an operation already running untouched.
#include <memory>
#include <new>

#include "base/linux/linux_log.h"
#include "core/core_support.h"
#include "core/p11_session.h"
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "objects/p11_key.h"
#include "token/p11_token_eid.h"
#include "token/token_crypto_support.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;
using namespace token_crypto;

namespace
{

CDigest *newDigest(unsigned long mechanism)
{
    switch (mechanism) {
    case CKM_MD5:
        return new CMD5();
    case CKM_SHA_1:
        return new CSHA1();
    case CKM_SHA224:
        return new CSHA224();
    case CKM_SHA256:
        return new CSHA256();
    case CKM_SHA384:
        return new CSHA384();
    case CKM_SHA512:
        return new CSHA512();
    default:
        throw CP11Exception(CKR_MECHANISM_INVALID);
    }
}

} // namespace

void CP11Token_eiD::logMechanism(CK_MECHANISM *mechanism)
{
    if (mechanism == nullptr)
        throw CP11Exception(CKR_ARGUMENTS_BAD);
    hl_log(HL_INFO, "Mechanism : %s \n",
           vok_core::text(CP11Convert::CKM2String(mechanism->mechanism)));
    hl_log(HL_INFO, "Parameter : %p (0x%.8lx)\n", mechanism->pParameter, mechanism->ulParameterLen);
}

void CP11Token_eiD::requirePurpose(unsigned long mechanism, unsigned long flag,
                                   char const *flagName)
{
    CK_MECHANISM_INFO info;
    GetMechanismInfo(mechanism, &info);
    if ((info.flags & flag) == 0) {
        hl_log(HL_ERROR, "Mechanism purpose invalid ( %s not set ).\n", flagName);
        throw CP11Exception(CKR_MECHANISM_INVALID);
    }
}

CP11Key *CP11Token_eiD::keyFor(unsigned long handle, unsigned long cls, unsigned long mechanism,
                               unsigned long usage, char const *usageName)
{
    CP11Object *object = objectOf(handle);
    unsigned long found = object->FindLongAttribute(CKA_CLASS);
    if (found != cls)
        refuse("Unexpected 'CKA_CLASS' attribute value.",
               found == CKO_PUBLIC_KEY || found == CKO_PRIVATE_KEY ? CKR_KEY_FUNCTION_NOT_PERMITTED
                                                                   : CKR_KEY_HANDLE_INVALID);
    bool typed = false;
    CP11Key *key = dynamic_cast<CP11Key *>(object);
    if (object->FindLongAttribute(CKA_KEY_TYPE, &typed) != CKK_RSA || !typed || key == nullptr)
        refuse("Unexpected 'CKA_KEY_TYPE' attribute value.", CKR_KEY_TYPE_INCONSISTENT);
    if (!key->IsMechanismAllowed(mechanism))
        refuse("Mechanism is not allowed.", CKR_KEY_TYPE_INCONSISTENT);
    if (object->FindByteAttribute(usage) != CK_TRUE) {
        hl_log(HL_ERROR, "Object function not permited ( '%s' not set to TRUE ).\n", usageName);
        throw CP11Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
    }
    return key;
}

CKeyAsymetric *CP11Token_eiD::publicContext(CP11Session *session, CP11Key *key,
                                            unsigned long handle, unsigned long mechanism,
                                            unsigned long operation)
{
    std::unique_ptr<CRSA> ctx(new (std::nothrow) CRSA());
    if (ctx == nullptr)
        throw CP11Exception(CKR_HOST_MEMORY);
    session->WriteKeyToCtx(key, ctx.get());
    ctx->SetUserData(handle);
    if (!ctx->SetAttribute(CKeyAsymetric::ATTR_MECHANISM,
                           mechanismWord(mechanism, operation == CKeyAsymetric::OP_VERIFY)) ||
        !ctx->Init(operation))
        contextFailed(ctx.get());
    return ctx.release();
}

// ---- digests ----

void CP11Token_eiD::DigestInit(unsigned long session, CK_MECHANISM *mechanism)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DigestInit(0x%.8lx,%p)\n", session, (void *)mechanism);
    deviceFrame("DigestInit", [&] {
        logMechanism(mechanism);
        FindMechanism(mechanism->mechanism);
        noParameter(mechanism);
        requirePurpose(mechanism->mechanism, CKF_DIGEST, "CKF_DIGEST");
        CP11Session *s = GetSession(session);
        if (s->DigestCtxGet() != nullptr)
            throw CP11Exception(CKR_OPERATION_ACTIVE);
        s->DigestCtxSet(newDigest(mechanism->mechanism));
    });
}

void CP11Token_eiD::Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                           unsigned char *digest, unsigned long *digestLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Digest(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)digest, (void *)digestLength);
    frame("Digest", [&] {
        CP11Session *s = GetSession(session);
        ending(s, &CP11Session::DigestCtxSet, [&] {
            if (data == nullptr || dataLength == 0 || digestLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CDigest *ctx = active(s->DigestCtxGet());
            if (!fits(ctx->Get(nullptr, CDigest::FORM_RAW), digest, digestLength))
                return;
            DigestUpdate(session, data, dataLength);
            DigestFinal(session, digest, digestLength);
        });
    });
}

void CP11Token_eiD::DigestUpdate(unsigned long session, unsigned char *part,
                                 unsigned long partLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DigestUpdate(0x%.8lx,%p,0x%.8lx)\n", session, (void *)part,
           partLength);
    frame("DigestUpdate", [&] {
        CP11Session *s = GetSession(session);
        ending(
            s, &CP11Session::DigestCtxSet,
            [&] {
                if (part == nullptr || partLength == 0)
                    throw CP11Exception(CKR_ARGUMENTS_BAD);
                CDigest *ctx = active(s->DigestCtxGet());
                if (ctx->GetFlags() == CDigest::STATE_FINAL)
                    throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
                ctx->Update(part, partLength);
            },
            true);
    });
}

void CP11Token_eiD::DigestFinal(unsigned long session, unsigned char *digest,
                                unsigned long *digestLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DigestFinal(0x%.8lx,%p,%p)\n", session, (void *)digest,
           (void *)digestLength);
    frame("DigestFinal", [&] {
        CP11Session *s = GetSession(session);
        ending(s, &CP11Session::DigestCtxSet, [&] {
            if (digestLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CDigest *ctx = active(s->DigestCtxGet());
            if (ctx->GetFlags() == CDigest::STATE_RESET)
                throw CP11Exception(CKR_OPERATION_ACTIVE); // no data given
            // a digest computed before a size query is delivered as it is
            if (ctx->GetFlags() == CDigest::STATE_UPDATED)
                ctx->Final();
            if (!fits(ctx->Get(nullptr, CDigest::FORM_RAW), digest, digestLength))
                return;
            *digestLength = ctx->Get(digest, CDigest::FORM_RAW);
            s->DigestCtxSet(nullptr);
        });
    });
}

// ---- verification ----

void CP11Token_eiD::VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token_eiD::VerifyInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    deviceFrame("VerifyInit", [&] {
        logMechanism(mechanism);
        FindMechanism(mechanism->mechanism);
        requirePurpose(mechanism->mechanism, CKF_VERIFY, "CKF_VERIFY");
        noParameter(mechanism);
        CP11Session *s = GetSession(session);
        CP11Key *object =
            keyFor(key, CKO_PUBLIC_KEY, mechanism->mechanism, CKA_VERIFY, "CKA_VERIFY");
        if (s->VerifyCtxGet() != nullptr)
            throw CP11Exception(CKR_OPERATION_ACTIVE);
        s->VerifyCtxSet(
            publicContext(s, object, key, mechanism->mechanism, CKeyAsymetric::OP_VERIFY));
    });
}

void CP11Token_eiD::Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                           unsigned char *signature, unsigned long signatureLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Verify(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx)\n", session,
           (void *)data, dataLength, (void *)signature, signatureLength);
    frame("Verify", [&] {
        VerifyUpdate(session, data, dataLength);
        VerifyFinal(session, signature, signatureLength);
    });
}

void CP11Token_eiD::VerifyUpdate(unsigned long session, unsigned char *part,
                                 unsigned long partLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::VerifyUpdate(0x%.8lx,%p,0x%.8lx)\n", session, (void *)part,
           partLength);
    frame("VerifyUpdate", [&] {
        CP11Session *s = GetSession(session);
        ending(
            s, &CP11Session::VerifyCtxSet,
            [&] {
                if (part == nullptr || partLength == 0)
                    throw CP11Exception(CKR_ARGUMENTS_BAD);
                CKeyAsymetric *ctx = active(s->VerifyCtxGet());
                if ((ctx->GetFlags() & CKeyAsymetric::FLAG_FINISHED) != 0)
                    throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
                if (!ctx->Update(part, partLength))
                    contextFailed(ctx);
            },
            true);
    });
}

void CP11Token_eiD::VerifyFinal(unsigned long session, unsigned char *signature,
                                unsigned long signatureLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::VerifyFinal(0x%.8lx,%p,0x%.8lx)\n", session, (void *)signature,
           signatureLength);
    frame("VerifyFinal", [&] {
        CP11Session *s = GetSession(session);
        ending(
            s, &CP11Session::VerifyCtxSet,
            [&] {
                if (signature == nullptr || signatureLength == 0)
                    throw CP11Exception(CKR_ARGUMENTS_BAD);
                CKeyAsymetric *ctx = active(s->VerifyCtxGet());
                if ((ctx->GetFlags() & CKeyAsymetric::FLAG_INITIALISED) != 0)
                    throw CP11Exception(CKR_OPERATION_ACTIVE); // no data given
                if ((ctx->GetFlags() & CKeyAsymetric::FLAG_FINISHED) != 0)
                    throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
                if (!ctx->Final(signature, signatureLength))
                    contextFailed(ctx);
                s->VerifyCtxSet(nullptr);
            },
            true);
    });
}

// ---- encryption ----

void CP11Token_eiD::EncryptInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token_eiD::EncryptInit(0x%.8lx,%p,0x%.8lx)\n", session, (void *)mechanism,
           key);
    deviceFrame("EncryptInit", [&] {
        logMechanism(mechanism);
        FindMechanism(mechanism->mechanism);
        requirePurpose(mechanism->mechanism, CKF_ENCRYPT, "CKF_ENCRYPT");
        if (mechanism->mechanism != CKM_RSA_PKCS && mechanism->mechanism != CKM_RSA_X_509)
            throw CP11Exception(CKR_MECHANISM_INVALID);
        noParameter(mechanism);
        CP11Session *s = GetSession(session);
        CP11Key *object =
            keyFor(key, CKO_PUBLIC_KEY, mechanism->mechanism, CKA_ENCRYPT, "CKA_ENCRYPT");
        if (s->EncryptCtxGet() != nullptr)
            throw CP11Exception(CKR_OPERATION_ACTIVE);
        s->EncryptCtxSet(
            publicContext(s, object, key, mechanism->mechanism, CKeyAsymetric::OP_ENCRYPT));
    });
}

void CP11Token_eiD::Encrypt(unsigned long session, unsigned char *data, unsigned long dataLength,
                            unsigned char *encrypted, unsigned long *encryptedLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Encrypt(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session, (void *)data,
           dataLength, (void *)encrypted, (void *)encryptedLength);
    frame("Encrypt", [&] {
        CP11Session *s = GetSession(session);
        ending(s, &CP11Session::EncryptCtxSet, [&] {
            if (data == nullptr || dataLength == 0 || encryptedLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CKeyAsymetric *ctx = active(s->EncryptCtxGet());
            unsigned long k = keyLength(ctx);
            if (dataLength > k)
                throw CP11Exception(CKR_DATA_LEN_RANGE);
            if (!fits(k, encrypted, encryptedLength))
                return;
            if (!ctx->Do(data, dataLength, nullptr, 0))
                contextFailed(ctx);
            *encryptedLength = ctx->Get(encrypted);
            s->EncryptCtxSet(nullptr);
        });
    });
}

// ---- refused ----

void CP11Token_eiD::refusedForSession(char const *method, unsigned long session)
{
    frame(method, [&] {
        GetSession(session);
        throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
    });
}

void CP11Token_eiD::DigestKey(unsigned long session, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DigestKey(0x%.8lx,0x%.8lx)\n", session, key);
    refusedForSession("DigestKey", session);
}

void CP11Token_eiD::EncryptUpdate(unsigned long session, unsigned char *part,
                                  unsigned long partLength, unsigned char *encrypted,
                                  unsigned long *encryptedLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::EncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)part, partLength, (void *)encrypted, (void *)encryptedLength);
    refusedForSession("EncryptUpdate", session);
}

void CP11Token_eiD::EncryptFinal(unsigned long session, unsigned char *lastPart,
                                 unsigned long *lastPartLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::EncryptFinal(0x%.8lx,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    refusedForSession("EncryptFinal", session);
}

void CP11Token_eiD::DecryptUpdate(unsigned long session, unsigned char *encryptedPart,
                                  unsigned long encryptedLength, unsigned char *part,
                                  unsigned long *partLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DecryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)encryptedPart, encryptedLength, (void *)part, (void *)partLength);
    refusedForSession("DecryptUpdate", session);
}

void CP11Token_eiD::DecryptFinal(unsigned long session, unsigned char *lastPart,
                                 unsigned long *lastPartLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DecryptFinal(0x%.8lx,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    refusedForSession("DecryptFinal", session);
}

void CP11Token_eiD::GetOperationState(unsigned long session, unsigned char *state,
                                      unsigned long *stateLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::GetOperationState(0x%.8lx,%p,%p)\n", session, (void *)state,
           (void *)stateLength);
    frame("GetOperationState", [&] { throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED); });
}

void CP11Token_eiD::SetOperationState(unsigned long session, unsigned char *state,
                                      unsigned long stateLength, unsigned long encryptionKey,
                                      unsigned long authenticationKey)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SetOperationState(0x%.8lx,%p,0x%.8lx,0x%.8lx,0x%.8lx)\n",
           session, (void *)state, stateLength, encryptionKey, authenticationKey);
    frame("SetOperationState", [&] { throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED); });
}
