// What every fake token shows its callers: its PINs, token information, try
// limits and the answers of the card manager's vendor attributes. Plain
// constants, so that tests which reach the token only through a loaded module
// can include them without the module's headers.
#pragma once

#include <cstdint>

namespace vok_test
{

// The user's PIN and the security officer's PIN (PUK) of a new fake token.
constexpr char FAKE_USER_PIN[] = "123456";
constexpr char FAKE_SO_PIN[] = "87654321";
// Tries of each PIN: a wrong PIN costs one, the right one restores them all.
constexpr unsigned long FAKE_USER_PIN_TRIES = 3;
constexpr unsigned long FAKE_SO_PIN_TRIES = 5;
// What Initialize puts in the token information.
constexpr char FAKE_LABEL[] = "Fake test token";
constexpr char FAKE_MANUFACTURER[] = "Test";
constexpr char FAKE_MODEL[] = "Fake";
constexpr char FAKE_SERIAL[] = "0000000000000001";
constexpr unsigned long FAKE_MIN_PIN_LEN = 4;
constexpr unsigned long FAKE_MAX_PIN_LEN = 16;
constexpr unsigned long FAKE_MAX_SESSIONS = 16;
constexpr unsigned long FAKE_MIN_RSA_BITS = 1024;
constexpr unsigned long FAKE_MAX_RSA_BITS = 4096;

// The card manager's vendor attributes. The first five belong to the token
// (object handle 0); the container name belongs to a token object created
// with one in its template.
constexpr unsigned long FAKE_CKA_CARD_ATR = 0x80001000UL;
constexpr unsigned long FAKE_CKA_CARD_AID = 0x80001001UL;
constexpr unsigned long FAKE_CKA_USER_PIN_INFO = 0x80001002UL; // u64 limit, left, 0
constexpr unsigned long FAKE_CKA_SO_PIN_INFO = 0x80001003UL;
constexpr unsigned long FAKE_CKA_CONTAINERS_USAGE = 0x80001004UL; // u64 bits, used, free
constexpr unsigned long FAKE_CKA_OBJECT_CONTAINER_NAME = 0x80001005UL;

// The token objects it holds at most, as a card whose memory is full.
constexpr unsigned long FAKE_MAX_TOKEN_OBJECTS = 160;
// Containers the token names for new private keys: this and a number from 1.
constexpr char FAKE_CONTAINER_PREFIX[] = "fake-container-";

constexpr unsigned char FAKE_AID[] = {0xA0, 0x00, 0x00, 0x00, 0x28, 0x80, 0x10, 0x37, 0x01, 0x01};
// The containers-usage answer: key size, used, free per entry.
constexpr uint64_t FAKE_CONTAINERS_USAGE[][3] = {{1024, 1, 1}, {2048, 2, 4}};

} // namespace vok_test
