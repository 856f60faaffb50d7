// Takes the pictures of the card manager that scripts/screenshots saves for people to
// look at: it starts the window as cardadmin does (the language from the language
// file under $HOME), then grabs the screen with the welcome page, with each menu open,
// with the wizard page after a refresh (the PIN typed into its prompt), with the tree
// and the page of each kind of item, with the diagnostic report, and with the dialogs of
// the operations (PIN prompts, the import's file dialog, a success box, the two tabs of
// the certificate dialog, the question before a two-key container's deletion). Runs on
// a real display (Xvfb), where the screen holds the open menus too; the tests never
// look at these pictures.
//
// Usage: cardadmin_shots <module> <output directory> <name prefix> [scene [control]]
// Scenes: "blocked" (a card whose PIN is blocked) or "bothblocked" (PIN and PUK blocked)
// take the refreshed tree with the card's page only; "lasttry" (one PIN try left, the PUK
// blocked) the notice after a wrong PIN at the refresh's prompt; "twocards" (a card in
// each reader; `control` is the second card's control input) the load error of the
// second card pulled out at its PIN prompt, its reader's page afterwards and the key
// test of the first card, which stays as it was read.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
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
#include <functional>

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
// certificate, the other key of the first one's container (each key with its own
// certificate), a certificate.
QList<std::pair<QString, QTreeWidgetItem *>> itemsToShow(QTreeWidget *tree, const QString &blocked)
{
    QList<std::pair<QString, QTreeWidgetItem *>> items;
    QTreeWidgetItem *reader = tree->topLevelItem(0);
    if (reader == nullptr)
        return items;
    QTreeWidgetItem *card = reader->child(0);
    if (card == nullptr || !blocked.isEmpty()) {
        items.append({QStringLiteral("card") + blocked, card});
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
    QTreeWidgetItem *twin = nullptr;
    for (int k = card->indexOfChild(withCertificate) + 1;
         withCertificate && k < card->childCount() && !twin; ++k)
        if (card->child(k)->text(0) == withCertificate->text(0))
            twin = card->child(k);
    items.append({QStringLiteral("key"), withCertificate});
    items.append({QStringLiteral("key-twin"), twin});
    items.append({QStringLiteral("keynocert"), without});
    items.append({QStringLiteral("cert"), withCertificate ? withCertificate->child(0) : nullptr});
    return items;
}

void reject(QWidget *dialog)
{
    if (auto *d = qobject_cast<QDialog *>(dialog))
        d->reject();
}

// Runs a command whose modal dialogs are met in turn: each one is left to paint, shot
// when its step names a picture, and handed to the step's action (which closes it).
struct DialogStep {
    QString picture; // empty: no picture
    std::function<void(QWidget *)> act;
};

bool runWithDialogs(const QWidget &window, const std::function<void()> &command,
                    QList<DialogStep> steps)
{
    bool ok = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal != nullptr && steps.isEmpty()) {
            // a dialog no step expects: closed, so that nothing waits for it
            std::printf("unexpected dialog %s\n", qPrintable(modal->windowTitle()));
            reject(modal);
            ok = false;
            return;
        }
        if (modal == nullptr)
            return;
        poll.stop();
        settle(); // painted
        DialogStep step = steps.takeFirst();
        if (!step.picture.isEmpty()) {
            QRect area = window.frameGeometry() | modal->frameGeometry();
            QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
            bool saved = screen.copy(area).save(step.picture, "PNG");
            std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(step.picture));
            ok &= saved;
        }
        step.act(modal);
        poll.start(50);
    });
    poll.start(50);
    command();
    settle();
    if (!steps.isEmpty()) {
        std::printf("%d dialogs were not shown\n", int(steps.size()));
        ok = false;
    }
    return ok;
}

void typeAndAccept(QWidget *dialog, const QString &text)
{
    if (auto *input = qobject_cast<QInputDialog *>(dialog)) {
        input->setTextValue(text);
        input->accept();
    }
}

// Shows an item's page as a click does.
void show(QTreeWidget *tree, QTreeWidgetItem *item)
{
    tree->setCurrentItem(item);
    emit tree->itemPressed(item, 0);
    settle();
}

