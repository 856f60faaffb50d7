// The status words the simulated card answers, by meaning.
#pragma once

#include <cstdint>

namespace cardsim
{

constexpr uint16_t SW_OK = 0x9000;
constexpr uint16_t SW_EXISTS = 0x6201;
constexpr uint16_t SW_DIR_NOT_EMPTY = 0x6202;
constexpr uint16_t SW_PIN_BLOCKED = 0x6200;
constexpr uint16_t SW_MEMORY_FAILURE = 0x6581; // the change could not be stored
constexpr uint16_t SW_WRONG_LENGTH = 0x6700;
constexpr uint16_t SW_SM_NEEDED = 0x6982; // the command needs a secure-messaging level
constexpr uint16_t SW_DENIED = 0x6985;    // the role needed is not authenticated
constexpr uint16_t SW_SM_ERROR = 0x6988;  // no session, or a wrong MAC or cryptogram
constexpr uint16_t SW_BAD_DATA = 0x6A80;
constexpr uint16_t SW_NO_DIR = 0x6A82;  // also: unknown application, no such container
constexpr uint16_t SW_NO_FILE = 0x6A83; // also: no such key
constexpr uint16_t SW_NO_ROOM = 0x6A84;
constexpr uint16_t SW_BAD_P1P2 = 0x6A86;
constexpr uint16_t SW_NOT_FOUND = 0x6A88;
constexpr uint16_t SW_BAD_REFERENCE = 0x6B00; // no such PIN, or no right over it
constexpr uint16_t SW_UNKNOWN_INS = 0x6D00;
constexpr uint16_t SW_UNKNOWN_CLA = 0x6E00;
constexpr uint16_t SW_NO_RESPONSE = 0x6F00;

} // namespace cardsim
