// SPDX-License-Identifier: GPL-3.0-or-later
// FlatIndex: an open-addressed hash index from 32-bit hashes to positions in a dense array.
#pragma once

#include <QtGlobal>

#include <vector>

// How this works
//
// The index is one array of eight-byte slots whose length is a power of two. A used slot
// holds an element's 32-bit hash and the element's position in its owner's dense array; the
// owner keeps the elements themselves and is asked to compare keys. An element's home is
// its hash masked to the array length; when the home is taken the element goes into the
// next free slot after it, wrapping at the end (linear probing). So every slot from an
// element's home up to the element itself is used, and a look-up walks from the home until
// the first free slot, asking the owner only where the stored hash equals the wanted one.
// A hit reads one or two neighbouring slots of the index and then the element.
//
// Erasing leaves no tombstone: each later element of the run moves back into the hole when
// it would still lie at or after its home (backward-shift deletion), so runs never hold a
// free slot and look-ups stay as short after a million erasures as after none. The array
// doubles before more than 5/8 of it would be used and halves when less than 1/16 is used
// (never below 16 slots); only insert() and erase() allocate, find() never does.
//
// Positions are the owner's business: when it moves an element inside its dense array it
// tells the index with retarget(); the index itself never reorders positions.
class FlatIndex
{
public:
    static constexpr quint32 kNone = 0xFFFFFFFFu;

    int size() const { return m_size; }
    int capacity() const { return int(m_slots.size()); }

    // The position of the first element in the hash's run for which matches(position) is
    // true, or kNone.
    template <typename Matches>
    quint32 find(quint32 hash, Matches matches) const
    {
        const quint32 slot = probe(hash, matches);
        return slot == kNone ? kNone : m_slots[slot].position;
    }

    // Adds an element; the caller makes sure that no equal element is indexed yet.
    void insert(quint32 hash, quint32 position);
    // Removes the slot holding exactly this hash and position; false when there is none.
    bool erase(quint32 hash, quint32 position);
    // The element with this hash moved from position `from` to `to` in the owner's array.
    bool retarget(quint32 hash, quint32 from, quint32 to);
    // Forgets every element and gives the memory back.
    void clear();

    // True when every used slot lies in an unbroken run from its home, holds a distinct
    // position below `positions` whose element hashes (hashAt(position)) to the stored hash,
    // and the count of used slots is size().
    template <typename HashAt>
    bool isConsistent(quint32 positions, HashAt hashAt) const
    {
        std::vector<bool> seen(positions, false);
        int used = 0;
        for (quint32 i = 0; i < quint32(m_slots.size()); ++i) {
            const Slot &slot = m_slots[i];
            if (slot.position == kNone)
                continue;
            ++used;
            if (slot.position >= positions || seen[slot.position] || hashAt(slot.position) != slot.hash
                || !reachable(i))
                return false;
            seen[slot.position] = true;
        }
        return used == m_size;
    }

private:
    struct Slot {
        quint32 hash = 0;
        quint32 position = kNone;
    };

    // The slot of the first element in the hash's run for which matches(position) is true,
    // or kNone.
    template <typename Matches>
    quint32 probe(quint32 hash, Matches matches) const
    {
        if (m_slots.empty())
            return kNone;
        for (quint32 i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot &slot = m_slots[i];
            if (slot.position == kNone)
                return kNone;
            if (slot.hash == hash && matches(slot.position))
                return i;
        }
    }
    quint32 slotOf(quint32 hash, quint32 position) const
    {
        return probe(hash, [position](quint32 candidate) { return candidate == position; });
    }
    void removeSlot(quint32 hole);
    void rehash(quint32 capacity);
    void place(const Slot &slot);
    bool reachable(quint32 slot) const;

    std::vector<Slot> m_slots;
    quint32 m_mask = 0;
    int m_size = 0;
};