std::function<void()> trigger(CardManager &manager, const char *name)
{
    return [&manager, name] { manager.findChild<QAction *>(QLatin1String(name))->trigger(); };
}

bool shootKeys(CardManager &manager, QTreeWidget *tree, const QString &base);

// The PIN prompts, a PIN change's success box and the window after it, the PKCS#12
// import's file dialog, a success box (a certificate exported), both tabs of the certificate
// dialog and, in expert mode, the question before a key's deletion, which takes its
// two-key container (cancelled); the card is left as it was.
bool shootOperations(CardManager &manager, QTreeWidget *tree, const QString &base)
{
    QTreeWidgetItem *card = tree->topLevelItem(0) ? tree->topLevelItem(0)->child(0) : nullptr;
    QTreeWidgetItem *certificate = nullptr;
    for (int k = 0; card && k < card->childCount() && !certificate; ++k)
        certificate = card->child(k)->child(0);
    if (card == nullptr || certificate == nullptr) {
        std::printf("no card or certificate for the operations\n");
        return false;
    }
    auto show = [tree](QTreeWidgetItem *item) { ::show(tree, item); };
    auto trigger = [&manager](const char *name) { return ::trigger(manager, name); };
    bool ok = true;
    show(card);
    ok &= runWithDialogs(
        manager.visibleWindow(), trigger("changePin"),
        {{base + "-pin-prompt.png", [](QWidget *d) { typeAndAccept(d, QStringLiteral("123456")); }},
         {base + "-pin-new.png", reject}});
    // a whole change, to the same PIN: its success box, then the window without the
    // progress notice
    auto typePin = [](QWidget *d) { typeAndAccept(d, QStringLiteral("123456")); };
    ok &= runWithDialogs(manager.visibleWindow(), trigger("changePin"),
                         {{QString(), typePin},
                          {QString(), typePin},
                          {QString(), typePin},
                          {base + "-pin-changed.png", reject}});
    ok &= shoot(manager.visibleWindow(), nullptr, base + "-pin-changed-after.png");
    ok &= runWithDialogs(manager.visibleWindow(), trigger("importKey"),
                         {{base + "-import.png", reject}});
    show(certificate);
    const QString exported = QDir::temp().filePath(QStringLiteral("cardadmin-shot.cer"));
    ok &= runWithDialogs(
        manager.visibleWindow(), trigger("exportCert"),
        {{QString(),
          [exported](QWidget *d) {
              auto *dialog = qobject_cast<QFileDialog *>(d);
              if (dialog == nullptr)
                  return reject(d);
              dialog->selectFile(exported);
              if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                  name->setText(QFileInfo(exported).fileName());
              static_cast<QDialog *>(dialog)->accept();
          }},
         {base + "-success.png", reject}});
    QFile::remove(exported);
    ok &= runWithDialogs(
        manager.visibleWindow(), trigger("showCertview"),
        {{base + "-viewer-general.png", [base, &ok](QWidget *d) {
              auto *tabs = d->findChild<QTabWidget *>();
              if (tabs != nullptr)
                  tabs->setCurrentIndex(1);
              settle();
              QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
              ok &= screen.copy(d->frameGeometry()).save(base + "-viewer-details.png", "PNG");
              reject(d);
          }}});
    manager.findChild<QAction *>(QStringLiteral("expertMode"))->trigger();
    show(certificate->parent());
    ok &= runWithDialogs(manager.visibleWindow(), trigger("deleteKey"),
                         {{base + "-delete-container.png", reject}});
    manager.findChild<QAction *>(QStringLiteral("expertMode"))->trigger();
    return ok && shootKeys(manager, tree, base);
}

