// SPDX-License-Identifier: GPL-3.0-or-later
// Greetings sent over a real local socket to the primary instance running in this process.
#include "app/instancegreeting.h"
#include "app/singleapplication.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QtTest>
#include <thread>

using namespace InstanceGreeting;

class TestSingleGreeting : public QObject
{
    Q_OBJECT

public:
    explicit TestSingleGreeting(SingleApplication *application)
        : m_application(application)
    {
    }

private slots:
    void initTestCase();
    void greeting_data();
    void greeting();
    void greetingInTwoPieces();
    void severalGreetingsAtOnce();

private:
    QByteArray greetingFor(ConnectionType type, quint32 number) const;
    QByteArray messagesOf(const QSignalSpy &spy, uint instanceId) const;

    SingleApplication *m_application;
};

QByteArray TestSingleGreeting::greetingFor(ConnectionType type, quint32 number) const
{
    return encode(m_application->instanceKey(), type, number);
}

// All message bytes received for `instanceId`, in order; fails on any other id.
QByteArray TestSingleGreeting::messagesOf(const QSignalSpy &spy, uint instanceId) const
{
    QByteArray all;
    for (const QList<QVariant> &call : spy) {
        if (call.at(0).toUInt() != instanceId)
            return QByteArray("<message for instance ") + QByteArray::number(call.at(0).toUInt()) + '>';
        all += call.at(1).toByteArray();
    }
    return all;
}

void TestSingleGreeting::initTestCase()
{
    QVERIFY(m_application->isPrimary());
    QCOMPARE(m_application->instanceKey().size(), 44);
}

void TestSingleGreeting::greeting_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("started");
    QTest::addColumn<uint>("instanceId");
    QTest::addColumn<QByteArray>("immediateData");

    const QByteArray key = m_application->instanceKey().toLatin1();
    const QByteArray n = greetingFor(NewInstance, 0);
    QTest::newRow("new instance") << n << true << 1 << 0u << QByteArray();
    QTest::newRow("new instance with data") << n + "hello" << true << 1 << 0u << QByteArray("hello");
    QTest::newRow("secondary") << greetingFor(SecondaryInstance, 3) << true << 0 << 3u << QByteArray();
    QTest::newRow("reconnect with data")
        << greetingFor(Reconnect, 7) + QByteArray("\0x", 2) << true << 0 << 7u << QByteArray("\0x", 2);

    QByteArray head = key;
    head[0] = head.at(0) == 'A' ? 'B' : 'A';
    head += 'N' + QByteArray(4, '\0');
    QTest::newRow("wrong key") << head + checksumText(crc16X25(head)) << false << 0 << 0u << QByteArray();
    head = key + 'X' + QByteArray(4, '\0');
    QTest::newRow("unknown type") << head + checksumText(crc16X25(head)) << false << 0 << 0u << QByteArray();
    QByteArray badSum = n;
    badSum[badSum.size() - 1] = char(badSum.at(badSum.size() - 1) ^ 0x20);
    QTest::newRow("wrong checksum") << badSum << false << 0 << 0u << QByteArray();
    QTest::newRow("truncated") << n.left(n.size() - 1) << false << 0 << 0u << QByteArray();
    QTest::newRow("key only") << key << false << 0 << 0u << QByteArray();
    QTest::newRow("nothing") << QByteArray() << false << 0 << 0u << QByteArray();
    QTest::newRow("other protocol") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << false << 0 << 0u
                                    << QByteArray();
}

void TestSingleGreeting::greeting()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, accepted);
    QFETCH(int, started);
    QFETCH(uint, instanceId);
    QFETCH(QByteArray, immediateData);

    QSignalSpy startedSpy(m_application, &SingleApplication::instanceStarted);
    QSignalSpy messageSpy(m_application, &SingleApplication::receivedMessage);
    QLocalSocket client;
    QSignalSpy closedSpy(&client, &QLocalSocket::disconnected);
    client.connectToServer(m_application->instanceKey());
    QVERIFY(client.waitForConnected(1000));
    client.write(sent);
    client.flush();

    if (!accepted) {
        QVERIFY(closedSpy.wait(2000));
        QTest::qWait(50);
        QCOMPARE(startedSpy.count(), 0);
        QCOMPARE(messageSpy.count(), 0);
        return;
    }

    // An accepted connection stays open and carries later data as messages.
    QTRY_COMPARE_WITH_TIMEOUT(startedSpy.count(), started, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(messagesOf(messageSpy, instanceId), immediateData, 2000);
    client.write("later");
    client.flush();
    QTRY_COMPARE_WITH_TIMEOUT(messagesOf(messageSpy, instanceId), immediateData + "later", 2000);
    QTest::qWait(150);
    QCOMPARE(client.state(), QLocalSocket::ConnectedState);
    QCOMPARE(closedSpy.count(), 0);
    QCOMPARE(startedSpy.count(), started);
}

// A greeting whose bytes arrive apart, within the time-out, is still one valid greeting.
void TestSingleGreeting::greetingInTwoPieces()
{
    QSignalSpy startedSpy(m_application, &SingleApplication::instanceStarted);
    const QString key = m_application->instanceKey();
    const QByteArray whole = greetingFor(NewInstance, 0);
    bool written = false;
    std::thread writer([&] {
        QLocalSocket client;
        client.connectToServer(key);
        if (!client.waitForConnected(1000))
            return;
        client.write(whole.left(20));
        client.waitForBytesWritten(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        client.write(whole.mid(20));
        written = client.waitForBytesWritten(1000);
        client.waitForDisconnected(500);
    });
    QTRY_COMPARE_WITH_TIMEOUT(startedSpy.count(), 1, 2000);
    writer.join();
    QVERIFY(written);
}

// Greetings queued before the primary's event loop looks at them are each handled.
void TestSingleGreeting::severalGreetingsAtOnce()
{
    QSignalSpy startedSpy(m_application, &SingleApplication::instanceStarted);
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<QLocalSocket>());
        clients.back()->connectToServer(m_application->instanceKey());
        QVERIFY(clients.back()->waitForConnected(1000));
        clients.back()->write(greetingFor(NewInstance, 0));
        clients.back()->flush();
    }
    QTRY_COMPARE_WITH_TIMEOUT(startedSpy.count(), 3, 2000);
}

int main(int argc, char *argv[])
{
    // A domain of this run alone keeps the key apart from every other process, so that this
    // process is sure to be the primary.
    QCoreApplication::setOrganizationName(QStringLiteral("Orrinsby"));
    QCoreApplication::setOrganizationDomain(
        QStringLiteral("greeting-test-%1.orrinsby.example").arg(QCoreApplication::applicationPid()));
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.1"));
    SingleApplication application(argc, argv, false, SingleApplication::Mode::User, 100);
    TestSingleGreeting test(&application);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singlegreeting.moc"
