#ifndef VOK_CRYPTO_CRYPTO_RANDOM_H
#define VOK_CRYPTO_CRYPTO_RANDOM_H

#include <cstddef>

// The module's one random generator: a CTR-DRBG seeded from the platform
// entropy sources on first use and reseeded in a forked child. Every random
// byte of the module comes from it (CRandom, key generation, RSA blinding and
// PKCS#1 padding). Safe to call from any thread.
//
// The signature is the random-callback form the RSA functions take, so it can
// be passed as f_rng with a NULL p_rng. Returns 0, or a negative code when the
// generator could not be seeded or failed (the buffer is then not to be used).
int crypto_random(void *p_rng, unsigned char *out, size_t length);

// Wipes and frees the generator's state; a later crypto_random seeds a new one.
// The module's unload hook calls it once nothing else of the module runs.
void crypto_random_free();

#endif
