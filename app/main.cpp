#include "Fenetre.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    Fenetre fenetre;
    fenetre.show();
    return application.exec();
}
