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

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_INFO;

namespace
{

// The operation kinds a data call may end.
enum Kind { DIGEST, VERIFY, ENCRYPT };

void drop(CP11Session *session, Kind kind)
{
    switch (kind) {
    case DIGEST:
        session->DigestCtxSet(nullptr);
        break;
    case VERIFY:
        session->VerifyCtxSet(nullptr);
        break;
    case ENCRYPT:
        session->EncryptCtxSet(nullptr);
        break;
    }
}

// Runs a data call of one kind; a failure ends the session's operation of that
// kind, except a short buffer when keepShortBuffer is set.
template <typename Body>
void endingOnFailure(CP11Token &token, unsigned long handle, Kind kind, bool keepShortBuffer,
                     Body body)
{
    try {
        body();
    } catch (CP11Exception &e) {
        if (e.GetErrorCode() == CKR_BUFFER_TOO_SMALL && keepShortBuffer)
            throw;
        CList<CP11Session *> const &sessions = token.GetSessions();
        for (auto it = sessions.begin(); it != sessions.end(); ++it)
            if (*it != nullptr && (*it)->FindLongAttribute(SESSION_A_ID) == handle)
                drop(*it, kind);
        throw;
    }
}

// The size convention of the calls that return data: false (the length given)
// for a size query, CKR_BUFFER_TOO_SMALL (the length given) for a short buffer,
// true when the result fits.
bool fits(unsigned char *out, unsigned long *length, unsigned long needed)
{
    bool query = out == nullptr;
    bool shortBuffer = !query && *length < needed;
    if (query || shortBuffer)
        *length = needed;
    if (shortBuffer)
        throw CP11Exception(CKR_BUFFER_TOO_SMALL);
    return !query;
}

// The failure a context reports (never CKR_OK).
[[noreturn]] void contextFailed(CKeyAsymetric *ctx)
{
    unsigned long rv = ctx->GetLastError();
    throw CP11Exception(rv != CKR_OK ? rv : CKR_GENERAL_ERROR);
}

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

// The RSA context's mechanism word of a PKCS#11 mechanism.
unsigned long mechanismWord(unsigned long mechanism)
{
    struct Row {
        unsigned long mechanism, digest;
    };
    static Row const PKCS1[] = {
        {CKM_RSA_PKCS, CKeyAsymetric::DIGEST_NONE},
        {CKM_SHA1_RSA_PKCS, CKeyAsymetric::DIGEST_SHA1},
        {CKM_SHA224_RSA_PKCS, CKeyAsymetric::DIGEST_SHA224},
        {CKM_SHA256_RSA_PKCS, CKeyAsymetric::DIGEST_SHA256},
        {CKM_SHA384_RSA_PKCS, CKeyAsymetric::DIGEST_SHA384},
        {CKM_SHA512_RSA_PKCS, CKeyAsymetric::DIGEST_SHA512},
    };
    if (mechanism == CKM_RSA_X_509)
        return CKeyAsymetric::MECH_RSA_RAW;
    for (Row const &row : PKCS1)
        if (row.mechanism == mechanism)
            return CKeyAsymetric::MECH_RSA_PKCS | row.digest;
    throw CP11Exception(CKR_MECHANISM_INVALID);
}

void refuseParameter(CK_MECHANISM *mechanism)
{
    if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0)
        throw CP11Exception(CKR_MECHANISM_PARAM_INVALID);
}

} // namespace

