#ifndef VOK_CRYPTO_RSA_H
#define VOK_CRYPTO_RSA_H

#include "crypto/key_asymetric.h"

// RSA operation object: the key is an RSA key context filled from big-endian
// components; signing and verification may run with a digest, encryption and
// decryption are single-part. With OP_EXTERNAL in the operation word the raw
// RSA step is left to the card: signing and encryption give the padded
// block, decryption takes the recovered block.
class CRSA : public CKeyAsymetric
{
  public:
    // Key components (big-endian bytes) and the modulus size for Generate.
    enum {
        ATTR_MODULUS = 0x1000001,
        ATTR_PUBLIC_EXPONENT = 0x1000002,
        ATTR_PRIVATE_EXPONENT = 0x1000003,
        ATTR_PRIME_1 = 0x1000004,
        ATTR_PRIME_2 = 0x1000005,
        ATTR_EXPONENT_1 = 0x1000006,  // D mod (P - 1)
        ATTR_EXPONENT_2 = 0x1000007,  // D mod (Q - 1)
        ATTR_COEFFICIENT = 0x1000008, // Q^-1 mod P
        ATTR_MODULUS_BITS = 0x1000009,
    };

    CRSA();
    ~CRSA() override;

    bool SetAttribute(unsigned int id, void const *data, unsigned long length) override;
    bool SetAttribute(unsigned int id, unsigned long value) override;
    bool GetAttribute(unsigned int id, void *buffer, unsigned long *length) override;
    bool GetAttribute(unsigned int id, unsigned long &value) override;
    bool Reset() override;
    bool CheckPrivateKey() override;
    bool CheckPublicKey() override;
    bool Generate() override;
    bool Init(unsigned long operation) override;
    bool Update(void const *data, unsigned long length) override;
    bool Final(void const *data, unsigned long length) override;
    bool Do(void const *data, unsigned long length, void const *data2,
            unsigned long length2) override;
    unsigned long Get(void *buffer) override;

  private:
    bool finalOperation(void const *data, unsigned long length);
    bool runOperation();
    bool completeKey();
    unsigned long keyLength() const;

    unsigned long m_bits;
    bool m_keyChanged; // components set since the key was last completed
};

#endif
