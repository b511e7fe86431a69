#include "Fenetre.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // The icon lives in the window library's resources, which a static library
    // must register explicitly.
    Q_INIT_RESOURCE(resources);
    int code = 0;
    {
        Fenetre fenetre;
        fenetre.show();
        code = application.exec();
    }
    Q_CLEANUP_RESOURCE(resources);
    return code;
}
