// X.509 public-key certificates: the card's certificates and the certificates
// applications import. The class never parses CKA_VALUE; whoever builds the
// object supplies subject, issuer and serial number.
#pragma once

#include "objects/p11_certificate.h"

class CP11X509Certificate : public CP11Certificate
{
  public:
    CP11X509Certificate();
    CP11X509Certificate(CP11X509Certificate const &other);
    ~CP11X509Certificate() override;

    using CP11Object::Encode;
    using CP11Object::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation) override;
    unsigned long GetSize() override;
    void Verify(P11Operation operation) override;
    // A token certificate leaves CKA_VALUE out: the card keeps the certificate in
    // a file of its own.
    _asn_t *Encode() override;

  private:
    // Stores a serial number that is not DER as a DER INTEGER of the raw bytes.
    bool setSerialNumber(CK_ATTRIBUTE *attribute);
};
