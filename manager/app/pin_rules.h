// What the card manager accepts as a PIN or PUK before it goes to the card: digits
// only (the card's PINs are numbers, and digits are the same bytes in every
// encoding), and a length within the bounds of the secret and of the token. Plain
// functions of their arguments.
#pragma once

#include <QString>

#include <cstdint>

namespace pin_rule
{

// The shortest new PIN and new PUK the manager sets.
constexpr int kNewPin = 5;
constexpr int kNewPuk = 8;

enum class Fault { None, Empty, NotDigits, TooShort, TooLong };

// The fault of an entry that must have at least `shortest` and at most `longest`
// characters (longest 0: no upper bound), all of them digits 0-9.
Fault check(const QString &entry, int shortest, int longest);

// The bounds of an entry from the token's bounds (0 where the token gives none):
// never shorter than `own` nor than the token's minimum; as long as the token's
// maximum, 0 for none.
int shortest(int own, uint64_t tokenMinimum);
int longest(uint64_t tokenMaximum);

} // namespace pin_rule
