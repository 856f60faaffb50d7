// Secret keys. The module creates none: the class holds the defaults, rules and
// checks of a secret key for the object model's completeness.
#pragma once

#include "objects/p11_key.h"

class CP11SecretKey : public CP11Key
{
  public:
    CP11SecretKey();
    CP11SecretKey(CP11SecretKey const &other);
    ~CP11SecretKey() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    _asn_t *Encode() override;
};
