#ifndef VOK_CRYPTO_RANDOM_H
#define VOK_CRYPTO_RANDOM_H

// Random bytes from the module's random generator.
class CRandom
{
  public:
    CRandom();
    virtual ~CRandom();

    // Fills length bytes; false for a NULL buffer or when the generator fails.
    bool Generate(void *buffer, unsigned long length);
};

#endif
