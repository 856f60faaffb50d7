// Takes the pictures of the card manager that scripts/screenshots saves for people to
// look at: it starts the window as cardadmin does (the language from the language
// file under $HOME), then grabs the screen with the welcome page, with each menu open,
// and with the wizard page after a refresh. Runs on a real display (Xvfb), where the
// screen holds the open menus too; the tests never look at these pictures.
//
// Usage: cardadmin_shots <module> <output directory> <name prefix>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

#include "card_manager.h"
#include "language.h"

namespace
{

void settle(int ms = 400)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool shoot(const QWidget &window, const QWidget *menu, const QString &path)
{
    QRect area = window.frameGeometry();
    if (menu != nullptr)
        area |= menu->geometry();
    QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    bool saved = screen.copy(area).save(path, "PNG");
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: cardadmin_shots <module> <output directory> <prefix>\n");
        return 2;
    }
    QString out = QString::fromLocal8Bit(argv[2]), prefix = QString::fromLocal8Bit(argv[3]);
    if (!QDir().mkpath(out))
        return 1;
    QTranslator translator;
    loadCatalogue(translator, readLanguageSetting(languageConfigPath()), QLocale(),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    QCoreApplication::installTranslator(&translator);

    CardManager manager(nullptr, QString::fromLocal8Bit(argv[1]));
    if (!manager.isLoaded())
        return 1;
    manager.setProgressDelay(0);
    QMainWindow &window = manager.visibleWindow();
    window.show();
    settle(1000);
    bool ok = shoot(window, nullptr, out + "/" + prefix + "-welcome.png");

    const QList<QAction *> menus = window.menuBar()->actions();
    for (int i = 0; i < menus.size(); ++i) {
        QMenu *menu = menus[i]->menu();
        window.menuBar()->setActiveAction(menus[i]);
        settle();
        ok &= shoot(window, menu, QStringLiteral("%1/%2-menu%3.png").arg(out, prefix).arg(i + 1));
        menu->hide();
        settle(100);
    }

    manager.findChild<QAction *>(QStringLiteral("reload"))->trigger();
    settle();
    ok &= shoot(window, nullptr, out + "/" + prefix + "-refreshed.png");
    return ok ? 0 : 1;
}
