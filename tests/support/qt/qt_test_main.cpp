// The main of the Qt test programs: GoogleTest with the one QApplication, offscreen
// unless the environment chooses a platform, with Qt's own dialogs (never a native
// one, which no driver could reach).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
