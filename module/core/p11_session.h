// One open PKCS#11 session of a token: its state as internal attributes, the
// session objects it created, the state of a running object search, the five
// cryptographic operation contexts and the security officer's encrypted PUK.
// Policy (read-only sessions, login rules) is the token's; the session only
// carries out what the token asks.
#pragma once

#include <p11-kit/pkcs11.h>

#include <memory>

#include "base/blob.h"
#include "base/list.h"
#include "base/p11_base.h"
#include "crypto/digest.h"
#include "crypto/key_asymetric.h"
#include "objects/p11_template.h"

class CP11Token;
class CP11Object;
class CP11Key;
class CP11PublicKey;
class CP11PrivateKey;

// Session attributes.
constexpr unsigned long SESSION_A_ID = 0x30000001UL;          // the session handle
constexpr unsigned long SESSION_A_STATE = 0x30000002UL;       // CKS_*
constexpr unsigned long SESSION_A_FLAGS = 0x30000003UL;       // CKF_* given to C_OpenSession
constexpr unsigned long SESSION_A_BASE_OBJ_ID = 0x30000004UL; // base of session-object handles
constexpr unsigned long SESSION_A_LAST_OBJ_ID = 0x30000005UL; // last session-object handle given

// Session-object handles lie above this value; token-object handles below it.
constexpr unsigned long SESSION_OBJECT_HANDLE_BASE = 0x80000000UL;

class CP11Session : public CP11Base
{
  public:
    // token NULL: CKR_SLOT_ID_INVALID; attributes not made: CKR_HOST_MEMORY.
    CP11Session(CP11Token *token, unsigned long handle);
    CP11Session(CP11Session const &) = delete;
    CP11Session &operator=(CP11Session const &) = delete;
    ~CP11Session() override;

    CP11Token *GetToken() const { return m_token; }

    void GetInfo(CK_SESSION_INFO *info);

    // Session objects. PushObject and CopyObject keep a copy of the object's own
    // class; the caller keeps its own object.
    void PushObject(CP11Object *object, unsigned long *handle);
    void CopyObject(CP11Object *source, CK_ATTRIBUTE *templ, unsigned long count,
                    unsigned long *handle);
    // Looks in this session's objects only; throws CKR_OBJECT_HANDLE_INVALID.
    CP11Object *GetObject(unsigned long handle);
    // The same lookup without a log line or a throw: NULL when not held.
    CP11Object *findObject(unsigned long handle) const;
    void DestroyObject(CP11Object *object);
    // This session's objects, in the order they were added.
    CList<CP11Object *> const &GetObjects() const { return m_objects; }

    // Object search. The candidates are the handles the token and its
    // sessions hold when the search starts; each is looked up again when it
    // is returned, so objects destroyed meanwhile are skipped.
    void FindObjectsInit(CK_ATTRIBUTE *templ, unsigned long count);
    void FindObjects(unsigned long *handles, unsigned long max, unsigned long *count);
    void FindObjectsFinal();
    bool IsSearchActive() const { return m_searchActive; }

    // Drops the private session objects.
    void Logout();

    // The security officer's PUK in the token's encrypted form.
    void PukSet(unsigned char *puk, unsigned long length);
    CBlob *PukGet() { return &m_puk; }

    // Operation contexts: a setter frees the context held, then owns the new one.
    CDigest *DigestCtxGet() const { return m_digestCtx.get(); }
    CKeyAsymetric *SignCtxGet() const { return m_signCtx.get(); }
    CKeyAsymetric *VerifyCtxGet() const { return m_verifyCtx.get(); }
    CKeyAsymetric *EncryptCtxGet() const { return m_encryptCtx.get(); }
    CKeyAsymetric *DecryptCtxGet() const { return m_decryptCtx.get(); }
    void DigestCtxSet(CDigest *ctx);
    void SignCtxSet(CKeyAsymetric *ctx);
    void VerifyCtxSet(CKeyAsymetric *ctx);
    void EncryptCtxSet(CKeyAsymetric *ctx);
    void DecryptCtxSet(CKeyAsymetric *ctx);

    // Loads the RSA components of a public or private key into ctx.
    void WriteKeyToCtx(CP11Key *key, CKeyAsymetric *ctx);
    // Generates an RSA key pair in software and keeps copies of both
    // objects, completed with the key, as session objects.
    void GenerateKeyPair(CP11PublicKey *publicTemplate, CP11PrivateKey *privateTemplate,
                         unsigned long *publicHandle, unsigned long *privateHandle);
    void SeedDataSet(unsigned char *seed, unsigned long length);
    CBlob const &SeedGet() const { return m_seed; }

  private:
    void releaseObjects();
    // Lists the object under the handle; throws (and frees it) when it cannot.
    void addObject(std::unique_ptr<CP11Object> object, unsigned long handle);

    CP11Template m_searchTemplate;
    CList<unsigned long> m_searchHandles; // candidates of the running search
    CList<unsigned long>::Iterator m_searchCursor;
    bool m_searchActive;
    CList<CP11Object *> m_objects; // session objects, owned
    CP11Token *m_token;
    std::unique_ptr<CDigest> m_digestCtx;
    std::unique_ptr<CKeyAsymetric> m_signCtx;
    std::unique_ptr<CKeyAsymetric> m_verifyCtx;
    std::unique_ptr<CKeyAsymetric> m_encryptCtx;
    std::unique_ptr<CKeyAsymetric> m_decryptCtx;
    CBlob m_seed;
    CBlob m_puk;
};
