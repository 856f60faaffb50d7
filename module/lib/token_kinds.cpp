// The token kinds of the shipped module: the identity card.
#include "core/p11_manager.h"
#include "core/token_kinds.h"
#include "token/p11_token_eid.h"

namespace
{

CP11Token *newIdentityCardToken(CP11Slot *slot)
{
    return new CP11Token_eiD(slot);
}

} // namespace

void vokRegisterTokenKinds(CP11Manager &manager)
{
    manager.AddTokenKind(newIdentityCardToken);
}
