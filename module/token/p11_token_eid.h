// The token for the vOK identity card.
#pragma once

#include "core/p11_token.h"

class CP11Token_eiD : public CP11Token
{
  public:
    // Builds the token for the slot (not owned); no card input or output here.
    explicit CP11Token_eiD(CP11Slot *slot);
    ~CP11Token_eiD() override;

    // Whether the card in the slot's reader is one this token serves.
    bool IsKnown() override;
};
