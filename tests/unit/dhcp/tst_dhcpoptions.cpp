// SPDX-License-Identifier: GPL-3.0-or-later
// The DHCP option codec on hand-made option areas, malformed ones included.
#include "engine/dhcpoptions.h"
#include "engine/dhcpserver.h"

#include <QtTest>

Q_DECLARE_METATYPE(DhcpOptions)

class TestDhcpOptions : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void buildRoundTrip();
    void buildLeavesOutWhatCannotBeWritten();
};

void TestDhcpOptions::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<DhcpOptions>("expected");

    QTest::newRow("empty") << QByteArray() << DhcpOptions{};
    QTest::newRow("one option and end")
        << QByteArray::fromHex("3501 01ff") << DhcpOptions{{53, QByteArray("\x01", 1)}};
    QTest::newRow("end stops: later bytes are not options")
        << QByteArray::fromHex("3501 03ff 0c03 616263") << DhcpOptions{{53, QByteArray("\x03", 1)}};
    QTest::newRow("no end option: stops at the end of the data")
        << QByteArray::fromHex("3501 01 0c02 6869")
        << DhcpOptions{{53, QByteArray("\x01", 1)}, {12, "hi"}};
    // A reader that skipped 0 as a pad byte would take 0x02 as a code of length 0x78 and
    // lose option 53.
    QTest::newRow("code 0 is a triple, not a pad byte")
        << QByteArray::fromHex("0002 7879 3501 01ff")
        << DhcpOptions{{0, "xy"}, {53, QByteArray("\x01", 1)}};
    QTest::newRow("code 0 of length 0")
        << QByteArray::fromHex("0000 3501 02ff")
        << DhcpOptions{{0, QByteArray()}, {53, QByteArray("\x02", 1)}};
    QTest::newRow("value running past the end is dropped, earlier ones kept")
        << QByteArray::fromHex("3501 01 0c10 6162")
        << DhcpOptions{{53, QByteArray("\x01", 1)}};
    QTest::newRow("length byte missing at the end")
        << QByteArray::fromHex("3501 01 0c") << DhcpOptions{{53, QByteArray("\x01", 1)}};
    QTest::newRow("maximum length 255 exactly fitting")
        << (QByteArray::fromHex("0cff") + QByteArray(255, 'a'))
        << DhcpOptions{{12, QByteArray(255, 'a')}};
    QTest::newRow("repeated code: the later value wins")
        << QByteArray::fromHex("0c01 61 0c02 6263 ff") << DhcpOptions{{12, "bc"}};
}

void TestDhcpOptions::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(DhcpOptions, expected);
    QCOMPARE(DHCPServer::parseOptions(bytes), expected);
}

void TestDhcpOptions::buildRoundTrip()
{
    const DhcpOptions options{{53, QByteArray("\x05", 1)},
                              {1, QByteArray::fromHex("ffffff00")},
                              {0, "zero"},
                              {12, QByteArray(255, 'n')},
                              {15, QByteArray()}};
    const QByteArray bytes = DHCPServer::buildOptions(options);
    QCOMPARE(bytes.size(), 2 + 1 + 2 + 4 + 2 + 4 + 2 + 255 + 2 + 0 + 1);
    QCOMPARE(quint8(bytes.back()), Dhcp::kOptionEnd);
    QCOMPARE(DHCPServer::parseOptions(bytes), options);
    // The same table always gives the same bytes.
    QCOMPARE(DHCPServer::buildOptions(DhcpOptions(options)), bytes);
}

void TestDhcpOptions::buildLeavesOutWhatCannotBeWritten()
{
    const DhcpOptions options{{53, QByteArray("\x02", 1)},
                              {12, QByteArray(256, 'n')},
                              {255, "x"}};
    QCOMPARE(DHCPServer::buildOptions(options), QByteArray::fromHex("350102ff"));
    QCOMPARE(DHCPServer::buildOptions({}), QByteArray::fromHex("ff"));
}

QTEST_APPLESS_MAIN(TestDhcpOptions)
#include "tst_dhcpoptions.moc"
