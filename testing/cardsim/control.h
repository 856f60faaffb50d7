// The control commands of the cardsim program that act on the card itself (the reader
// link's insert and remove stay with the program): one text line in, an answer line
// "ok ..." or "error ..." out, and for the listings ("files", "keys", "pins") the
// answer "ok WHAT N" followed by N lines.
#pragma once

#include "card.h"

#include <ostream>
#include <string>

namespace cardsim
{

// Runs a control line on the card and writes its answer. False, writing nothing, when
// the line's command is not a card control.
bool RunControl(Card &card, const std::string &line, std::ostream &out);

// One line per control command, for the program's usage text.
extern const char kControlUsage[];

} // namespace cardsim
