// A fake token for tests: it stands on any slot (the scripted test card's
// reader, or a slot without a channel), answers IsKnown with yes, logs in
// with fixed PINs and keeps everything in memory: token objects created by
// the caller, session objects, digests, RSA signatures and verifications with
// session keys, and RSA key pairs generated in software as session objects.
// It follows the rules the identity-card token follows for these operations.
#pragma once

#include "core/p11_token.h"

class CP11Object;

namespace vok_test
{

// The user's PIN and the security officer's PIN (PUK) of every fake token.
constexpr char FAKE_USER_PIN[] = "123456";
constexpr char FAKE_SO_PIN[] = "87654321";
// What Initialize puts in the token information.
constexpr char FAKE_LABEL[] = "Fake test token";
constexpr unsigned long FAKE_MAX_SESSIONS = 16;
constexpr unsigned long FAKE_MIN_RSA_BITS = 1024;
constexpr unsigned long FAKE_MAX_RSA_BITS = 4096;

class CP11Token_Fake : public CP11Token
{
  public:
    // The slot is not owned. No card input or output happens here.
    explicit CP11Token_Fake(CP11Slot *slot);
    ~CP11Token_Fake() override;

    bool IsKnown() override;
    // Fills the mechanisms and token information; when the slot has a
    // channel, connects to the card in its reader (kept until Finalize).
    void Initialize() override;
    void Finalize() override;
    void GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info) override;

    void OpenSession(unsigned long flags, void *application, CK_NOTIFY notify,
                     unsigned long *session) override;
    void CloseSession(unsigned long session) override;
    void CloseAllSessions() override;
    void GetSessionInfo(unsigned long session, CK_SESSION_INFO *info) override;
    void Login(unsigned long session, unsigned long userType, unsigned char *pin,
               unsigned long pinLength) override;
    void Logout(unsigned long session) override;

    void CreateObject(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count,
                      unsigned long *object) override;
    void DestroyObject(unsigned long session, unsigned long object) override;
    void GetAttributeValue(unsigned long session, unsigned long object, CK_ATTRIBUTE *templ,
                           unsigned long count) override;
    void FindObjectsInit(unsigned long session, CK_ATTRIBUTE *templ, unsigned long count) override;
    void FindObjects(unsigned long session, unsigned long *objects, unsigned long max,
                     unsigned long *count) override;
    void FindObjectsFinal(unsigned long session) override;

    void DigestInit(unsigned long session, CK_MECHANISM *mechanism) override;
    void Digest(unsigned long session, unsigned char *data, unsigned long dataLength,
                unsigned char *digest, unsigned long *digestLength) override;
    void DigestUpdate(unsigned long session, unsigned char *part,
                      unsigned long partLength) override;
    void DigestFinal(unsigned long session, unsigned char *digest,
                     unsigned long *digestLength) override;
    void SignInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key) override;
    void Sign(unsigned long session, unsigned char *data, unsigned long dataLength,
              unsigned char *signature, unsigned long *signatureLength) override;
    void SignUpdate(unsigned long session, unsigned char *part, unsigned long partLength) override;
    void SignFinal(unsigned long session, unsigned char *signature,
                   unsigned long *signatureLength) override;
    void VerifyInit(unsigned long session, CK_MECHANISM *mechanism, unsigned long key) override;
    void Verify(unsigned long session, unsigned char *data, unsigned long dataLength,
                unsigned char *signature, unsigned long signatureLength) override;
    void VerifyUpdate(unsigned long session, unsigned char *part,
                      unsigned long partLength) override;
    void VerifyFinal(unsigned long session, unsigned char *signature,
                     unsigned long signatureLength) override;
    void GenerateKeyPair(unsigned long session, CK_MECHANISM *mechanism,
                         CK_ATTRIBUTE *publicTemplate, unsigned long publicCount,
                         CK_ATTRIBUTE *privateTemplate, unsigned long privateCount,
                         unsigned long *publicKey, unsigned long *privateKey) override;

    // The user type logged in, or all ones when nobody is.
    unsigned long LoggedIn() const { return m_loggedIn; }

  private:
    unsigned long m_loggedIn;
};

// Builds a fake token on the slot; the caller owns it (delete through
// CP11Token). The factory a test build of the module registers in place of
// the identity-card token.
CP11Token *CreateFakeToken(CP11Slot *slot);

} // namespace vok_test
