#ifndef VOK_CRYPTO_DES_ENCRYPTOR_H
#define VOK_CRYPTO_DES_ENCRYPTOR_H

#include "base/blob.h"

// Three-key triple DES in CBC mode for short byte strings kept in memory (the
// cached PIN and PUK). The input is padded with zeros and a final count byte
// (1 to 8). The initialisation vector is one fixed value: the ciphertexts are
// never stored or exchanged.
class CDesEncryptor
{
  public:
    enum { KEY_LENGTH = 24 };

    explicit CDesEncryptor(unsigned char const key[KEY_LENGTH]);
    virtual ~CDesEncryptor();

    bool Encrypt(void const *data, unsigned long length);
    // A failure after the decryption leaves the whole plaintext in the result.
    bool Decrypt(void const *data, unsigned long length);
    // The result of the last Encrypt or Decrypt.
    CBlob &Get() { return m_result; }

  private:
    CDesEncryptor(CDesEncryptor const &) = delete;
    CDesEncryptor &operator=(CDesEncryptor const &) = delete;
    void clearResult();

    unsigned char m_key[KEY_LENGTH];
    CBlob m_result;
};

#endif
