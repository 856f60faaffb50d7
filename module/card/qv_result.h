// Result codes of the card application layer: 0 for success, otherwise a
// PC/SC-style code (the card's status words mapped by the command families) or
// one of two system error numbers. Every QVCAAPI_, QVMD_ and QVDES_ function
// that reports a result returns one of these.
#pragma once

#include <cstdint>

constexpr uint32_t QV_OK = 0;
constexpr uint32_t QV_E_INVALID_PARAMETER = 0x80100004;   // SCARD_E_INVALID_PARAMETER
constexpr uint32_t QV_E_NO_MEMORY = 0x80100006;           // SCARD_E_NO_MEMORY
constexpr uint32_t QV_E_INSUFFICIENT_BUFFER = 0x80100008; // SCARD_E_INSUFFICIENT_BUFFER
constexpr uint32_t QV_E_INVALID_VALUE = 0x80100011;       // SCARD_E_INVALID_VALUE
constexpr uint32_t QV_E_CARD_UNSUPPORTED = 0x8010001C;    // SCARD_E_CARD_UNSUPPORTED
constexpr uint32_t QV_E_UNEXPECTED = 0x8010001F;          // SCARD_E_UNEXPECTED
constexpr uint32_t QV_E_DIR_NOT_FOUND = 0x80100023;       // SCARD_E_DIR_NOT_FOUND
constexpr uint32_t QV_E_FILE_NOT_FOUND = 0x80100024;      // SCARD_E_FILE_NOT_FOUND
constexpr uint32_t QV_E_NO_FILE = 0x80100026;             // SCARD_E_NO_FILE
constexpr uint32_t QV_E_WRITE_TOO_MANY = 0x80100028;      // SCARD_E_WRITE_TOO_MANY
constexpr uint32_t QV_E_NO_KEY_CONTAINER = 0x80100030;    // SCARD_E_NO_KEY_CONTAINER
constexpr uint32_t QV_W_SECURITY_VIOLATION = 0x8010006A;  // SCARD_W_SECURITY_VIOLATION
constexpr uint32_t QV_W_WRONG_CHV = 0x8010006B;           // SCARD_W_WRONG_CHV
constexpr uint32_t QV_W_CHV_BLOCKED = 0x8010006C;         // SCARD_W_CHV_BLOCKED
constexpr uint32_t QV_ERROR_FILE_EXISTS = 80;             // ERROR_FILE_EXISTS
constexpr uint32_t QV_ERROR_DIR_NOT_EMPTY = 145;          // ERROR_DIR_NOT_EMPTY
// TokenTransmit without a usable channel or response buffer.
constexpr uint32_t QV_E_NO_CHANNEL = 0xFFFFFFFF;
