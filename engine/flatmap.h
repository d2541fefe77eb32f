// SPDX-License-Identifier: GPL-3.0-or-later
// FlatMap: a hash map kept as one dense array of items plus a FlatIndex over it.
#pragma once

#include "engine/flatindex.h"

#include <QHash>
#include <QHashFunctions>
#include <QtGlobal>

#include <optional>
#include <vector>

// The default hash of a FlatMap: the key's own seeded qHash.
template <typename Key>
struct FlatHash {
    quint32 operator()(const Key &key, quint32 seed) const { return quint32(qHash(key, seed)); }
};

// How this works
//
// The items (key and value side by side) live in one dense array, in no particular order;
// a FlatIndex maps each key's hash to its item's position. A hit costs the index slot and
// the item: two reads, usually from two cache lines, and no allocation. Erasing moves the
// last item into the hole, so the array stays dense, iteration touches only live items, and
// eraseAt() tells the caller which position moved (an owner that keeps indexes of its own
// over the positions, as PortTable does, retargets them).
//
// The hash is seeded per map, so keys chosen from outside cannot be aimed at one run of
// the index without knowing the seed.
template <typename Key, typename Value, typename Hash = FlatHash<Key>>
class FlatMap
{
public:
    struct Item {
        Key key;
        Value value;
    };

    explicit FlatMap(quint32 seed = 0, Hash hash = Hash())
        : m_hash(hash)
        , m_seed(seed)
    {
    }

    int size() const { return int(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    quint32 hashOf(const Key &key) const { return m_hash(key, m_seed); }

    // The item's position in 0..size()-1, or -1.
    int indexOf(const Key &key) const
    {
        const quint32 found = m_index.find(hashOf(key), [&](quint32 position) {
            return m_items[position].key == key;
        });
        return found == FlatIndex::kNone ? -1 : int(found);
    }
    bool contains(const Key &key) const { return indexOf(key) >= 0; }
    Value *find(const Key &key)
    {
        const int position = indexOf(key);
        return position < 0 ? nullptr : &m_items[std::size_t(position)].value;
    }
    const Value *find(const Key &key) const
    {
        const int position = indexOf(key);
        return position < 0 ? nullptr : &m_items[std::size_t(position)].value;
    }

    // Copies for callers outside the owner's lock.
    std::optional<Value> value(const Key &key) const
    {
        const Value *found = find(key);
        return found ? std::optional<Value>(*found) : std::nullopt;
    }
    QHash<Key, Value> toHash() const
    {
        QHash<Key, Value> copy;
        copy.reserve(size());
        for (const Item &item : m_items)
            copy.insert(item.key, item.value);
        return copy;
    }

    Item &at(int position) { return m_items[std::size_t(position)]; }
    const Item &at(int position) const { return m_items[std::size_t(position)]; }
    typename std::vector<Item>::const_iterator begin() const { return m_items.begin(); }
    typename std::vector<Item>::const_iterator end() const { return m_items.end(); }

    // Adds the key with the value and returns its position; a key that is there already
    // keeps its value and its position is returned. References to items do not survive an
    // insertion.
    int insert(const Key &key, const Value &value)
    {
        const int existing = indexOf(key);
        if (existing >= 0)
            return existing;
        const quint32 position = quint32(m_items.size());
        m_items.push_back(Item{key, value});
        m_index.insert(hashOf(key), position);
        return int(position);
    }

    // Removes the item at `position`; the last item takes its place. Returns the position
    // that last item had, or -1 when the removed item was the last one itself.
    int eraseAt(int position)
    {
        const quint32 removed = quint32(position);
        const quint32 last = quint32(m_items.size() - 1);
        m_index.erase(hashOf(m_items[removed].key), removed);
        int moved = -1;
        if (removed != last) {
            m_items[removed] = m_items[last];
            m_index.retarget(hashOf(m_items[removed].key), last, removed);
            moved = int(last);
        }
        m_items.pop_back();
        if (m_items.capacity() > 64 && m_items.size() * 8 < m_items.capacity())
            m_items.shrink_to_fit();
        return moved;
    }
    bool erase(const Key &key)
    {
        const int position = indexOf(key);
        if (position < 0)
            return false;
        eraseAt(position);
        return true;
    }

    void clear()
    {
        std::vector<Item>().swap(m_items);
        m_index.clear();
    }

    // True when every item is indexed exactly once, under its own hash, and found again.
    bool isConsistent() const
    {
        if (m_index.size() != size())
            return false;
        if (!m_index.isConsistent(quint32(m_items.size()),
                                  [&](quint32 position) { return hashOf(m_items[position].key); }))
            return false;
        for (int position = 0; position < size(); ++position) {
            if (indexOf(at(position).key) != position)
                return false;
        }
        return true;
    }

private:
    Hash m_hash;
    quint32 m_seed;
    std::vector<Item> m_items;
    FlatIndex m_index;
};
