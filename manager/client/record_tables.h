// The client's tables of key and certificate records, by slot index and then
// position, and their bounds: an unknown slot or position has no record.
#pragma once

#include <cstddef>
#include <vector>

template <typename Record>
bool hasRecord(std::vector<std::vector<Record>> const &table, int slot, int index)
{
    return slot >= 0 && static_cast<size_t>(slot) < table.size() && index >= 0 &&
           static_cast<size_t>(index) < table[slot].size();
}

// A copy of the record; an empty record when there is none.
template <typename Record>
Record recordAt(std::vector<std::vector<Record>> const &table, int slot, int index)
{
    return hasRecord(table, slot, index) ? table[slot][index] : Record{};
}

template <typename Record> int countAt(std::vector<std::vector<Record>> const &table, int slot)
{
    if (slot < 0 || static_cast<size_t>(slot) >= table.size())
        return 0;
    return static_cast<int>(table[slot].size());
}
