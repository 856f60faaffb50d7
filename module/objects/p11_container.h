// One key container of the card: a key pair and its certificate with the
// container's identity, and the container file that keeps their stored
// attributes. The members belong to the token; the container only points at them.
#pragma once

#include <p11-kit/pkcs11.h>

#include "base/p11_base.h"

struct _asn_t;
class CP11Certificate;
class CP11PrivateKey;
class CP11PublicKey;
class CP11Template;

// Container attributes; the numbers meet the object vendor attributes but live
// in the container's own list.
constexpr CK_ATTRIBUTE_TYPE CKA_CONTAINER_ID = 0x80000001UL;         // byte, 0xFF: none
constexpr CK_ATTRIBUTE_TYPE CKA_CONTAINER_TYPE = 0x80000002UL;       // 21 exchange, 22 signature
constexpr CK_ATTRIBUTE_TYPE CKA_CONTAINER_LABEL = 0x80000003UL;      // container name
constexpr CK_ATTRIBUTE_TYPE CKA_CONTAINER_KEY_NUMBER = 0x80000004UL; // byte, 0xFF: none

class CP11Container : public CP11Base
{
  public:
    CP11Container(CP11PublicKey *publicKey, CP11PrivateKey *privateKey,
                  CP11Certificate *certificate);
    ~CP11Container() override;

    void SetKeyPublic(CP11PublicKey *key) { m_publicKey = key; }
    void SetKeyPrivate(CP11PrivateKey *key) { m_privateKey = key; }
    void SetCertificate(CP11Certificate *certificate) { m_certificate = certificate; }
    CP11PublicKey *GetKeyPublic() const { return m_publicKey; }
    CP11PrivateKey *GetKeyPrivate() const { return m_privateKey; }
    CP11Certificate *GetCertificate() const { return m_certificate; }

    // Members present and not hidden (0 to 3).
    unsigned long GetObjectCount();

    // Container element [type] { certificate, public key, private key } from the
    // members' own storage forms; owned by the caller.
    _asn_t *Encode();
    // The same element with each member's attribute set taken from the template
    // of its position (NULL: the member's visible flag only).
    _asn_t *Encode(CP11Template *cert, CP11Template *pub, CP11Template *priv);

    // Container file SEQUENCE holding first, then second (either may be NULL);
    // NULL when both are. The file owns the elements afterwards.
    static _asn_t *MergeEncodedContainer(_asn_t *first, _asn_t *second);
    // The element of that type among the first two of a decoded file, or NULL.
    // The result points into the file's tree.
    static _asn_t *FindEncodedContainer(_asn_t *file, unsigned long type);

    // Reads a container element: each member's stored attribute set goes into the
    // template of its position when one is given (the member keeps its values),
    // else into the member itself. With release set the element chain is freed,
    // also on failure.
    void Decode(_asn_t *element, CP11Template *cert, CP11Template *pub, CP11Template *priv,
                bool release);

  private:
    void addAttribute(CAttribute *attribute, bool ok);
    _asn_t *encodeMembers(CP11Template *const *templates);

    CP11PublicKey *m_publicKey;
    CP11PrivateKey *m_privateKey;
    CP11Certificate *m_certificate;
};
