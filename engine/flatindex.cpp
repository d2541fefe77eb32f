// SPDX-License-Identifier: GPL-3.0-or-later
// FlatIndex: an open-addressed hash index from 32-bit hashes to positions in a dense array.
#include "engine/flatindex.h"

namespace {
constexpr quint32 kMinimumCapacity = 16;
} // namespace

void FlatIndex::insert(quint32 hash, quint32 position)
{
    const quint32 capacity = quint32(m_slots.size());
    if ((quint64(m_size) + 1) * 8 > quint64(capacity) * 5)
        rehash(capacity ? capacity * 2 : kMinimumCapacity);
    place(Slot{hash, position});
    ++m_size;
}

void FlatIndex::place(const Slot &slot)
{
    quint32 i = slot.hash & m_mask;
    while (m_slots[i].position != kNone)
        i = (i + 1) & m_mask;
    m_slots[i] = slot;
}

bool FlatIndex::erase(quint32 hash, quint32 position)
{
    const quint32 found = slotOf(hash, position);
    if (found == kNone)
        return false;
    removeSlot(found);
    const quint32 capacity = quint32(m_slots.size());
    if (capacity > kMinimumCapacity && quint64(m_size) * 16 < capacity)
        rehash(capacity / 2);
    return true;
}

// Backward-shift deletion: walks the rest of the run and pulls back every element whose
// home lies cyclically at or before the hole, until the run ends.
void FlatIndex::removeSlot(quint32 hole)
{
    for (quint32 next = (hole + 1) & m_mask;; next = (next + 1) & m_mask) {
        const Slot &slot = m_slots[next];
        if (slot.position == kNone)
            break;
        const quint32 fromHome = (next - (slot.hash & m_mask)) & m_mask;
        const quint32 fromHole = (next - hole) & m_mask;
        if (fromHome >= fromHole) {
            m_slots[hole] = slot;
            hole = next;
        }
    }
    m_slots[hole] = Slot{};
    --m_size;
}

bool FlatIndex::retarget(quint32 hash, quint32 from, quint32 to)
{
    const quint32 found = slotOf(hash, from);
    if (found == kNone)
        return false;
    m_slots[found].position = to;
    return true;
}

void FlatIndex::clear()
{
    std::vector<Slot>().swap(m_slots);
    m_mask = 0;
    m_size = 0;
}

void FlatIndex::rehash(quint32 capacity)
{
    std::vector<Slot> old(capacity);
    old.swap(m_slots);
    m_mask = capacity - 1;
    for (const Slot &slot : old) {
        if (slot.position != kNone)
            place(slot);
    }
}

bool FlatIndex::reachable(quint32 slot) const
{
    for (quint32 i = m_slots[slot].hash & m_mask; i != slot; i = (i + 1) & m_mask) {
        if (m_slots[i].position == kNone)
            return false;
    }
    return true;
}
