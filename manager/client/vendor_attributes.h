// The module's vendor attributes that the client reads. The first five belong
// to the token and are read with object handle 0; the container name belongs
// to an object of a key container.
#pragma once

#include <p11-kit/pkcs11.h>

constexpr CK_ATTRIBUTE_TYPE CKA_CARD_ATR = 0x80001000UL;
constexpr CK_ATTRIBUTE_TYPE CKA_CARD_AID = 0x80001001UL;
// Three native 64-bit values: try limit, tries left, status.
constexpr CK_ATTRIBUTE_TYPE CKA_USER_PIN_INFO = 0x80001002UL;
constexpr CK_ATTRIBUTE_TYPE CKA_SO_PIN_INFO = 0x80001003UL;
// Entries of three native 64-bit values: key size in bits, containers used, free.
constexpr CK_ATTRIBUTE_TYPE CKA_CONTAINERS_USAGE = 0x80001004UL;
constexpr CK_ATTRIBUTE_TYPE CKA_OBJECT_CONTAINER_NAME = 0x80001005UL;
