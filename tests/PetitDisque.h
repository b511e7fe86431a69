#pragma once

#include <QDir>
#include <QFile>

#include <sys/mount.h>
#include <unistd.h>

// A 64 KiB file system of its own, mounted for one test and detached after it:
// a disk to fill. Only root may mount; the tests that need one skip elsewhere.
class PetitDisque
{
public:
    explicit PetitDisque(const QString& dossier)
        : chemin(dossier),
          monte(::geteuid() == 0 && QDir().mkpath(dossier) &&
                ::mount("tmpfs", QFile::encodeName(dossier), "tmpfs", 0, "size=64k") == 0)
    {
    }
    ~PetitDisque()
    {
        if (monte)
            ::umount2(QFile::encodeName(chemin), MNT_DETACH);
    }
    bool estMonte() const { return monte; }
    // Takes what room is left with a file named "plein".
    bool remplir() const
    {
        QFile plein(QDir(chemin).filePath(QStringLiteral("plein")));
        while (plein.isOpen() || plein.open(QIODevice::WriteOnly))
            if (plein.write(QByteArray(4096, 'x')) != 4096 || !plein.flush())
                return true;
        return false;
    }

private:
    QString chemin;
    bool monte;
};
