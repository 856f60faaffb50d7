// Syntax checks of the ASN.1 string and time types.
#pragma once

#include <cstdint>

// Return 1 valid, 0 invalid, -1 for NULL data with a non-zero length or data with length 0.
// NULL data with length 0 is valid.
int is_str_bit(const unsigned char *data, uint32_t length);  // every byte 0 or 1
int is_str_ia5(const unsigned char *data, uint32_t length);  // every byte below 0x80
int is_str_utf8(const unsigned char *data, uint32_t length); // complete, not overlong

// Return 1 when every byte is in the type's set (a zero byte also passes), else 0 (also for
// NULL data with a non-zero length or data with length 0). NULL data with length 0 is valid.
int is_str_numerics(const unsigned char *data, uint32_t length);  // " 0123456789"
int is_str_printable(const unsigned char *data, uint32_t length); // PrintableString set
int is_str_visible(const unsigned char *data, uint32_t length);   // space to tilde

// UTCTime text YYMMDDhhmm[ss] followed by "Z", a "+hh[mm]"/"-hh[mm]" offset or nothing.
// Years below 50 are 20YY, the others 19YY. Offsets carry their sign. Every output is
// optional. Returns 1 valid, 0 invalid.
int is_time_utc(const char *text, uint32_t length, int *year, int *month, int *day, int *hour,
                int *minute, int *second, int *offset_hours, int *offset_minutes);

// GeneralizedTime text YYYYMMDDhhmm[ss[.f+]] followed by a zone as for UTCTime or nothing.
// The fraction digits are read as a decimal integer (its first nine digits).
int is_time_gen(const char *text, uint32_t length, int *year, int *month, int *day, int *hour,
                int *minute, int *second, int *fraction, int *offset_hours, int *offset_minutes);
