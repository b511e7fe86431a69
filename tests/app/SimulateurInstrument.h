#pragma once

#include <QProcess>
#include <QStringList>

// The instrument simulator of the window scenarios (STATION_SIMULATEUR names
// the program): always the same seed, so the same samples.
const int kGraine = 7;

// Plays the instrument on a new pseudo-terminal until it is stopped or has sent
// its samples; the same seed always gives the same samples.
class Simulateur
{
public:
    explicit Simulateur(const QStringList& options)
    {
        processus.setProgram(QStringLiteral(STATION_SIMULATEUR));
        processus.setArguments(QStringList{"--seed", QString::number(kGraine)} + options);
        processus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        processus.start();
        if (processus.waitForStarted() && processus.waitForReadyRead(5000))
            port = QString::fromLocal8Bit(processus.readLine()).trimmed();
    }
    ~Simulateur() { arreter(); }

    void arreter()
    {
        if (processus.state() == QProcess::NotRunning)
            return;
        processus.terminate();
        if (!processus.waitForFinished(3000))
            processus.kill();
        processus.waitForFinished(3000);
    }

    // The capture lines the station must record for these samples.
    static QByteArray lignesAttendues(const QStringList& options)
    {
        QProcess dump;
        dump.start(QStringLiteral(STATION_SIMULATEUR),
                   QStringList{"--seed", QString::number(kGraine), "--dump", "-", "--dump-only"} +
                       options);
        dump.waitForFinished(10000);
        return dump.readAllStandardOutput();
    }

    QString port;

private:
    QProcess processus;
};
