// Names of PKCS#11 values for the log, and the value kind of each attribute type.
#pragma once

// Value kinds answered by CKA2Type.
enum : unsigned long {
    CKA_KIND_VENDOR = 0, // vendor-defined or unknown
    CKA_KIND_BOOL = 1,
    CKA_KIND_ULONG = 2,
    CKA_KIND_STRING = 3,
    CKA_KIND_BYTES = 4,
    CKA_KIND_DATE = 5,
    CKA_KIND_MECHANISMS = 6,
};

class CP11Convert
{
  public:
    CP11Convert() = delete;

    // Each returns the constant's name, or NULL for a value not in the table.
    // Any value with bit 31 set gives the table's VENDOR_DEFINED name.
    static char const *CKR2String(unsigned long value);
    static char const *CKA2String(unsigned long value);
    static unsigned long CKA2Type(unsigned long value);
    static char const *CKO2String(unsigned long value);
    static char const *CKK2String(unsigned long value);
    static char const *CKM2String(unsigned long value);
    static char const *CKC2String(unsigned long value);
};
