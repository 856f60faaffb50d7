// What the identity-card token's crypto operations share: the RSA context's
// mechanism word of each mechanism, the refusal of mechanism parameters, a context's
// failure as a PKCS#11 code, the size convention of the calls that return data, and
// the end of a session's operation when a call fails.
#pragma once

#include <p11-kit/pkcs11.h>

#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "core/p11_session.h"
#include "crypto/key_asymetric.h"

namespace token_crypto
{

// The mechanism word of an RSA mechanism. Signing and verification take all seven
// (withDigest), encryption and decryption the two without a digest; any other
// mechanism is CKR_MECHANISM_INVALID.
inline unsigned long mechanismWord(CK_MECHANISM_TYPE type, bool withDigest)
{
    struct Word {
        CK_MECHANISM_TYPE type;
        unsigned long word;
    };
    static Word const WORDS[] = {
        {CKM_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS},
        {CKM_RSA_X_509, CKeyAsymetric::MECH_RSA_RAW},
        {CKM_SHA1_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA1},
        {CKM_SHA224_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA224},
        {CKM_SHA256_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256},
        {CKM_SHA384_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA384},
        {CKM_SHA512_RSA_PKCS, CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA512},
    };
    for (Word const &w : WORDS)
        if (w.type == type && (withDigest || (w.word & 0xFF) == CKeyAsymetric::DIGEST_NONE))
            return w.word;
    throw CP11Exception(CKR_MECHANISM_INVALID);
}

inline void noParameter(CK_MECHANISM const *mechanism)
{
    if (mechanism->pParameter != nullptr || mechanism->ulParameterLen != 0)
        throw CP11Exception(CKR_MECHANISM_PARAM_INVALID);
}

// The message as a type 8 line, then rv.
[[noreturn]] inline void refuse(char const *message, unsigned long rv)
{
    vok_log::hl_log(vok_log::HL_ERROR, "%s\n", message);
    throw CP11Exception(rv);
}

// The failure a context reports (never CKR_OK).
[[noreturn]] inline void contextFailed(CKeyAsymetric *ctx)
{
    unsigned long rv = ctx->GetLastError();
    throw CP11Exception(rv != CKR_OK ? rv : CKR_GENERAL_ERROR);
}

// The context of an operation under way; CKR_OPERATION_NOT_INITIALIZED for none.
template <typename Ctx> Ctx *active(Ctx *ctx)
{
    if (ctx == nullptr)
        throw CP11Exception(CKR_OPERATION_NOT_INITIALIZED);
    return ctx;
}

// The key's modulus length in bytes.
inline unsigned long keyLength(CKeyAsymetric *ctx)
{
    unsigned long k = 0;
    if (!ctx->GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, k))
        contextFailed(ctx);
    return k;
}

// The size convention: false (length stored) for a size query; a buffer too
// small gets the length and CKR_BUFFER_TOO_SMALL; true when the output fits.
inline bool fits(unsigned long needed, unsigned char *out, unsigned long *outLength)
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
// always) ends the session's operation that drop sets.
template <typename Ctx, typename Body>
void ending(CP11Session *session, void (CP11Session::*drop)(Ctx *), Body body, bool always = false)
{
    try {
        body();
    } catch (CP11Exception &e) {
        if (always || e.GetErrorCode() != CKR_BUFFER_TOO_SMALL)
            (session->*drop)(nullptr);
        throw;
    }
}

} // namespace token_crypto
