// SPDX-License-Identifier: GPL-3.0-or-later
// Finds a queue row by its path in one probe on average, with no allocation
// per row: an open-addressing table of row numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class PathIndex
{
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    static std::size_t Hash(const std::string& path);

    void Clear();
    // The row whose path (paths[row]) equals path, or kNone.
    template <class PathOf>
    std::uint32_t Find(const std::string& path, std::size_t hash, PathOf pathOf) const
    {
        if (m_slots.empty())
            return kNone;
        const std::uint32_t tag = Tag(hash);
        for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask)
        {
            const Slot& slot = m_slots[i];
            if (slot.row == kNone)
                return kNone;
            if (slot.tag == tag && pathOf(slot.row) == path)
                return slot.row;
        }
    }
    void Insert(std::uint32_t row, std::size_t hash);
    void Erase(std::uint32_t row, std::size_t hash);
    std::size_t Size() const { return m_size; }
    // Room for n rows without growing.
    void Reserve(std::size_t n);

private:
    struct Slot
    {
        std::uint32_t row;
        std::uint32_t tag;   // high bits of the hash: most mismatches end here
    };
    static std::uint32_t Tag(std::size_t hash) { return static_cast<std::uint32_t>(hash >> 32) | 1u; }
    void Grow(std::size_t capacity);

    std::vector<Slot> m_slots;
    std::vector<std::size_t> m_hashes;   // by row, so growing needs no strings
    std::size_t m_mask = 0;
    std::size_t m_size = 0;
};
