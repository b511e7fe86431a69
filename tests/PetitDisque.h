#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>

#include <sys/mount.h>
#include <unistd.h>

// A small file system of its own, mounted for one test and detached after it:
// where a full disk is wanted. Only root may mount; tests skip elsewhere.
class PetitDisque
{
public:
    explicit PetitDisque(const QString& dossier, const char* taille = "size=64k")
        : chemin(dossier.toLocal8Bit())
    {
        monte = ::geteuid() == 0 && QDir().mkpath(dossier) &&
                ::mount("tmpfs", chemin.constData(), "tmpfs", 0, taille) == 0;
    }
    ~PetitDisque()
    {
        if (monte)
            ::umount2(chemin.constData(), MNT_DETACH);
    }
    PetitDisque(const PetitDisque&) = delete;
    PetitDisque& operator=(const PetitDisque&) = delete;

    bool estMonte() const { return monte; }

private:
    QByteArray chemin;
    bool monte = false;
};
