// SPDX-License-Identifier: GPL-3.0-or-later
// Derivation of the single-instance key, checked against an outside SHA-256 tool.
#include "app/instancekey.h"
#include "platform/username.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestInstanceKey : public QObject
{
    Q_OBJECT

private slots:
    void matchesSha256sum_data();
    void matchesSha256sum();
    void keyVaries_data();
    void keyVaries();
    void effectiveUserIsTheLoginName();

private:
    static InstanceIdentity base();
};

InstanceIdentity TestInstanceKey::base()
{
    InstanceIdentity identity;
    identity.applicationName = QStringLiteral("Tarnwick");
    identity.organizationName = QStringLiteral("Orrinsby");
    identity.organizationDomain = QStringLiteral("orrinsby.example");
    identity.applicationVersion = QStringLiteral("2.0.1");
    identity.executablePath = QStringLiteral("/opt/Tarnwick/bin/Tarnwick");
    identity.userName = QStringLiteral("alice");
    return identity;
}

// Hashes `input` with coreutils' sha256sum and encodes the digest as the key does.
static QString keyBySha256sum(const QByteArray &input)
{
    QProcess tool;
    tool.start(QStringLiteral("sha256sum"), {QStringLiteral("-b")});
    if (!tool.waitForStarted(5000))
        return QString();
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(5000) || tool.exitCode() != 0)
        return QString();
    const QByteArray digest = QByteArray::fromHex(tool.readAllStandardOutput().left(64));
    return QString::fromLatin1(digest.toBase64().replace('/', '_'));
}

void TestInstanceKey::matchesSha256sum_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QStringList>("homePaths");
    QTest::addColumn<QByteArray>("hashedTail");
    QTest::newRow("user name") << QStringLiteral("alice") << QStringList() << QByteArray("alice");
    QTest::newRow("no user name: home paths joined")
        << QString() << QStringList{QStringLiteral("/home/a"), QStringLiteral("/srv/b")}
        << QByteArray("/home/a/srv/b");
    QTest::newRow("non-ASCII user name as UTF-8")
        << QStringLiteral("ren\u00e9e") << QStringList() << QByteArray("ren\xc3\xa9" "e");
}

void TestInstanceKey::matchesSha256sum()
{
    QFETCH(QString, userName);
    QFETCH(QStringList, homePaths);
    QFETCH(QByteArray, hashedTail);
    InstanceIdentity identity = base();
    identity.userName = userName;
    identity.homePaths = homePaths;

    const QString expected = keyBySha256sum(
        "SingleApplicationTarnwickOrrinsbyorrinsby.example2.0.1/opt/tarnwick/bin/tarnwick" + hashedTail);
    QVERIFY2(!expected.isEmpty(), "sha256sum did not run");
    const QString key = instanceKey(identity);
    QCOMPARE(key, expected);
    QCOMPARE(key.size(), 44);
    QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9+_]{43}=$")).match(key).hasMatch());
}

void TestInstanceKey::keyVaries_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("sameKey");
    QTest::newRow("path differing in case") << "path" << "/OPT/tarnwick/BIN/tarnwick" << true;
    QTest::newRow("other path") << "path" << "/usr/local/bin/tarnwick" << false;
    QTest::newRow("other version") << "version" << "2.0.2" << false;
    QTest::newRow("other user") << "user" << "bob" << false;
    QTest::newRow("user name is case-sensitive") << "user" << "Alice" << false;
    QTest::newRow("other domain") << "domain" << "orrinsby.test" << false;
    QTest::newRow("other application") << "application" << "Tarnwick2" << false;
    QTest::newRow("other organisation") << "organisation" << "Orrinsby Ltd" << false;
}

void TestInstanceKey::keyVaries()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, sameKey);
    InstanceIdentity other = base();
    if (field == QLatin1String("path"))
        other.executablePath = value;
    else if (field == QLatin1String("version"))
        other.applicationVersion = value;
    else if (field == QLatin1String("user"))
        other.userName = value;
    else if (field == QLatin1String("domain"))
        other.organizationDomain = value;
    else if (field == QLatin1String("application"))
        other.applicationName = value;
    else if (field == QLatin1String("organisation"))
        other.organizationName = value;
    else
        QFAIL("unknown field");
    QCOMPARE(instanceKey(other) == instanceKey(base()), sameKey);
}

void TestInstanceKey::effectiveUserIsTheLoginName()
{
    QProcess id;
    id.start(QStringLiteral("id"), {QStringLiteral("-un")});
    QVERIFY(id.waitForFinished(5000));
    QCOMPARE(effectiveUserName(), QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed());
}

QTEST_GUILESS_MAIN(TestInstanceKey)
#include "tst_instancekey.moc"
