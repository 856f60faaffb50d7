// Base of the public-key classes.
#pragma once

#include "objects/p11_key.h"

class CP11PublicKey : public CP11Key
{
  public:
    CP11PublicKey();
    CP11PublicKey(CP11PublicKey const &other);
    ~CP11PublicKey() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    _asn_t *Encode() override;
};
