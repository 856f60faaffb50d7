// Base of the certificate classes: the attributes every certificate type shares.
// No certificate of this bare class is ever built; it has no storage form.
#pragma once

#include "objects/p11_storage_object.h"

class CP11Certificate : public CP11StorageObject
{
  public:
    CP11Certificate();
    CP11Certificate(CP11Certificate const &other);
    ~CP11Certificate() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    _asn_t *Encode() override;
};
