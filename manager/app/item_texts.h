// The texts the item pages and the report show for the client's records, and the
// item actions each kind of tree item allows. Plain functions of their arguments.
#pragma once

#include <QDate>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace item_text
{

// A text field of a record: up to its first zero byte, never past its width, as UTF-8.
QString field(const char *text, std::size_t width);
template <std::size_t N> QString field(const char (&text)[N])
{
    return field(text, N);
}

// Every byte as two upper-case hexadecimal digits and a blank ("3B 0A "); at most
// `capacity` bytes, however long the length says the value is.
QString atr(const uint8_t *bytes, int length, int capacity);
// A PIN's counters (try limit, tries left, status byte) as tries left "/" try limit
// "[" try limit "]"; the status byte is not shown.
QString counters(const uint64_t (&values)[3]);
// used "/" used + free.
QString usedOfTotal(uint64_t used, uint64_t free);
// The serial's bytes in upper-case hexadecimal; a one-byte serial adds " [" its value
// as a signed byte "]" when withValue is set. At most `capacity` bytes are read.
QString serial(const uint8_t *bytes, uint32_t length, std::size_t capacity, bool withValue);
// "dd.MM.yyyy - dd.MM.yyyy"; a date that is not valid gives an empty side.
QString validity(const QDate &from, const QDate &to);
// "AT_KEYEXCHANGE" for flag [1] or [2] (unwrap, decrypt; wrap, encrypt), else
// "AT_SIGNATURE" for flag [0] (sign; verify), else empty.
QString keyType(const uint8_t (&flags)[3]);

} // namespace item_text

// The item action ids (see CardManager) each kind of item allows, in the order they
// are passed to menuAllows.
namespace item_actions
{

// With both the PIN and the PUK blocked nothing is left to do with either secret.
QList<int> card(bool pinBlocked, bool pukBlocked);
QList<int> key(bool expert, bool certificate, bool pinBlocked);
QList<int> certificate(bool expert, bool pinBlocked);

} // namespace item_actions
