#include "card/apdu.h"

#include <cstring>

CApdu::CApdu(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2)
    : m_cla(cla), m_ins(ins), m_p1(p1), m_p2(p2)
{
}

CApdu &CApdu::Append(const void *bytes, unsigned long length)
{
    if (length > MAX_DATA - m_dataLength) {
        m_overflow = true;
        return *this;
    }
    if (length != 0)
        memcpy(m_data + m_dataLength, bytes, length);
    m_dataLength += length;
    return *this;
}

CApdu &CApdu::Reserve(unsigned long length)
{
    if (length > MAX_DATA - m_dataLength) {
        m_overflow = true;
        return *this;
    }
    memset(m_data + m_dataLength, 0, length);
    m_dataLength += length;
    return *this;
}

CApdu &CApdu::Le(unsigned char le)
{
    m_hasLe = true;
    m_le = le;
    return *this;
}

unsigned long CApdu::Encode(unsigned char *out, unsigned long capacity) const
{
    unsigned long length = 4 + (m_dataLength != 0 ? 1 + m_dataLength : 0) + (m_hasLe ? 1 : 0);
    if (m_overflow || out == nullptr || length > capacity)
        return 0;
    const unsigned char header[4] = {m_cla, m_ins, m_p1, m_p2};
    memcpy(out, header, 4);
    unsigned long at = 4;
    if (m_dataLength != 0) {
        out[at++] = static_cast<unsigned char>(m_dataLength);
        memcpy(out + at, m_data, m_dataLength);
        at += m_dataLength;
    }
    if (m_hasLe)
        out[at++] = m_le;
    return at;
}

uint32_t QVCAAPI_PutCommand(_qv_caapi_card_struct *transport, const CApdu &apdu)
{
    unsigned long length = apdu.Encode(transport->command, transport->commandCapacity);
    if (length == 0)
        return QV_E_INVALID_VALUE;
    transport->commandLength = length;
    return QV_OK;
}

uint32_t QVCAAPI_RunCommand(_qv_caapi_card_struct *transport, const CApdu &apdu)
{
    uint32_t rv = QVCAAPI_PutCommand(transport, apdu);
    return rv != QV_OK ? rv : QVCAAPI_RunAPDU(transport);
}
