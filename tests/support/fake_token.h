// A fake token for tests: it stands on any slot (the scripted test card's
// reader, or a slot without a channel), answers IsKnown with yes and keeps
// everything in memory: its PINs with their tries, token objects created by
// the caller (with the container names they were given; a private key given
// none gets a new container of the token's naming, a certificate whose
// container holds keys must carry one of their public keys, and a full token
// refuses more), session objects,
// digests, RSA signatures and verifications with session keys, and RSA key
// pairs generated in software as session objects. It answers the card
// manager's vendor attributes (fake_token_profile.h) and follows the rules the
// identity-card token follows for these operations.
#pragma once

#include <map>
#include <string>

#include "core/p11_token.h"
#include "fake_token_profile.h"

class CP11Object;

namespace vok_test
{

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
    // Changes the PIN of the session's user: the security officer's in an SO
    // session, else the user's; a logged-in session ends logged out.
    void SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                unsigned char *newPin, unsigned long newLength) override;
    // In the security officer's session: a new user PIN with all its tries.
    void InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength) override;

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
    void GenerateRandom(unsigned long session, unsigned char *randomData,
                        unsigned long randomLength) override;

    // The user type logged in, or all ones when nobody is.
    unsigned long LoggedIn() const { return m_loggedIn; }

  private:
    struct Pin {
        std::string value;
        unsigned long limit;
        unsigned long left;
    };
    Pin &pinOf(unsigned long userType) { return userType == CKU_SO ? m_soPin : m_userPin; }
    // Checks a presented PIN against its record, spending a try when wrong.
    void present(Pin &pin, unsigned char const *given, unsigned long length);
    void vendorAttribute(CP11Object *object, CK_ATTRIBUTE *attribute);
    // Whether a certificate may join the named container: when its value is
    // an X.509 certificate with an RSA key and the container holds keys, one
    // of them must be that key (the identity card's rule).
    bool certificateFits(CP11Object *certificate, std::string const &container);

    unsigned long m_loggedIn;
    Pin m_userPin;
    Pin m_soPin;
    std::map<unsigned long, std::string> m_containerNames; // by token-object handle
    unsigned long m_containerCounter = 0;                  // containers the token named
};

// Builds a fake token on the slot; the caller owns it (delete through
// CP11Token). The factory a test build of the module registers in place of
// the identity-card token.
CP11Token *CreateFakeToken(CP11Slot *slot);

} // namespace vok_test
