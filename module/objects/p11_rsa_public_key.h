// RSA public keys: the public halves of the card's key pairs and software keys.
#pragma once

#include "objects/p11_public_key.h"

class CP11RSAPublicKey : public CP11PublicKey
{
  public:
    CP11RSAPublicKey();
    CP11RSAPublicKey(CP11RSAPublicKey const &other);
    ~CP11RSAPublicKey() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    // A token key leaves its key material out: the card keeps it in its key files.
    _asn_t *Encode() override;
};
