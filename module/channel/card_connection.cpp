#include "channel/card_connection.h"

CCardConnection::CCardConnection() : m_channelType(0), m_activeProtocol(0) {}

CCardConnection::~CCardConnection() {}

unsigned long CCardConnection::GetCardStatus()
{
    return CARD_STATUS_UNKNOWN;
}

char const *CCardConnection::CardStatusName(unsigned long status)
{
    switch (status) {
    case CARD_STATUS_ABSENT:
        return "CARD_STATUS_ABSENT";
    case CARD_STATUS_PRESENT:
        return "CARD_STATUS_PRESENT";
    default:
        return "CARD_STATUS_UNKNOWN";
    }
}
