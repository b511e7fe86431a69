#include "SerialPortProbe.h"
#include "InstrumentTerminal.h"

#include <QFile>
#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// The reason found for a port, as a user outside the port's group sees it: run
// in a child as nobody when the test runs as root (root may open anything),
// else with the node's rights taken away.
class SerialPortProbeTest : public QObject
{
    Q_OBJECT

    static int reasonFor(const QString& path, bool asNobody)
    {
        if (!asNobody)
            return SerialPortProbe(path).reason();
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(100);
            ::_exit(SerialPortProbe(path).reason());
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private slots:
    void reasonOfAPort_data()
    {
        QTest::addColumn<bool>("interdit");
        QTest::addColumn<int>("raison");
        QTest::newRow("free") << false << int(SerialPortProbe::Unknown);
        QTest::newRow("outside the port's group") << true << int(SerialPortProbe::Forbidden);
    }

    void reasonOfAPort()
    {
        QFETCH(bool, interdit);
        QFETCH(int, raison);
        InstrumentTerminal instrument;
        QVERIFY(instrument.isValid());
        const QByteArray node = QFile::encodeName(instrument.name());
        const bool root = ::geteuid() == 0;
        if (interdit && !root)
            QVERIFY(::chmod(node.constData(), 0) == 0);
        QCOMPARE(reasonFor(instrument.name(), interdit && root), raison);
        QCOMPARE(SerialPortProbe(instrument.name() + QStringLiteral("-parti")).reason(),
                 SerialPortProbe::Missing);
    }
};

QTEST_GUILESS_MAIN(SerialPortProbeTest)
#include "SerialPortProbeTest.moc"
