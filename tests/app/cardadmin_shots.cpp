// Takes the pictures of the card manager that scripts/screenshots saves for people to
// look at: it starts the window as cardadmin does (the language from the language
// file under $HOME), then grabs the screen with the welcome page, with each menu open,
// with the wizard page after a refresh (the PIN typed into its prompt), with the tree
// and the page of each kind of item, and with the diagnostic report. Runs on a real
// display (Xvfb), where the screen holds the open menus too; the tests never look at
// these pictures.
//
// Usage: cardadmin_shots <module> <output directory> <name prefix> [blocked]
// With "blocked" (a card whose PIN is blocked) it takes the refreshed tree with the
// card's page only.
#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QMessageBox>
#include <QEventLoop>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

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

// Answers the dialogs of a refresh: the user's PIN, OK to every message.
void answerDialogs(QTimer &timer)
{
    QObject::connect(&timer, &QTimer::timeout, [] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *prompt = qobject_cast<QInputDialog *>(modal)) {
            prompt->setTextValue(QStringLiteral("123456"));
            prompt->accept();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->accept();
        }
    });
    timer.start(50);
}

// The items to show, by kind: a reader, its card, a key with and one without a
// certificate, a certificate.
QList<std::pair<QString, QTreeWidgetItem *>> itemsToShow(QTreeWidget *tree, bool blocked)
{
    QList<std::pair<QString, QTreeWidgetItem *>> items;
    QTreeWidgetItem *reader = tree->topLevelItem(0);
    if (reader == nullptr)
        return items;
    QTreeWidgetItem *card = reader->child(0);
    if (card == nullptr || blocked) {
        items.append({QStringLiteral("cardblocked"), card});
        return items;
    }
    items.append({QStringLiteral("reader"), reader});
    items.append({QStringLiteral("card"), card});
    QTreeWidgetItem *withCertificate = nullptr, *without = nullptr;
    for (int k = 0; k < card->childCount(); ++k) {
        QTreeWidgetItem *key = card->child(k);
        QTreeWidgetItem *&slot = key->childCount() > 0 ? withCertificate : without;
        if (slot == nullptr)
            slot = key;
    }
    items.append({QStringLiteral("key"), withCertificate});
    items.append({QStringLiteral("keynocert"), without});
    items.append({QStringLiteral("cert"), withCertificate ? withCertificate->child(0) : nullptr});
    return items;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 4 && !(argc == 5 && qstrcmp(argv[4], "blocked") == 0)) {
        std::fprintf(stderr,
                     "usage: cardadmin_shots <module> <output directory> <prefix> [blocked]\n");
        return 2;
    }
    const bool blocked = argc == 5;
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
    QTimer answers;
    answerDialogs(answers);
    bool ok = true;
    if (!blocked)
        ok &= shoot(window, nullptr, out + "/" + prefix + "-welcome.png");

    const QList<QAction *> menus = window.menuBar()->actions();
    for (int i = 0; i < menus.size() && !blocked; ++i) {
        QMenu *menu = menus[i]->menu();
        window.menuBar()->setActiveAction(menus[i]);
        settle();
        ok &= shoot(window, menu, QStringLiteral("%1/%2-menu%3.png").arg(out, prefix).arg(i + 1));
        menu->hide();
        settle(100);
    }

    manager.findChild<QAction *>(QStringLiteral("reload"))->trigger();
    settle();
    if (!blocked)
        ok &= shoot(window, nullptr, out + "/" + prefix + "-refreshed.png");

    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("tree"));
    for (const auto &[kind, item] : itemsToShow(tree, blocked)) {
        if (item == nullptr) {
            std::printf("no item for the %s page\n", qPrintable(kind));
            ok = false;
            continue;
        }
        tree->setCurrentItem(item);
        emit tree->itemPressed(item, 0);
        settle();
        ok &= shoot(window, nullptr, out + "/" + prefix + "-page-" + kind + ".png");
    }
    if (!blocked) {
        manager.findChild<QAction *>(QStringLiteral("showDiag"))->trigger();
        settle();
        ok &= shoot(window, nullptr, out + "/" + prefix + "-diag.png");
    }
    return ok ? 0 : 1;
}