void CP11Token_eiD::logMechanism(CK_MECHANISM *mechanism)
{
    if (mechanism == nullptr)
        throw CP11Exception(CKR_ARGUMENTS_BAD);
    hl_log(HL_INFO, "Mechanism : %s \n",
           vok_core::logText(CP11Convert::CKM2String(mechanism->mechanism)));
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

CP11Key *CP11Token_eiD::publicKeyFor(unsigned long key, unsigned long mechanism,
                                     unsigned long usage, char const *usageName)
{
    CP11Object *object = objectOf(key);
    unsigned long cls = object->FindLongAttribute(CKA_CLASS);
    if (cls != CKO_PUBLIC_KEY) {
        hl_log(HL_ERROR, "Unexpected 'CKA_CLASS' attribute value.\n");
        throw CP11Exception(cls == CKO_PRIVATE_KEY ? CKR_KEY_FUNCTION_NOT_PERMITTED
                                                   : CKR_KEY_HANDLE_INVALID);
    }
    bool typed = false;
    CP11Key *rsa = dynamic_cast<CP11Key *>(object);
    if (object->FindLongAttribute(CKA_KEY_TYPE, &typed) != CKK_RSA || !typed || rsa == nullptr) {
        hl_log(HL_ERROR, "Unexpected 'CKA_KEY_TYPE' attribute value.\n");
        throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
    }
    if (!rsa->IsMechanismAllowed(mechanism)) {
        hl_log(HL_ERROR, "Mechanism is not allowed.\n");
        throw CP11Exception(CKR_KEY_TYPE_INCONSISTENT);
    }
    if (object->FindByteAttribute(usage) == CK_FALSE) {
        hl_log(HL_ERROR, "Object function not permited ( '%s' not set to TRUE ).\n", usageName);
        throw CP11Exception(CKR_KEY_FUNCTION_NOT_PERMITTED);
    }
    return rsa;
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
    if (!ctx->SetAttribute(CKeyAsymetric::ATTR_MECHANISM, mechanismWord(mechanism)) ||
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
        refuseParameter(mechanism);
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
        endingOnFailure(*this, session, DIGEST, true, [&] {
            if (data == nullptr || dataLength == 0 || digestLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CDigest *ctx = GetSession(session)->DigestCtxGet();
            if (ctx == nullptr)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            if (!fits(digest, digestLength, ctx->Get(nullptr, CDigest::FORM_RAW)))
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
        endingOnFailure(*this, session, DIGEST, false, [&] {
            if (part == nullptr || partLength == 0)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CDigest *ctx = GetSession(session)->DigestCtxGet();
            if (ctx == nullptr || ctx->GetFlags() == CDigest::STATE_FINAL)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            ctx->Update(part, partLength);
        });
    });
}

void CP11Token_eiD::DigestFinal(unsigned long session, unsigned char *digest,
                                unsigned long *digestLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DigestFinal(0x%.8lx,%p,%p)\n", session, (void *)digest,
           (void *)digestLength);
    frame("DigestFinal", [&] {
        endingOnFailure(*this, session, DIGEST, true, [&] {
            if (digestLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CP11Session *s = GetSession(session);
            CDigest *ctx = s->DigestCtxGet();
            if (ctx == nullptr)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            if (ctx->GetFlags() == CDigest::STATE_RESET)
                throw CP11Exception(CKR_OPERATION_ACTIVE); // no data given
            // a digest computed before a size query is delivered as it is
            if (ctx->GetFlags() == CDigest::STATE_UPDATED)
                ctx->Final();
            if (!fits(digest, digestLength, ctx->Get(nullptr, CDigest::FORM_RAW)))
                return;
            *digestLength = ctx->Get(digest, CDigest::FORM_RAW);
            s->DigestCtxSet(nullptr);
        });
    });
}

void CP11Token_eiD::DigestKey(unsigned long session, unsigned long key)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DigestKey(0x%.8lx,0x%.8lx)\n", session, key);
    frame("DigestKey", [&] {
        GetSession(session);
        throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
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
        refuseParameter(mechanism);
        CP11Session *s = GetSession(session);
        CP11Key *object = publicKeyFor(key, mechanism->mechanism, CKA_VERIFY, "CKA_VERIFY");
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
        endingOnFailure(*this, session, VERIFY, false, [&] {
            if (part == nullptr || partLength == 0)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CKeyAsymetric *ctx = GetSession(session)->VerifyCtxGet();
            if (ctx == nullptr || (ctx->GetFlags() & CKeyAsymetric::FLAG_FINISHED) != 0)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            if (!ctx->Update(part, partLength))
                contextFailed(ctx);
        });
    });
}

void CP11Token_eiD::VerifyFinal(unsigned long session, unsigned char *signature,
                                unsigned long signatureLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::VerifyFinal(0x%.8lx,%p,0x%.8lx)\n", session, (void *)signature,
           signatureLength);
    frame("VerifyFinal", [&] {
        endingOnFailure(*this, session, VERIFY, false, [&] {
            if (signature == nullptr || signatureLength == 0)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CP11Session *s = GetSession(session);
            CKeyAsymetric *ctx = s->VerifyCtxGet();
            if (ctx == nullptr)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            if ((ctx->GetFlags() & CKeyAsymetric::FLAG_INITIALISED) != 0)
                throw CP11Exception(CKR_OPERATION_ACTIVE); // no data given
            if ((ctx->GetFlags() & CKeyAsymetric::FLAG_FINISHED) != 0)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            if (!ctx->Final(signature, signatureLength))
                contextFailed(ctx);
            s->VerifyCtxSet(nullptr);
        });
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
        refuseParameter(mechanism);
        CP11Session *s = GetSession(session);
        CP11Key *object = publicKeyFor(key, mechanism->mechanism, CKA_ENCRYPT, "CKA_ENCRYPT");
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
        endingOnFailure(*this, session, ENCRYPT, true, [&] {
            if (data == nullptr || dataLength == 0 || encryptedLength == nullptr)
                throw CP11Exception(CKR_ARGUMENTS_BAD);
            CP11Session *s = GetSession(session);
            CKeyAsymetric *ctx = s->EncryptCtxGet();
            if (ctx == nullptr)
                throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
            unsigned long k = 0;
            if (!ctx->GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, k))
                contextFailed(ctx);
            if (dataLength > k)
                throw CP11Exception(CKR_DATA_LEN_RANGE);
            if (!fits(encrypted, encryptedLength, k))
                return;
            if (!ctx->Do(data, dataLength, nullptr, 0))
                contextFailed(ctx);
            *encryptedLength = ctx->Get(encrypted);
            s->EncryptCtxSet(nullptr);
        });
    });
}

// ---- refused ----

void CP11Token_eiD::EncryptUpdate(unsigned long session, unsigned char *part,
                                  unsigned long partLength, unsigned char *encrypted,
                                  unsigned long *encryptedLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::EncryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)part, partLength, (void *)encrypted, (void *)encryptedLength);
    frame("EncryptUpdate", [&] {
        GetSession(session);
        throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
    });
}

void CP11Token_eiD::EncryptFinal(unsigned long session, unsigned char *lastPart,
                                 unsigned long *lastPartLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::EncryptFinal(0x%.8lx,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    frame("EncryptFinal", [&] {
        GetSession(session);
        throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
    });
}

void CP11Token_eiD::DecryptUpdate(unsigned long session, unsigned char *encryptedPart,
                                  unsigned long encryptedLength, unsigned char *part,
                                  unsigned long *partLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DecryptUpdate(0x%.8lx,%p,0x%.8lx,%p,%p)\n", session,
           (void *)encryptedPart, encryptedLength, (void *)part, (void *)partLength);
    frame("DecryptUpdate", [&] {
        GetSession(session);
        throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
    });
}

void CP11Token_eiD::DecryptFinal(unsigned long session, unsigned char *lastPart,
                                 unsigned long *lastPartLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::DecryptFinal(0x%.8lx,%p,%p)\n", session, (void *)lastPart,
           (void *)lastPartLength);
    frame("DecryptFinal", [&] {
        GetSession(session);
        throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
    });
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
