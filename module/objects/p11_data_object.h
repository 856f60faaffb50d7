// Data objects: the card's data files and the CKO_DATA objects of applications.
#pragma once

#include "objects/p11_storage_object.h"

class CP11DataObject : public CP11StorageObject
{
  public:
    CP11DataObject();
    CP11DataObject(CP11DataObject const &other);
    ~CP11DataObject() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    // Every attribute is stored: the card keeps no other copy of a data object.
    _asn_t *Encode() override;
};
