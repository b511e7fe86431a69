#include "SerialPortProbe.h"
#include "InstrumentTerminal.h"

#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>

class SerialPortProbeTest : public QObject
{
    Q_OBJECT

private slots:
    // A user outside the port's group: nobody in a child when the test runs as
    // root (root may open anything), else the node's rights taken away.
    void portTheUserMayNotOpenIsForbidden()
    {
        InstrumentTerminal instrument;
        QCOMPARE(SerialPortProbe(instrument.name()).reason(), SerialPortProbe::Unknown);
        QCOMPARE(SerialPortProbe(instrument.name() + "-parti").reason(), SerialPortProbe::Missing);
        if (::geteuid() != 0) {
            QVERIFY(::chmod(QFile::encodeName(instrument.name()).constData(), 0) == 0);
            QCOMPARE(SerialPortProbe(instrument.name()).reason(), SerialPortProbe::Forbidden);
            return;
        }
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0
                        ? SerialPortProbe(instrument.name()).reason()
                        : 100);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), int(SerialPortProbe::Forbidden));
    }
};

QTEST_GUILESS_MAIN(SerialPortProbeTest)
#include "SerialPortProbeTest.moc"
