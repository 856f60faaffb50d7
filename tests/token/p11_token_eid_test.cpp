// Identity-card token as far as it exists: its token information after
// construction, and no card recognised yet.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel/channel.h"
#include "core/p11_slot.h"
#include "token/p11_token_eid.h"

namespace
{

class PcscChannel : public CChannel
{
  public:
    PcscChannel() { m_name = "PCSC"; }
};

} // namespace

TEST(TokenEid, ConstructorSetsTokenInformation)
{
    PcscChannel channel;
    CP11Slot slot(&channel);
    slot.SetAttribute(SLOT_A_ID, 0UL);
    CP11Token *token = new CP11Token_eiD(&slot);
    EXPECT_EQ(token->GetSlot(), &slot);

    CK_TOKEN_INFO info;
    token->GetInfo(&info);
    EXPECT_EQ(std::string((char const *)info.label, 32), "vOK RAL" + std::string(25, ' '));
    EXPECT_EQ(info.ulMaxSessionCount, 16u);
    EXPECT_EQ(info.ulMaxRwSessionCount, 16u);
    EXPECT_EQ(info.flags, (CK_FLAGS)(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED));
    EXPECT_EQ(info.ulSessionCount, 0u);

    EXPECT_FALSE(token->IsKnown());
    delete token; // through the base, as the manager does
}
