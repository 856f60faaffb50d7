#include "crypto/random.h"

#include "base/linux/linux_log.h"
#include "crypto/crypto_random.h"

CRandom::CRandom() {}

CRandom::~CRandom() {}

bool CRandom::Generate(void *buffer, unsigned long length)
{
    if (buffer == nullptr)
        return false;
    int ret = crypto_random(nullptr, static_cast<unsigned char *>(buffer), length);
    if (ret != 0) {
        hl_log(vok_log::HL_ERROR, "CRandom::Generate: no random bytes ( -0x%04x )\n", -ret);
        return false;
    }
    return true;
}