// The key test of a container with an exchange key alone (the first key without a
// certificate), and the page of the last key's certificate, a large one.
bool shootKeys(CardManager &manager, QTreeWidget *tree, const QString &base)
{
    QTreeWidgetItem *card = tree->topLevelItem(0)->child(0);
    QTreeWidgetItem *exchangeOnly = nullptr, *large = nullptr;
    for (int k = 0; k < card->childCount(); ++k) {
        QTreeWidgetItem *key = card->child(k);
        if (key->childCount() == 0 && exchangeOnly == nullptr)
            exchangeOnly = key;
        if (key->childCount() > 0)
            large = key->child(0);
    }
    if (exchangeOnly == nullptr || large == nullptr) {
        std::printf("no key without certificate, or no certificate\n");
        return false;
    }
    show(tree, exchangeOnly);
    bool ok = runWithDialogs(manager.visibleWindow(), trigger(manager, "testKey"),
                             {{base + "-keytest-exchange.png", reject}});
    show(tree, large);
    return ok && shoot(manager.visibleWindow(), nullptr, base + "-page-largecert.png");
}

void writeControl(const QString &path, const QByteArray &line)
{
    QFile control(path);
    if (control.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) // a pipe: no seeking
        control.write(line + "\n");
}

// A wrong PIN at the refresh's prompt spends the last try while the PUK is blocked.
bool shootLastTry(CardManager &manager, const QString &base)
{
    auto wrongPin = [](QWidget *d) { typeAndAccept(d, QStringLiteral("000000")); };
    return runWithDialogs(manager.visibleWindow(), trigger(manager, "reload"),
                          {{QString(), wrongPin},
                           {base + "-pin-blocked.png", reject},
                           {base + "-notice-bothblocked.png", reject}});
}

// Two cards; the second one pulled out at its PIN prompt of a refresh: the load error,
// that reader's page, and the key test of the first card, which never left its reader.
bool shootTwoCards(CardManager &manager, QTreeWidget *tree, const QString &base,
                   const QString &control)
{
    auto typePin = [](QWidget *d) { typeAndAccept(d, QStringLiteral("123456")); };
    auto pullAndTypePin = [control, typePin](QWidget *d) {
        writeControl(control, "remove");
        settle(1500); // the module sees the card leave
        typePin(d);
    };
    bool ok = runWithDialogs(manager.visibleWindow(), trigger(manager, "reload"),
                             {{QString(), typePin},
                              {base + "-twocards-prompt.png", pullAndTypePin},
                              {base + "-twocards-loaderror.png", reject}});
    ok &= shoot(manager.visibleWindow(), nullptr, base + "-twocards-after.png");
    QTreeWidgetItem *second = tree->topLevelItem(1);
    QTreeWidgetItem *first = tree->topLevelItem(0);
    if (second == nullptr || first == nullptr || first->childCount() == 0 ||
        first->child(0)->childCount() == 0) {
        std::printf("the tree lacks the first card's keys or the second reader\n");
        return false;
    }
    show(tree, second);
    ok &= shoot(manager.visibleWindow(), nullptr, base + "-twocards-reader.png");
    show(tree, first->child(0)->child(0));
    ok &= runWithDialogs(manager.visibleWindow(), trigger(manager, "testKey"),
                         {{base + "-twocards-keytest.png", reject}});
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString scene = argc >= 5 ? QString::fromLatin1(argv[4]) : QString();
    const bool pageOnly = scene == "blocked" || scene == "bothblocked";
    if (!(argc == 4 || (argc == 5 && (pageOnly || scene == "lasttry")) ||
          (argc == 6 && scene == "twocards"))) {
        std::fprintf(stderr, "usage: cardadmin_shots <module> <output directory> <prefix> "
                             "[blocked|bothblocked|lasttry|twocards <control>]\n");
        return 2;
    }
    // the card's page to take alone: "cardblocked" or "cardbothblocked"
    const QString blockedPage = pageOnly ? scene : QString();
    const bool blocked = !scene.isEmpty();
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
    const QString base = out + "/" + prefix;
    if (scene == "lasttry")
        return shootLastTry(manager, base) ? 0 : 1;
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("tree"));
    if (scene == "twocards")
        return shootTwoCards(manager, tree, base, QString::fromLocal8Bit(argv[5])) ? 0 : 1;
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

    for (const auto &[kind, item] : itemsToShow(tree, blockedPage)) {
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
        answers.stop();
        ok &= shootOperations(manager, tree, out + "/" + prefix);
    }
    return ok ? 0 : 1;
}
