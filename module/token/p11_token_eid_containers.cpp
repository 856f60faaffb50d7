// Key containers of the identity-card token, built from the card's
// containers-usage list.
#include "base/linux/linux_log.h"
#include "token/p11_token_eid.h"

void CP11Token_eiD::initContainers()
{
    vok_log::hl_log(vok_log::HL_ENTER, "CP11Token_eiD::initContainers()\n");
    releaseContainers();
    leave("initContainers");
}

unsigned long CP11Token_eiD::usedPrivateMemory()
{
    return 0;
}
