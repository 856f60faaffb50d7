// RSA private keys: the private halves of the card's key pairs, imported keys and
// software keys.
#pragma once

#include "objects/p11_private_key.h"

class CP11RSAPublicKey;

class CP11RSAPrivateKey : public CP11PrivateKey
{
  public:
    CP11RSAPrivateKey();
    CP11RSAPrivateKey(CP11RSAPrivateKey const &other);
    ~CP11RSAPrivateKey() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    // A token key leaves its key material out: the card keeps it in its key files.
    _asn_t *Encode() override;

    // A new public key with the public part of this key, owned by the caller;
    // NULL when this key's attribute list cannot be listed.
    CP11RSAPublicKey *MakePublicKey();

    // The key as a CryptoAPI PRIVATEKEYBLOB ("RSA2") for the card's key import.
    // buffer NULL returns the blob size; otherwise the blob is written into the
    // size bytes at buffer and its size returned.
    unsigned long ToCApi(unsigned char *buffer, unsigned long size);
};
