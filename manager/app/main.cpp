// cardadmin: the card holder's card manager. Its one optional argument is the path of
// the PKCS#11 module to load.
#include <QApplication>

#include "start.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return runCardManager();
}
