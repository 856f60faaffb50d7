// The token kinds of the test build of the module: the identity card first, then the
// fake token, which takes any card the identity-card token does not recognise.
#include "core/p11_manager.h"
#include "core/token_kinds.h"
#include "fake_token.h"
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
    manager.AddTokenKind(vok_test::CreateFakeToken);
}
