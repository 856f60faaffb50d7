// Base of the key classes: the attributes and rules every key shares, the
// allowed-mechanism test and the byte reversal used for CryptoAPI layouts.
#pragma once

#include "objects/p11_storage_object.h"

class CP11Key : public CP11StorageObject
{
  public:
    CP11Key();
    CP11Key(CP11Key const &other);
    ~CP11Key() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    _asn_t *Encode() override;

    // True when CKA_ALLOWED_MECHANISMS lists the mechanism; an empty or missing
    // list allows nothing. Never throws.
    bool IsMechanismAllowed(unsigned long mechanism);
    // Reverses length bytes in place (big-endian to little-endian and back).
    static void revert(void *data, unsigned long length);

  protected:
    // Sets CKA_SENSITIVE or CKA_EXTRACTABLE (on creation, generation or inside
    // the module) and clears CKA_ALWAYS_SENSITIVE or CKA_NEVER_EXTRACTABLE once
    // the key is, or was, exposed.
    bool setExposureFlag(CK_ATTRIBUTE *attribute, P11Operation operation);
};
