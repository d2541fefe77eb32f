// SPDX-License-Identifier: GPL-3.0-or-later
// RemoteIndex: a translation table's reverse index, from a packed remote-side word to a mapping.
#pragma once

#include "engine/flatindex.h"
#include "engine/portkey.h"

#include <QRandomGenerator>
#include <QtGlobal>

// The word packs what an inbound packet names: the external port or identifier and the
// remote endpoint. The index stores its seeded hash and the mapping's position in the
// owner's dense array; the owner tells it, through `wordAt(position)`, which word the
// mapping at a position has, so that a look-up compares whole words and never trusts a hash
// alone. The seed is drawn per table, so remote endpoints chosen from outside cannot pile
// their mappings into one probe run.
class RemoteIndex
{
public:
    RemoteIndex() : m_seed(QRandomGenerator::system()->generate64()) {}

    int size() const { return m_index.size(); }

    // The position of the first mapping indexed under `word`, or -1.
    template <typename WordAt>
    int find(quint64 word, WordAt wordAt) const
    {
        const quint32 found = m_index.find(hash(word), [&](quint32 position) {
            return wordAt(position) == word;
        });
        return found == FlatIndex::kNone ? -1 : int(found);
    }

    void insert(quint64 word, int position) { m_index.insert(hash(word), quint32(position)); }
    bool erase(quint64 word, int position) { return m_index.erase(hash(word), quint32(position)); }
    // The mapping indexed under `word` moved from `from` to `to` in the owner's array.
    bool retarget(quint64 word, int from, int to)
    {
        return m_index.retarget(hash(word), quint32(from), quint32(to));
    }
    void clear() { m_index.clear(); }

    // The index's own rules hold for `positions` mappings whose words wordAt() tells.
    template <typename WordAt>
    bool isConsistent(int positions, WordAt wordAt) const
    {
        return m_index.isConsistent(quint32(positions), [&](quint32 position) {
            return hash(wordAt(position));
        });
    }

private:
    quint32 hash(quint64 word) const { return NatHash::fold(NatHash::mix(word ^ m_seed)); }

    quint64 m_seed;
    FlatIndex m_index;
};
