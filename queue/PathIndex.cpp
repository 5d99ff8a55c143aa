// SPDX-License-Identifier: GPL-3.0-or-later
#include "queue/PathIndex.h"

#include <functional>
#include <string_view>

std::size_t PathIndex::Hash(const std::string& path)
{
    return std::hash<std::string_view>()(path);
}

void PathIndex::Clear()
{
    m_slots.clear();
    m_hashes.clear();
    m_mask = 0;
    m_size = 0;
}

void PathIndex::Reserve(std::size_t n)
{
    std::size_t capacity = 16;
    while (capacity < 2 * n)
        capacity *= 2;
    if (capacity > m_slots.size())
        Grow(capacity);
}

void PathIndex::Grow(std::size_t capacity)
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(capacity, Slot{kNone, 0});
    m_mask = capacity - 1;
    for (const Slot& slot : old)
    {
        if (slot.row == kNone)
            continue;
        std::size_t i = m_hashes[slot.row] & m_mask;
        while (m_slots[i].row != kNone)
            i = (i + 1) & m_mask;
        m_slots[i] = slot;
    }
}

void PathIndex::Insert(std::uint32_t row, std::size_t hash)
{
    // At most half full, so probes stay short.
    if (2 * (m_size + 1) > m_slots.size())
        Grow(m_slots.empty() ? 16 : 2 * m_slots.size());
    if (m_hashes.size() <= row)
        m_hashes.resize(row + 1);
    m_hashes[row] = hash;
    std::size_t i = hash & m_mask;
    while (m_slots[i].row != kNone)
        i = (i + 1) & m_mask;
    m_slots[i] = Slot{row, Tag(hash)};
    ++m_size;
}

void PathIndex::Erase(std::uint32_t row, std::size_t hash)
{
    if (m_slots.empty())
        return;
    std::size_t i = hash & m_mask;
    while (m_slots[i].row != row)
    {
        if (m_slots[i].row == kNone)
            return;
        i = (i + 1) & m_mask;
    }
    // Shift later entries of the probe run back, so no tombstones are needed.
    for (std::size_t j = (i + 1) & m_mask; m_slots[j].row != kNone; j = (j + 1) & m_mask)
    {
        const std::size_t home = m_hashes[m_slots[j].row] & m_mask;
        const bool between = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (!between)
        {
            m_slots[i] = m_slots[j];
            i = j;
        }
    }
    m_slots[i] = Slot{kNone, 0};
    --m_size;
}
