#include "crypto/crypto_random.h"

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/platform_util.h>

#include <mutex>
#include <unistd.h>

namespace
{

// Made on first use and freed only by crypto_random_free: other module-wide objects
// may still draw random bytes while static destructors run at unload.
struct RandomPool {
    std::mutex lock;
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    bool initialised = false;
    bool seeded = false;
    pid_t owner = 0;
};

std::mutex g_poolLock; // constant-initialised, nothing to destroy
RandomPool *g_pool = nullptr;

RandomPool &pool()
{
    std::lock_guard<std::mutex> guard(g_poolLock);
    if (g_pool == nullptr)
        g_pool = new RandomPool;
    return *g_pool;
}

const unsigned char PERSONALISATION[] = "vokral module random pool";

// Called with the lock held.
int ensureSeeded(RandomPool &p)
{
    if (!p.initialised) {
        mbedtls_entropy_init(&p.entropy);
        mbedtls_ctr_drbg_init(&p.drbg);
        p.initialised = true;
    }
    pid_t self = getpid();
    if (p.seeded) {
        if (p.owner == self)
            return 0;
        // A forked child must not repeat its parent's stream.
        int ret = mbedtls_ctr_drbg_reseed(&p.drbg, nullptr, 0);
        if (ret == 0)
            p.owner = self;
        return ret;
    }
    int ret = mbedtls_ctr_drbg_seed(&p.drbg, mbedtls_entropy_func, &p.entropy, PERSONALISATION,
                                    sizeof(PERSONALISATION) - 1);
    if (ret == 0) {
        p.seeded = true;
        p.owner = self;
    }
    return ret;
}

} // namespace

int crypto_random(void *, unsigned char *out, size_t length)
{
    if (length == 0)
        return 0;
    if (out == nullptr)
        return MBEDTLS_ERR_CTR_DRBG_REQUEST_TOO_BIG;
    RandomPool &p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    int ret = ensureSeeded(p);
    if (ret != 0)
        return ret;
    while (length > 0) {
        size_t chunk =
            length < MBEDTLS_CTR_DRBG_MAX_REQUEST ? length : MBEDTLS_CTR_DRBG_MAX_REQUEST;
        ret = mbedtls_ctr_drbg_random(&p.drbg, out, chunk);
        if (ret != 0)
            return ret;
        out += chunk;
        length -= chunk;
    }
    return 0;
}

void crypto_random_free()
{
    std::lock_guard<std::mutex> guard(g_poolLock);
    RandomPool *p = g_pool;
    if (p == nullptr)
        return;
    g_pool = nullptr;
    if (p->initialised) {
        mbedtls_ctr_drbg_free(&p->drbg);
        mbedtls_entropy_free(&p->entropy);
    }
    // the generator's key and counter, and what the entropy pool gathered
    mbedtls_platform_zeroize(&p->drbg, sizeof(p->drbg));
    mbedtls_platform_zeroize(&p->entropy, sizeof(p->entropy));
    delete p;
}
