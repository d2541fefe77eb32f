// SPDX-License-Identifier: GPL-3.0-or-later
// Checksum, encoding and parsing of the greeting between two instances.
#include "app/instancegreeting.h"

#include <QtTest>

using namespace InstanceGreeting;

Q_DECLARE_METATYPE(InstanceGreeting::ConnectionType)

class TestInstanceGreeting : public QObject
{
    Q_OBJECT

private:
    const QString m_key = QStringLiteral("q3+Vb0aZ9rT_u1LmXcE4hWnP2sKjY7dFgR5tA8oNiM0=");

private slots:
    void crcVectors_data();
    void crcVectors();
    void crcAgreesWithQtIso3309();
    void checksumEncoding_data();
    void checksumEncoding();
    void roundTrip_data();
    void roundTrip();
    void everyPrefixIsIncomplete();
    void everyAlteredByteIsInvalid();
    void invalidGreetings_data();
    void invalidGreetings();
};

void TestInstanceGreeting::crcVectors_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");
    // Published check values of CRC-16/X.25 (also known as CRC-16/IBM-SDLC, ISO-HDLC).
    QTest::newRow("empty") << QByteArray() << 0x0000;
    QTest::newRow("check string") << QByteArray("123456789") << 0x906E;
    QTest::newRow("single zero byte") << QByteArray(1, '\0') << 0xF078;
}

void TestInstanceGreeting::crcVectors()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(crc16X25(data)), crc);
}

// Qt's own ISO 3309 checksum is an independent implementation of the same CRC.
void TestInstanceGreeting::crcAgreesWithQtIso3309()
{
    QByteArray data;
    quint32 state = 0x2545F491;
    for (int length = 0; length < 300; ++length) {
        QCOMPARE(crc16X25(data), qChecksum(data.constData(), uint(data.size()), Qt::ChecksumIso3309));
        state = state * 1664525u + 1013904223u;
        data.append(char(state >> 24));
    }
}

void TestInstanceGreeting::checksumEncoding_data()
{
    QTest::addColumn<int>("crc");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("zero") << 0 << QByteArray("0");
    QTest::newRow("nine") << 9 << QByteArray("9");
    QTest::newRow("ten is the first letter") << 10 << QByteArray("a");
    QTest::newRow("thirty-five") << 35 << QByteArray("z");
    QTest::newRow("168 is the last digit below wrap") << 168 << QByteArray("\xFF");
    QTest::newRow("169 wraps to byte zero") << 169 << QByteArray(1, '\0');
    QTest::newRow("255") << 255 << QByteArray("V");
    QTest::newRow("256 takes two digits") << 256 << QByteArray("10");
    QTest::newRow("digits either side of ten") << 0x0A09 << QByteArray("a9");
    QTest::newRow("check value 0x906E") << 0x906E << QByteArray("\xE7\xC5");
    QTest::newRow("largest") << 0xFFFF << QByteArray("VV");
}

void TestInstanceGreeting::checksumEncoding()
{
    QFETCH(int, crc);
    QFETCH(QByteArray, text);
    QCOMPARE(checksumText(quint16(crc)), text);
}

void TestInstanceGreeting::roundTrip_data()
{
    QTest::addColumn<InstanceGreeting::ConnectionType>("type");
    QTest::addColumn<uint>("instanceNumber");
    QTest::addColumn<QByteArray>("trailer");
    QTest::newRow("new instance") << NewInstance << 0u << QByteArray();
    QTest::newRow("secondary with data") << SecondaryInstance << 7u << QByteArray("hello");
    QTest::newRow("reconnect, large number") << Reconnect << 0xFEDCBA98u << QByteArray("\0x", 2);
}

void TestInstanceGreeting::roundTrip()
{
    QFETCH(InstanceGreeting::ConnectionType, type);
    QFETCH(uint, instanceNumber);
    QFETCH(QByteArray, trailer);
    const QByteArray greeting = encode(m_key, type, instanceNumber);

    QCOMPARE(greeting.left(44), m_key.toLatin1());
    QCOMPARE(greeting.at(44), char(type));
    const quint32 number = instanceNumber;
    QCOMPARE(greeting.mid(45, 4), QByteArray(reinterpret_cast<const char *>(&number), 4));
    QCOMPARE(greeting.mid(49), checksumText(crc16X25(greeting.left(49))));

    Greeting parsed;
    QCOMPARE(parse(greeting + trailer, m_key, &parsed), Verdict::Valid);
    QCOMPARE(parsed.type, type);
    QCOMPARE(parsed.instanceNumber, instanceNumber);
    QCOMPARE(parsed.length, greeting.size());
}

void TestInstanceGreeting::everyPrefixIsIncomplete()
{
    const QByteArray greeting = encode(m_key, NewInstance, 0);
    for (int length = 0; length < greeting.size(); ++length)
        QCOMPARE(parse(greeting.left(length), m_key, nullptr), Verdict::Incomplete);
}

void TestInstanceGreeting::everyAlteredByteIsInvalid()
{
    const QByteArray greeting = encode(m_key, NewInstance, 0);
    for (int i = 0; i < greeting.size(); ++i) {
        QByteArray altered = greeting;
        altered[i] = char(altered.at(i) ^ 0x01);
        QVERIFY2(parse(altered, m_key, nullptr) == Verdict::Invalid, qPrintable(QString::number(i)));
    }
}

void TestInstanceGreeting::invalidGreetings_data()
{
    QTest::addColumn<QByteArray>("received");
    QByteArray head = m_key.toLatin1() + 'X' + QByteArray(4, '\0');
    QTest::newRow("unknown type, right checksum") << head + checksumText(crc16X25(head));
    head = m_key.toLatin1().toLower() + 'N' + QByteArray(4, '\0');
    QTest::newRow("other key, its own checksum") << head + checksumText(crc16X25(head));
    QTest::newRow("other program's text") << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QTest::newRow("key too short") << m_key.toLatin1().left(43) + "N";
    const QByteArray valid = encode(m_key, SecondaryInstance, 1);
    QTest::newRow("checksum of another number") << valid.left(45) + QByteArray("\2\0\0\0", 4) + valid.mid(49);
}

void TestInstanceGreeting::invalidGreetings()
{
    QFETCH(QByteArray, received);
    QCOMPARE(parse(received, m_key, nullptr), Verdict::Invalid);
}

QTEST_GUILESS_MAIN(TestInstanceGreeting)
#include "tst_instancegreeting.moc"
