// Lifecycle of the identity-card token: construction, recognition of the card,
// initialisation from the card, finalisation and destruction, and the method
// frames every operation of the class runs in.
#include "token/p11_token_eid.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "channel/card_connection.h"
#include "channel/channel.h"
#include "channel/channel_locker.h"
#include "core/core_support.h"
#include "core/p11_slot.h"

using vok_core::rvName;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_EXCEPTION;
using vok_log::HL_LEAVE;

namespace
{

char const MANUFACTURER[] = "vOK";
char const MODEL[] = "vOK ID card";
char const LABEL[] = "vOK RAL";
unsigned long const MAX_SESSIONS = 16;
// How long a failed exchange waits for the reader service to report the card gone.
auto const REMOVAL_SETTLE = std::chrono::milliseconds(1000);

// A card context over the token's transmit callback and the given context.
uint32_t initCard(_qv_md_card_struct *card, CTransmitParam *param)
{
    return QVMD_CardInitStruct(card, reinterpret_cast<unsigned long>(param), nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, TokenTransmit);
}

// A card connection of the token's own: disconnected (the card left in place)
// and deleted at the end of the scope unless released.
class Connection
{
  public:
    Connection(CChannel *channel, CCardConnection *connection)
        : m_channel(channel), m_connection(connection)
    {
    }
    ~Connection()
    {
        if (m_connection != nullptr) {
            m_channel->Disconnect(m_connection, CChannel::DISCONNECT_LEAVE);
            delete m_connection;
        }
    }
    Connection(Connection const &) = delete;
    Connection &operator=(Connection const &) = delete;
    CCardConnection *get() const { return m_connection; }
    CCardConnection *release()
    {
        CCardConnection *c = m_connection;
        m_connection = nullptr;
        return c;
    }

  private:
    CChannel *m_channel;
    CCardConnection *m_connection;
};

CCardConnection *connect(CChannel *channel, CP11Slot *slot)
{
    CBlob reader(slot->FindStringAttribute(SLOT_A_NAME));
    return channel->Connect(reader, false, CChannel::PROTOCOL_T0 | CChannel::PROTOCOL_T1);
}

} // namespace

void CP11Token_eiD::leave(char const *method)
{
    hl_log(HL_LEAVE, "CP11Token_eiD::%s( )\n", method);
}

void CP11Token_eiD::leaveByException(char const *method, unsigned long rv, bool dashForm)
{
    vok_log::decloglevel();
    if (dashForm)
        hl_log(HL_EXCEPTION, "CP11Token_eiD::%s( 0x%.8lX - %s )\n", method, rv, rvName(rv));
    else
        hl_log(HL_EXCEPTION, "CP11Token_eiD::%s( 0x%.8lx [ %s ] )\n", method, rv, rvName(rv));
    throw CP11Exception(rv);
}

unsigned long CP11Token_eiD::removedCode(unsigned long rv)
{
    if (rv != CKR_DEVICE_ERROR || m_connection == nullptr)
        return rv;
    auto absent = [this] {
        return m_connection->GetCardStatus() == CCardConnection::CARD_STATUS_ABSENT;
    };
    if (absent())
        return CKR_DEVICE_REMOVED;
    // A card that has just gone may still be reported present until the reader
    // service next looks at the reader. One that still answers is there; one that
    // does not is given that time to be reported gone.
    if (m_card == nullptr || QVMD_GetInfo(m_card, m_card->info, QVMD_INFO_AUTH_STATE) == 0)
        return rv;
    auto deadline = std::chrono::steady_clock::now() + REMOVAL_SETTLE;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (absent())
            return CKR_DEVICE_REMOVED;
    }
    return rv;
}

void CP11Token_eiD::cardFailed(char const *function, unsigned long rv)
{
    hl_log(HL_ERROR, "%s function call failed.\n", function);
    throw CP11Exception(rv);
}

CChannel *CP11Token_eiD::channel() const
{
    return m_slot != nullptr ? m_slot->GetChannel() : nullptr;
}

CP11Token_eiD::CP11Token_eiD(CP11Slot *slot) : CP11Token(slot), m_card(nullptr)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CP11Token_eiD(%p)\n", (void *)slot);
    std::memset(m_cardcf, 0, sizeof(m_cardcf));
    std::memset(m_dataSlots, 0xFF, sizeof(m_dataSlots));
    bool stored =
        SetAttribute(TOKEN_A_LABEL, LABEL, ~0UL) && SetAttribute(TOKEN_A_MODEL, MODEL, ~0UL) &&
        SetAttribute(TOKEN_A_MANUFACTURER, MANUFACTURER, ~0UL) &&
        SetAttribute(TOKEN_A_MAX_SESSIONS, MAX_SESSIONS) &&
        SetAttribute(TOKEN_A_MAX_RW_SESSIONS, MAX_SESSIONS) &&
        SetAttribute(TOKEN_A_HW_VERSION_MAJOR, (unsigned char)1) &&
        SetAttribute(TOKEN_A_HW_VERSION_MINOR, (unsigned char)0) &&
        SetAttribute(TOKEN_A_PKCS11_FLAGS,
                     (unsigned long)(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED));
    if (!stored)
        leaveByException("CP11Token_eiD", CKR_HOST_MEMORY, true);
    hl_log(HL_LEAVE, "CP11Token_eiD::CP11Token_eiD()\n");
}

