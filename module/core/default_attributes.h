// The attributes a slot, token or session starts with: one table row each.
#pragma once

#include <cstddef>

#include "base/attribute.h"
#include "base/list.h"

namespace vok_core
{

struct DefaultAttribute {
    enum { BYTE = 1, LONG = 2, TEXT = 3 };
    char const *name;
    unsigned long id;
    int kind;            // BYTE, LONG or TEXT
    unsigned long value; // ignored for TEXT: a text attribute starts empty
};

// Appends one attribute per row to list. False when memory runs out; the
// attributes appended before stay in the list for the caller to release.
bool pushDefaultAttributes(CList<CAttribute *> &list, DefaultAttribute const *rows, size_t count);

template <size_t N>
bool pushDefaultAttributes(CList<CAttribute *> &list, DefaultAttribute const (&rows)[N])
{
    return pushDefaultAttributes(list, rows, N);
}

} // namespace vok_core
