// SPDX-License-Identifier: GPL-3.0-or-later
// FlatMap over FlatIndex: colliding runs, backward-shift erasure, growth, and a randomized
// comparison with std::unordered_map.
#include "engine/flatmap.h"
#include "engine/portkey.h"

#include <QtTest>

#include <algorithm>
#include <random>
#include <unordered_map>
#include <vector>

namespace {

// Where the test wants the keys to land. The index starts with 16 slots, so hash 15 is its
// last slot and runs starting there wrap to slot 0.
enum class Spread {
    Seeded,      // the key's own seeded qHash
    OneHome,     // every key hashes to 5: one run, equal stored hashes, keys decide
    LastSlot,    // every key hashes to 15: the run wraps round the end
    TwoHomes,    // homes 14 and 15 by parity: two runs interleaved in one cluster
    OneHomeTags, // home 0 for every key but distinct stored hashes (key in the top bits)
    Sixteen,     // key % 16: sixteen long runs that merge into one cluster
};

struct SpreadHash {
    Spread spread = Spread::Seeded;
    quint32 operator()(quint32 key, quint32 seed) const
    {
        switch (spread) {
        case Spread::Seeded:
            return NatHash::fold(NatHash::mix(quint64(key) ^ seed));
        case Spread::OneHome:
            return 5;
        case Spread::LastSlot:
            return 15;
        case Spread::TwoHomes:
            return 14 + key % 2;
        case Spread::OneHomeTags:
            return key << 20;
        case Spread::Sixteen:
            return key % 16;
        }
        return 0;
    }
};

using Map = FlatMap<quint32, quint32, SpreadHash>;

Map makeMap(Spread spread)
{
    return Map(0x5eed1234u, SpreadHash{spread});
}

quint32 valueOf(quint32 key)
{
    return key * 7 + 1;
}

// Every key below `count` is found with its value unless it is in `gone`, which is not found.
bool holdsExactly(const Map &map, quint32 count, const QVector<quint32> &gone)
{
    for (quint32 key = 0; key < count; ++key) {
        const quint32 *value = map.find(key);
        if (gone.contains(key) ? value != nullptr : (!value || *value != valueOf(key)))
            return false;
    }
    return map.size() == int(count) - gone.size() && map.isConsistent();
}

} // namespace

Q_DECLARE_METATYPE(Spread)

class TestFlatMap : public QObject
{
    Q_OBJECT

private slots:
    void eraseInsideRuns_data();
    void eraseInsideRuns();
    void eraseAtMovesTheLastItem();
    void growthKeepsEverything_data();
    void growthKeepsEverything();
    void eraseAllThenReinsert();
    void againstUnorderedMap_data();
    void againstUnorderedMap();
};

void TestFlatMap::eraseInsideRuns_data()
{
    QTest::addColumn<Spread>("spread");
    QTest::addColumn<QVector<quint32>>("erased");

    QTest::newRow("one home, middle then first then last") << Spread::OneHome << QVector<quint32>{4, 0, 9};
    QTest::newRow("one home, every other") << Spread::OneHome << QVector<quint32>{1, 3, 5, 7};
    QTest::newRow("wrapping run, first then middle") << Spread::LastSlot << QVector<quint32>{0, 5, 1};
    QTest::newRow("wrapping run, the one in the last slot") << Spread::LastSlot << QVector<quint32>{0};
    QTest::newRow("two homes, the first of each") << Spread::TwoHomes << QVector<quint32>{0, 1};
    QTest::newRow("two homes, middle of one") << Spread::TwoHomes << QVector<quint32>{4, 8, 3};
    QTest::newRow("one home, distinct hashes") << Spread::OneHomeTags << QVector<quint32>{2, 3, 8};
    QTest::newRow("seeded, all of them")
        << Spread::Seeded << QVector<quint32>{9, 0, 4, 5, 1, 8, 2, 7, 3, 6};
}

// Ten keys fit into the first 16 slots, so each row's runs are exactly as its spread says.
void TestFlatMap::eraseInsideRuns()
{
    QFETCH(Spread, spread);
    QFETCH(QVector<quint32>, erased);

    constexpr quint32 kKeys = 10;
    Map map = makeMap(spread);
    for (quint32 key = 0; key < kKeys; ++key)
        QCOMPARE(map.insert(key, valueOf(key)), int(key));
    QVERIFY(holdsExactly(map, kKeys, {}));

    QVector<quint32> gone;
    for (quint32 key : erased) {
        QVERIFY(map.erase(key));
        QVERIFY(!map.erase(key));
        gone.append(key);
        QVERIFY2(holdsExactly(map, kKeys, gone), qPrintable(QStringLiteral("after erasing %1").arg(key)));
    }
    for (quint32 key : erased)
        map.insert(key, valueOf(key));
    QVERIFY(holdsExactly(map, kKeys, {}));
    // An existing key keeps its value and position.
    const int position = map.indexOf(3);
    QCOMPARE(map.insert(3, 12345), position);
    QCOMPARE(*map.find(3), valueOf(3));
}

