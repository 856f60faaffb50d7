#ifndef VOK_CRYPTO_KEY_ASYMETRIC_H
#define VOK_CRYPTO_KEY_ASYMETRIC_H

class CDigest;

// The operation object behind an asymmetric PKCS#11 operation: one key, one
// operation (sign, verify, encrypt, decrypt), the data gathered by Update and
// the result. Nothing throws: every operation returns its success and keeps
// the PKCS#11 return value of a failure in the last-error word.
class CKeyAsymetric
{
  public:
    // Attribute ids of the base.
    enum {
        ATTR_MECHANISM = 1,
        ATTR_KEY_LENGTH = 2, // read only, bytes
    };
    // Mechanism words: raw RSA, or PKCS#1 v1.5 plus a digest id (DIGEST_*).
    enum : unsigned long {
        MECH_RSA_RAW = 0x1000000,
        MECH_RSA_PKCS = 0x1010000,
    };
    enum : unsigned long {
        DIGEST_NONE = 0,
        DIGEST_MD5 = 1,
        DIGEST_SHA1 = 2,
        DIGEST_SHA224 = 3,
        DIGEST_SHA256 = 4,
        DIGEST_SHA384 = 5,
        DIGEST_SHA512 = 6,
    };
    // Operation words; OP_EXTERNAL marks an operation whose raw RSA step the
    // card performs (only the padding is done here).
    enum : unsigned long {
        OP_SIGN = 0x1001,
        OP_VERIFY = 0x1002,
        OP_ENCRYPT = 0x1003,
        OP_DECRYPT = 0x1004,
        OP_EXTERNAL = 0x80000000,
    };
    // State bits (GetFlags).
    enum : unsigned long {
        FLAG_INITIALISED = 0x1, // set by Init, cleared by the first Update
        FLAG_FINISHED = 0x2,    // set by a successful Final
    };

    CKeyAsymetric();
    virtual ~CKeyAsymetric();

    virtual bool SetAttribute(unsigned int id, void const *data, unsigned long length);
    virtual bool SetAttribute(unsigned int id, unsigned long value);
    virtual bool GetAttribute(unsigned int id, void *buffer, unsigned long *length);
    virtual bool GetAttribute(unsigned int id, unsigned long &value);
    virtual bool Reset();
    virtual bool CheckPrivateKey() = 0;
    virtual bool CheckPublicKey() = 0;
    virtual bool Generate() = 0;
    virtual bool Init(unsigned long operation);
    virtual bool Update(void const *data, unsigned long length);
    virtual bool Final(void const *data, unsigned long length);
    virtual bool Do(void const *data, unsigned long length, void const *data2,
                    unsigned long length2);
    // Returns the output length; copies the output when buffer is given.
    virtual unsigned long Get(void *buffer) = 0;

    unsigned long GetFlags() const { return m_state; }
    void SetUserData(unsigned long data) { m_userData = data; }
    unsigned long GetUserData() const { return m_userData; }
    unsigned long GetLastError() const { return m_lastError; }

  protected:
    unsigned long operation() const { return m_operation & 0xFFFF; }
    bool external() const { return (m_operation & OP_EXTERNAL) != 0; }
    unsigned long digestId() const { return m_mechanism & 0xFF; }
    void freeOutput();

    void *m_key; // the subclass's key context
    unsigned long m_mechanism;
    unsigned long m_state;
    unsigned long m_userData;
    CDigest *m_digest;
    unsigned char *m_input;
    unsigned long m_inputLength;
    unsigned char *m_output;
    unsigned long m_outputLength;
    unsigned long m_operation;
    unsigned long m_lastError;

  private:
    CKeyAsymetric(CKeyAsymetric const &) = delete;
    CKeyAsymetric &operator=(CKeyAsymetric const &) = delete;
    void freeInput();
};

#endif
