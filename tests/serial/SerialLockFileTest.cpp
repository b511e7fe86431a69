// The UUCP lock of a port against what any user can leave in the lock
// directory: links, FIFOs, directories, files that are no lock.
#include "SerialLockFile.h"
#include "UucpLock.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class SerialLockFileTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void plantedEntryNeverRedirectsNorBlocksTheLock_data();
    void plantedEntryNeverRedirectsNorBlocksTheLock();

private:
    QTemporaryDir dossier;
    QString device;   // a regular file standing for the port
    QString lockPath; // its lock in the system's lock directory
    QString victim;   // a file a planted link points to
};

void SerialLockFileTest::initTestCase()
{
    if (!UucpLock::isAvailable())
        QSKIP("the lock directory is not writable");
    QVERIFY(dossier.isValid());
    device = dossier.filePath(QStringLiteral("ttyLockTest%1").arg(::getpid()));
    QFile file(device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    lockPath = UucpLock::pathFor(device);
    QCOMPARE(UucpLock::directory() + "/" + SerialLockFile::lockName(device), lockPath);
    victim = dossier.filePath("root-only");
}

void SerialLockFileTest::cleanup()
{
    QFile::remove(lockPath);
    QDir(lockPath).removeRecursively();
    QFile::remove(UucpLock::directory() + "/LTMP.LCK.." + QFileInfo(device).fileName() + "." +
                  QString::number(::getpid()));
}

void SerialLockFileTest::plantedEntryNeverRedirectsNorBlocksTheLock_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("locked"); // the lock of this process stands at its name afterwards
    QTest::newRow("link at the lock's name") << "link" << true;
    QTest::newRow("link at the old temporary name") << "temporary link" << true;
    QTest::newRow("FIFO") << "fifo" << true;
    QTest::newRow("empty directory") << "empty directory" << true;
    QTest::newRow("directory that cannot go") << "full directory" << false;
    QTest::newRow("oversized file naming a live process") << "oversized" << true;
}

void SerialLockFileTest::plantedEntryNeverRedirectsNorBlocksTheLock()
{
    QFETCH(QString, planted);
    QFETCH(bool, locked);
    const QByteArray secret("the victim's own content\n");
    QFile out(victim);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(secret);
    out.close();

    const QByteArray at = QFile::encodeName(lockPath);
    if (planted == "link") {
        QVERIFY(QFile::link(victim, lockPath));
    } else if (planted == "temporary link") {
        // Where the lock used to be written first, a name anybody could guess.
        QVERIFY(QFile::link(victim, UucpLock::directory() + "/LTMP." +
                                        SerialLockFile::lockName(device) + "." +
                                        QString::number(::getpid())));
    } else if (planted == "fifo") {
        QCOMPARE(::mkfifo(at.constData(), 0666), 0);
    } else if (planted.endsWith("directory")) {
        QVERIFY(QDir().mkdir(lockPath));
        if (planted == "full directory")
            QVERIFY(QFile(lockPath + "/x").open(QIODevice::WriteOnly));
    } else {
        QFile big(lockPath);
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(UucpLock::text(1) + QByteArray(4096, ' '));
    }

    SerialLockFile lock(device);
    QCOMPARE(lock.holder(), qint64(0));
    QVERIFY(lock.acquire());
    QFileInfo info(lockPath);
    QCOMPARE(info.isFile() && !info.isSymLink(), locked);
    if (locked) {
        QFile file(lockPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), UucpLock::text(::getpid()));
        QCOMPARE(int(info.permissions() & QFile::ReadOther), int(QFile::ReadOther));
    }
    lock.release();
    QCOMPARE(QFileInfo::exists(lockPath), !locked);

    QFile file(victim);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), secret);
}

QTEST_GUILESS_MAIN(SerialLockFileTest)
#include "SerialLockFileTest.moc"