void TestFlatMap::eraseAtMovesTheLastItem()
{
    Map map = makeMap(Spread::OneHome);
    for (quint32 key = 0; key < 5; ++key)
        map.insert(key, valueOf(key));
    QCOMPARE(map.eraseAt(1), 4); // key 4 moved from position 4 into 1
    QCOMPARE(map.at(1).key, 4u);
    QCOMPARE(map.indexOf(4), 1);
    QCOMPARE(map.eraseAt(3), -1); // the last item: nothing moves
    QCOMPARE(map.size(), 3);
    QVERIFY(!map.contains(1) && !map.contains(3));
    QVERIFY(map.contains(0) && map.contains(2) && map.contains(4));
    QVERIFY(map.isConsistent());
}

void TestFlatMap::growthKeepsEverything_data()
{
    QTest::addColumn<Spread>("spread");
    QTest::addColumn<int>("count");

    QTest::newRow("seeded") << Spread::Seeded << 100000;
    QTest::newRow("sixteen runs") << Spread::Sixteen << 3000;
    QTest::newRow("one home") << Spread::OneHome << 1500;
    QTest::newRow("wrapping run") << Spread::LastSlot << 1500;
}

void TestFlatMap::growthKeepsEverything()
{
    QFETCH(Spread, spread);
    QFETCH(int, count);

    Map map = makeMap(spread);
    for (int i = 0; i < count; ++i) {
        map.insert(quint32(i), valueOf(quint32(i)));
        // Every doubling of the index, and the step after it.
        if ((i & (i - 1)) == 0 || ((i - 1) & (i - 2)) == 0) {
            QVERIFY2(holdsExactly(map, quint32(i + 1), {}), qPrintable(QString::number(i)));
        }
    }
    QVERIFY(holdsExactly(map, quint32(count), {}));
    QVERIFY(!map.contains(quint32(count)));
}

void TestFlatMap::eraseAllThenReinsert()
{
    constexpr quint32 kKeys = 5000;
    Map map = makeMap(Spread::Seeded);
    std::vector<quint32> order(kKeys);
    for (quint32 key = 0; key < kKeys; ++key) {
        order[key] = key;
        map.insert(key, 1);
    }
    std::mt19937 random(42);
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i = 0; i < order.size(); ++i) {
        QVERIFY(map.erase(order[i]));
        if (i % 997 == 0)
            QVERIFY(map.isConsistent());
    }
    QVERIFY(map.isEmpty());
    QVERIFY(map.isConsistent());
    for (quint32 key = 0; key < kKeys; ++key)
        QVERIFY(!map.contains(key));

    for (quint32 key : order)
        map.insert(key, valueOf(key));
    QVERIFY(holdsExactly(map, kKeys, {}));
    map.clear();
    QVERIFY(map.isEmpty() && !map.contains(0) && map.isConsistent());
    QCOMPARE(map.insert(7, 8), 0);
    QCOMPARE(*map.find(7), 8u);
}

void TestFlatMap::againstUnorderedMap_data()
{
    QTest::addColumn<Spread>("spread");
    QTest::addColumn<int>("keyRange");
    QTest::addColumn<int>("operations");

    QTest::newRow("seeded, small range") << Spread::Seeded << 600 << 300000;
    QTest::newRow("seeded, wide range") << Spread::Seeded << 50000 << 300000;
    QTest::newRow("sixteen runs") << Spread::Sixteen << 400 << 100000;
    QTest::newRow("two homes") << Spread::TwoHomes << 100 << 50000;
}

// Random inserts, erases (by key and by position), look-ups and value updates, checked
// step by step against the standard map, with full comparisons now and then.
void TestFlatMap::againstUnorderedMap()
{
    QFETCH(Spread, spread);
    QFETCH(int, keyRange);
    QFETCH(int, operations);

    Map map = makeMap(spread);
    std::unordered_map<quint32, quint32> model;
    std::mt19937 random(quint32(keyRange) * 31u + quint32(spread));
    std::uniform_int_distribution<quint32> anyKey(0, quint32(keyRange - 1));
    std::uniform_int_distribution<int> anyOperation(0, 99);

    for (int step = 0; step < operations; ++step) {
        const quint32 key = anyKey(random);
        const int operation = anyOperation(random);
        if (operation < 45) {
            const quint32 value = quint32(random());
            const bool added = model.emplace(key, value).second;
            const int before = map.size();
            map.insert(key, value);
            QCOMPARE(map.size() - before, int(added));
        } else if (operation < 70) {
            QCOMPARE(map.erase(key), model.erase(key) == 1);
        } else if (operation < 75 && !map.isEmpty()) {
            const int position = int(random() % quint32(map.size()));
            const quint32 victim = map.at(position).key;
            const int last = map.size() - 1;
            QCOMPARE(map.eraseAt(position), position == last ? -1 : last);
            QCOMPARE(model.erase(victim), std::size_t(1));
        } else if (operation < 90) {
            const auto expected = model.find(key);
            const quint32 *found = map.find(key);
            QCOMPARE(found != nullptr, expected != model.end());
            if (found)
                QCOMPARE(*found, expected->second);
        } else if (quint32 *found = map.find(key)) {
            QVERIFY(model.count(key) == 1);
            *found += 1;
            ++model[key];
        }
        if (step % 20000 == 0 || step == operations - 1) {
            QCOMPARE(map.size(), int(model.size()));
            for (const auto &item : map) {
                const auto expected = model.find(item.key);
                QVERIFY(expected != model.end());
                QCOMPARE(item.value, expected->second);
            }
            QVERIFY(map.isConsistent());
        }
    }
}

QTEST_APPLESS_MAIN(TestFlatMap)
#include "tst_flatmap.moc"
