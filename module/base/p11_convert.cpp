#include "base/p11_convert.h"

char const* CP11Convert::CKR2String(unsigned long) { return nullptr; }
char const* CP11Convert::CKA2String(unsigned long) { return nullptr; }
unsigned long CP11Convert::CKA2Type(unsigned long) { return 0; }
char const* CP11Convert::CKO2String(unsigned long) { return nullptr; }
char const* CP11Convert::CKK2String(unsigned long) { return nullptr; }
char const* CP11Convert::CKM2String(unsigned long) { return nullptr; }
char const* CP11Convert::CKC2String(unsigned long) { return nullptr; }
