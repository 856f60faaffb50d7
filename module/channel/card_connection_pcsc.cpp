#include "channel/card_connection_pcsc.h"

#include "channel/channel.h"
#include "channel/channel_log.h"

CCardConnectionPCSC::CCardConnectionPCSC(SCARDHANDLE card, DWORD protocol,
                                         CPCSCFunctions const *functions)
    : m_functions(functions ? *functions : CPCSCFunctions::System()), m_card(card)
{
    hl_log(HL_ENTER, "CCardConnectionPCSC::CCardConnectionPCSC(0x%p,0x%.8lx)\n",
           reinterpret_cast<void *>(card), protocol);
    m_channelType = CChannel::CHANNEL_TYPE_PCSC;
    m_activeProtocol = protocol & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);

    DWORD length = 0;
    LONG rv = m_functions.GetAttrib(card, SCARD_ATTR_ATR_STRING, nullptr, &length);
    if (rv == SCARD_S_SUCCESS && length != 0 && length <= 0xFFFF &&
        m_atr.SetSize(static_cast<unsigned>(length)) != nullptr) {
        DWORD room = length;
        rv = m_functions.GetAttrib(card, SCARD_ATTR_ATR_STRING, m_atr.GetData(), &length);
        if (rv == SCARD_S_SUCCESS && length != 0 && length <= room)
            m_atr.CutSize(static_cast<unsigned>(length));
        else
            m_atr.Clear();
    }
    hl_log(rv == SCARD_S_SUCCESS ? HL_DEBUG : HL_ERROR,
           "SCardGetAttrib[SCARD_ATTR_ATR_STRING] ( 0x%.8lx )\n", rv);
    if (m_atr.GetSize() == 0) {
        // Not every reader driver answers the attribute; the service itself keeps
        // the ATR of the card and gives it with the card status.
        unsigned char atr[MAX_ATR_SIZE];
        DWORD atrLength = sizeof(atr);
        DWORD state = 0, active = 0;
        rv = m_functions.Status(card, nullptr, nullptr, &state, &active, atr, &atrLength);
        hl_log(rv == SCARD_S_SUCCESS ? HL_DEBUG : HL_ERROR, "SCardStatus ( 0x%.8lx )\n", rv);
        if (rv == SCARD_S_SUCCESS && atrLength != 0 && atrLength <= sizeof(atr))
            m_atr.Set(atr, static_cast<unsigned>(atrLength));
    }
    hl_log(HL_LEAVE, "CCardConnectionPCSC::CCardConnectionPCSC( )\n");
}

CCardConnectionPCSC::~CCardConnectionPCSC() {}

unsigned long CCardConnectionPCSC::GetCardStatus()
{
    hl_log(HL_ENTER, "CCardConnectionPCSC::GetCardStatus()\n");
    DWORD state = 0;
    LONG rv = m_functions.Status(m_card, nullptr, nullptr, &state, nullptr, nullptr, nullptr);
    hl_log(rv == SCARD_S_SUCCESS ? HL_DEBUG : HL_ERROR, "SCardStatus ( 0x%.8lx )\n", rv);
    // The reader service reports the card state as a set of bits: a card in the
    // reader shows SCARD_PRESENT together with its power and protocol bits.
    unsigned long status = CARD_STATUS_UNKNOWN;
    if (rv == static_cast<LONG>(SCARD_W_REMOVED_CARD))
        status = CARD_STATUS_ABSENT;
    else if (rv == SCARD_S_SUCCESS) {
        if (state &
            (SCARD_PRESENT | SCARD_SWALLOWED | SCARD_POWERED | SCARD_NEGOTIABLE | SCARD_SPECIFIC))
            status = CARD_STATUS_PRESENT;
        else if (state & SCARD_ABSENT)
            status = CARD_STATUS_ABSENT;
    }
    hl_log(HL_LEAVE, "CCardConnectionPCSC::GetCardStatus( %s )\n", CardStatusName(status));
    return status;
}
