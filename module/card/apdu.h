// A command APDU as a value: class, instruction, P1, P2, data and the expected
// length (Le). Every card command of the layer is built by a builder that returns
// one, and reaches the transport through the one encoder below, so the bytes of a
// command can be checked without a card.
#pragma once

#include "card/qvcaapi.h"

class CApdu
{
  public:
    enum : unsigned long { MAX_DATA = 255 };

    CApdu(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2);

    // Appends to the data field; more than MAX_DATA bytes in all make the command
    // unencodable (Encode returns 0).
    CApdu &Append(const void *bytes, unsigned long length);
    CApdu &Append(unsigned char byte) { return Append(&byte, 1); }
    // Data bytes left zero, for a caller that writes them into the command buffer.
    CApdu &Reserve(unsigned long length);
    // The Le byte as it goes on the wire (00 asks for 256).
    CApdu &Le(unsigned char le);

    // CLA INS P1 P2, then Lc and the data when there is data, then Le when set.
    // Returns the encoded length, or 0 when it does not fit capacity.
    unsigned long Encode(unsigned char *out, unsigned long capacity) const;

    unsigned char Cla() const { return m_cla; }
    unsigned char Ins() const { return m_ins; }
    unsigned long DataLength() const { return m_dataLength; }
    const unsigned char *Data() const { return m_data; }

  private:
    unsigned char m_cla, m_ins, m_p1, m_p2;
    unsigned char m_data[MAX_DATA];
    unsigned long m_dataLength = 0;
    bool m_overflow = false;
    bool m_hasLe = false;
    unsigned char m_le = 0;
};

// Encodes the command into the transport's command buffer and sets its length: 0,
// or QV_E_INVALID_VALUE (nothing changed) when it does not fit.
uint32_t QVCAAPI_PutCommand(_qv_caapi_card_struct *transport, const CApdu &apdu);
// QVCAAPI_PutCommand, then QVCAAPI_RunAPDU.
uint32_t QVCAAPI_RunCommand(_qv_caapi_card_struct *transport, const CApdu &apdu);
