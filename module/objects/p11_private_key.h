// Base of the private-key classes: usage flags and the sensitivity rules.
#pragma once

#include "objects/p11_key.h"

class CP11PrivateKey : public CP11Key
{
  public:
    CP11PrivateKey();
    CP11PrivateKey(CP11PrivateKey const &other);
    ~CP11PrivateKey() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    _asn_t *Encode() override;
};
