#ifndef VOK_CRYPTO_DIGEST_H
#define VOK_CRYPTO_DIGEST_H

// Message digests: one class per algorithm behind the common base CDigest.
// A digest is reset by its constructor, fed by Update, closed by Final (or
// Hash) and read by Get any number of times.
class CDigest
{
  public:
    // Algorithm ids.
    enum {
        ALG_MD5 = 1,
        ALG_SHA1 = 2,
        ALG_SHA224 = 3,
        ALG_SHA256 = 4,
        ALG_SHA384 = 5,
        ALG_SHA512 = 6,
    };
    // State word.
    enum {
        STATE_UPDATED = 0,
        STATE_RESET = 1,
        STATE_FINAL = 2,
    };
    // Get forms.
    enum {
        FORM_RAW = 0,         // the digest bytes
        FORM_HEX = 1,         // "A1B2..." with a NUL
        FORM_HEX_COLON = 2,   // "A1:B2:..." with a NUL
        FORM_DIGEST_INFO = 3, // DER DigestInfo of the digest
    };
    enum { MAX_DIGEST_LENGTH = 64 };

    virtual ~CDigest();
    virtual void Reset();
    virtual void Hash(void const *data, unsigned long length);
    virtual void Update(void const *data, unsigned long length);
    virtual void Final();
    // Writes the digest in the form when buffer is given; returns its size
    // (the forms with text count the NUL only when measuring).
    virtual unsigned long Get(void *buffer, unsigned long form) = 0;

    unsigned long GetAlgorithmId() const { return m_algId; }
    unsigned long GetFlags() const { return m_flags; }

    // Two upper-case hex digits per byte, separator between bytes, then a NUL.
    // Returns the characters written (without the NUL), or with out NULL the
    // size needed (with the NUL).
    static unsigned long toHex(unsigned char const *bytes, unsigned long count,
                               char const *separator, char *out);

  protected:
    CDigest();
    // Get for a digest of the given length and DigestInfo prefix.
    unsigned long getForm(void *buffer, unsigned long form, unsigned long length,
                          unsigned char const *prefix, unsigned long prefixLength) const;

    void *m_ctx; // the algorithm's hash context, owned by the subclass
    unsigned long m_flags;
    unsigned long m_algId;
    unsigned char m_digest[MAX_DIGEST_LENGTH];

  private:
    CDigest(CDigest const &) = delete;
    CDigest &operator=(CDigest const &) = delete;
};

#define VOK_DIGEST_CLASS(name)                                                                     \
    class name : public CDigest                                                                    \
    {                                                                                              \
      public:                                                                                      \
        name();                                                                                    \
        name(void const *data, unsigned long length);                                              \
        ~name() override;                                                                          \
        void Reset() override;                                                                     \
        void Hash(void const *data, unsigned long length) override;                                \
        void Update(void const *data, unsigned long length) override;                              \
        void Final() override;                                                                     \
        unsigned long Get(void *buffer, unsigned long form) override;                              \
    }

VOK_DIGEST_CLASS(CMD5);
VOK_DIGEST_CLASS(CSHA1);
VOK_DIGEST_CLASS(CSHA224);
VOK_DIGEST_CLASS(CSHA256);
VOK_DIGEST_CLASS(CSHA384);
VOK_DIGEST_CLASS(CSHA512);

#undef VOK_DIGEST_CLASS

#endif