CP11Token_eiD::~CP11Token_eiD()
{
    hl_log(HL_ENTER, "CP11Token_eiD::~CP11Token_eiD()\n");
    try {
        Finalize();
    } catch (CP11Exception &e) {
        hl_log(HL_EXCEPTION, "CP11Token_eiD::~CP11Token_eiD( 0x%.8lx [ %s ] )\n", e.GetErrorCode(),
               rvName(e.GetErrorCode()));
    } catch (...) {
        hl_log(HL_EXCEPTION, "CP11Token_eiD::~CP11Token_eiD( 0x%.8lx [ %s ] )\n",
               (unsigned long)CKR_GENERAL_ERROR, rvName(CKR_GENERAL_ERROR));
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::~CP11Token_eiD()\n");
}

bool CP11Token_eiD::IsKnown()
{
    hl_log(HL_ENTER, "CP11Token_eiD::IsKnown()\n");
    bool known = false;
    CChannel *ch = channel();
    if (ch != nullptr) {
        Connection connection(ch, connect(ch, m_slot));
        if (connection.get() != nullptr) {
            CTransmitParam param(this, connection.get());
            CChannelLocker locker(ch, connection.get());
            _qv_md_card_struct card;
            if (initCard(&card, &param) == 0) {
                known = QVMD_CheckAppletSelection(&card) == 0;
                QVMD_CardReleaseStruct(&card);
            }
        }
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::IsKnown( %s )\n", known ? "YES" : "NO");
    return known;
}

void CP11Token_eiD::Initialize()
{
    hl_log(HL_ENTER, "CP11Token_eiD::Initialize()\n");
    unsigned long rv = CKR_OK;
    try {
        CChannel *ch = channel();
        if (ch == nullptr)
            throw CP11Exception(CKR_DEVICE_ERROR);
        if (m_connection == nullptr)
            m_connection = connect(ch, m_slot);
        if (m_connection == nullptr)
            throw CP11Exception(CKR_DEVICE_ERROR);
        m_transmitParam = CTransmitParam(this, m_connection);

        CChannelLocker locker(ch, m_connection);
        if (m_card == nullptr) {
            m_card = static_cast<_qv_md_card_struct *>(std::calloc(1, sizeof(*m_card)));
            if (m_card == nullptr)
                throw CP11Exception(CKR_HOST_MEMORY);
            if (initCard(m_card, &m_transmitParam) != 0) {
                std::free(m_card);
                m_card = nullptr;
                cardFailed("QVMD_CardInitStruct", CKR_HOST_MEMORY);
            }
        }
        if (QVMD_CheckAppletSelection(m_card) != 0)
            cardFailed("QVMD_CheckAppletSelection", CKR_TOKEN_NOT_PRESENT);
        tokenCacheSynchronize(~0UL);
        CCardReadPass pass(m_readCache, m_cardcf);
        setMechanisms();
        setTokenConstInfo();
        updateTokenPinInfo();
        updateTokenMemoryInfo();
    } catch (CP11Exception &e) {
        rv = e.GetErrorCode();
    } catch (std::exception &) {
        rv = CKR_GENERAL_ERROR;
    }
    if (rv != CKR_OK) {
        try {
            Finalize();
        } catch (CP11Exception &) {
        }
        leaveByException("Initialize", rv, false);
    }
    leave("Initialize");
}

void CP11Token_eiD::Finalize()
{
    hl_log(HL_ENTER, "CP11Token_eiD::Finalize()\n");
    // Every step runs, whatever an earlier one met (a card that has gone cannot
    // be de-authenticated); the first failure is reported at the end.
    unsigned long rv = CKR_OK;
    try {
        m_authenticator.DeAuthenticate(nullptr);
    } catch (CP11Exception &e) {
        rv = e.GetErrorCode();
    }
    m_authenticator.Final();
    if (m_card != nullptr) {
        QVMD_CardReleaseStruct(m_card);
        std::free(m_card);
        m_card = nullptr;
    }
    m_readCache.Forget();
    releaseAll();
    try {
        CP11Token::Finalize();
    } catch (CP11Exception &e) {
        if (rv == CKR_OK)
            rv = e.GetErrorCode();
    }
    if (rv != CKR_OK)
        leaveByException("Finalize", rv, false);
    leave("Finalize");
}
