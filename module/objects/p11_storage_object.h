// Base of every object that can live on a token or in a session: adds
// CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE and CKA_LABEL to the object defaults.
#pragma once

#include "objects/p11_object.h"

class CP11StorageObject : public CP11Object
{
  public:
    CP11StorageObject();
    // Deep copy with the behaviour of a plain storage object: the session keeps
    // its objects as such copies.
    CP11StorageObject(CP11StorageObject const &other);
    ~CP11StorageObject() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    _asn_t *Encode() override;
};
