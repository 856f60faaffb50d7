// The window as a whole: construction and destruction, its place on the screen (its
// frame and title bar inside the free area), menus and actions, the item actions'
// switch, the progress wait with its input block, the tree's key filter, printing, and
// the small slots of the view and file menus.
#include "card_manager.h"

#include <QApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

#include "client/client_codes.h"
#include "language.h"
#include "page_view.h"
#include "slot_log.h"
#include "window_placement.h"

namespace
{

const char kWho[] = "CardManager";
const char kConstructor[] = "CardManager(QWidget *parent) : QMainWindow(parent)";
constexpr int kWindowWidth = 900;
constexpr int kWindowHeight = 1200;

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

CardManager::CardManager(QWidget *parent, const QString &modulePath)
    : QMainWindow(parent), pkcs11(new Pkcs11Manipulator())
{
    setUpGeometry();
    window.setWindowTitle(tr("Správce karty"));
    window.setWindowIcon(QIcon(QStringLiteral(":/icons/icon")));
    messageBox = new QMessageBox(this);
    progressNotice = new QMessageBox(this);
    progressNotice->setObjectName(QStringLiteral("progressNotice"));
    progressNotice->setModal(false);
    inputDialog = new QInputDialog(this);
    inputDialog->setInputMode(QInputDialog::TextInput);
    createActions();
    createWidgets();
    // the pages speak the language of the menus: Czech unless the program's
    // English catalogue is installed
    language =
        exitAct->text() == QStringLiteral("Konec") ? QStringLiteral("cz") : QStringLiteral("en");

    log(kConstructor, 1000);
    if (!loadModule(modulePath))
        return;
    initializeTree();
    initializeArea();
    tree->setContextMenuPolicy(Qt::NoContextMenu);
    suggestions = tr("<li><b>Nejsou přečtena data z karty. Vložte kartu do čtečky a stiskněte "
                     "<a href=\"reload\">obnovit.</b></a></li>");
    connect(tree, &QTreeWidget::itemPressed, this,
            [this](QTreeWidgetItem *item, int) { treeClicked(item); });
    tree->installEventFilter(this);
    log(kConstructor, 1001);
}

CardManager::~CardManager()
{
    log(QStringLiteral("~CardManager()"), 1000);
    std::puts("Closing application. Please wait");
    std::fflush(stdout);
    log(QStringLiteral("~CardManager()"), 1001);
    pkcs11.reset(); // finalises and unloads the module
    destroy();
}

void CardManager::log(const QString &what, unsigned long rv, const QString &info)
{
    pkcs11->logToFile(kWho, what, rv, info);
}

// 900 x 1200 centred on the primary screen, but never larger than the space the
// desktop leaves free; the minimum is two fifths of that space on each axis.
void CardManager::setUpGeometry()
{
    QRect free(0, 0, kWindowWidth, kWindowHeight);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        free = screen->availableGeometry();
    window.setMinimumSize(int(free.width() / 2.5), int(free.height() / 2.5));
    window.setGeometry(
        windowPlacement(free, defaultFrameMargins(), QSize(kWindowWidth, kWindowHeight)));
    window.installEventFilter(this); // keepFrameOnScreen once the window is framed
}

// The placement assumed a frame; the window manager's own may be taller. Once the
// shown window has its frame, a title bar above the free area moves the window down.
// Checked once only: later the user places the window.
void CardManager::keepFrameOnScreen()
{
    const QRect own = window.geometry();
    const QRect framed = frameOf();
    if (!window.isVisible() || framed == own || window.screen() == nullptr)
        return; // not framed yet (or never: no window manager)
    frameChecked = true;
    const QMargins frame = frameMargins(own, framed);
    const QRect free = window.screen()->availableGeometry();
    if (!frameInside(free, frame, own))
        window.setGeometry(windowPlacement(free, frame, QSize(kWindowWidth, kWindowHeight)));
}

void CardManager::createActions()
{
    auto make = [this](QAction *&action, const QString &text, const char *name,
                       void (CardManager::*slot)()) {
        action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        if (slot)
            connect(action, &QAction::triggered, this, slot);
    };
    make(versionAct, tr("English version"), "version", &CardManager::version);
    make(changePinAct, tr("Změna PIN..."), "changePin", &CardManager::changePin);
    make(changePukAct, tr("Změna PUK..."), "changePuk", &CardManager::changePuk);
    make(unblockPinAct, tr("Odblokování PIN..."), "unblockPin", &CardManager::unblockPin);
    make(showDiagAct, tr("Zobrazit diagnostiku"), "showDiag", &CardManager::showDiag);
    make(saveDiagAct, tr("Uložit diagnostiku..."), "saveDiag", &CardManager::saveDiag);
    make(printAct, tr("Tisk..."), "print", &CardManager::print);
    make(printSetupAct, tr("Nastavení tisku..."), "printSetup", &CardManager::printSetup);
    make(expertModeAct, tr("Expertní mód"), "expertMode", &CardManager::expertMode);
    make(exitAct, tr("Konec"), "exit", nullptr);
    printAct->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    expertModeAct->setCheckable(true);
    expertModeAct->setChecked(false);
    connect(exitAct, &QAction::triggered, qApp, &QCoreApplication::quit);
    fileMenu = menuBar()->addMenu(tr("Soubor"));
    fileMenu->addAction(versionAct);
    fileMenu->addSeparator();
    fileMenu->addActions({changePinAct, changePukAct, unblockPinAct});
    fileMenu->addSeparator();
    fileMenu->addActions({showDiagAct, saveDiagAct});
    fileMenu->addSeparator();
    fileMenu->addActions({printAct, printSetupAct});
    fileMenu->addSeparator();
    fileMenu->addActions({expertModeAct, exitAct});

    make(statusBarAct, tr("Stavový řádek"), "statusbarOnOff", &CardManager::statusbarOnOff);
    make(reloadAct, tr("Obnovit"), "reload", &CardManager::reload);
    statusBarAct->setCheckable(true);
    statusBarAct->setChecked(true);
    reloadAct->setShortcut(QKeySequence(QStringLiteral("F5")));
    viewMenu = menuBar()->addMenu(tr("Zobrazit"));
    viewMenu->addAction(statusBarAct);
    viewMenu->addSeparator();
    viewMenu->addAction(reloadAct);

    make(certInfoAct, tr("Více informací"), "showCertview", &CardManager::showCertview);
    make(exportCertAct, tr("Export do souboru..."), "exportCert", &CardManager::exportCert);
    make(importCertAct, tr("Import ze souboru..."), "importCert", &CardManager::importCert);
    make(deleteCertAct, tr("Smazat"), "deleteCert", &CardManager::deleteObject);
    certMenu = menuBar()->addMenu(tr("Certifikát"));
    certMenu->addAction(certInfoAct);
    certMenu->addSeparator();
    certMenu->addActions({exportCertAct, importCertAct});
    certMenu->addSeparator();
    certMenu->addAction(deleteCertAct);

    make(exportKeyAct, tr("Export klíče..."), "exportKey", &CardManager::exportKey);
    make(importKeyAct, tr("Import pfx..."), "importKey", &CardManager::importKey);
    make(testKeyAct, tr("Testovat"), "testKey", &CardManager::testKey);
    make(deleteKeyAct, tr("Smazat"), "deleteKey", &CardManager::deleteObject);
    keyMenu = menuBar()->addMenu(tr("Klíč"));
    keyMenu->addActions({exportKeyAct, importKeyAct, testKeyAct, deleteKeyAct});

    make(wizardAct, tr("Návrhy řešení"), "suggestSolutions", &CardManager::suggestSolutions);
    make(aboutAct, tr("O programu"), "about", &CardManager::about);
    helpMenu = menuBar()->addMenu(tr("Nápověda"));
    helpMenu->addAction(wizardAct);
    helpMenu->addSeparator();
    helpMenu->addAction(aboutAct);

    for (QMenu *menu : {fileMenu, viewMenu, keyMenu, certMenu, helpMenu})
        window.menuBar()->addMenu(menu);
    window.setStyleSheet(QStringLiteral(
        "QMainWindow, QWidget {background-color: #fcfcfc}                               "
        "QMenuBar {background-color: #fcfcfc; color: #4d4d4d;}                               "
        "QMenuBar::item {background:transparent}                               "
        "QMenuBar::item:selected {background-color: #4d4d4d; color: #fcfcfc;}"));
}

void CardManager::createWidgets()
{
    tree = new QTreeWidget;
    tree->setObjectName(QStringLiteral("tree"));
    tree->setHeaderHidden(true);
    webView = new PageView;
    webView->setObjectName(QStringLiteral("webView"));
    webView->setOpenLinks(false);
    webView->setOpenExternalLinks(false);
    auto *pageWidget = new QWidget(this);
    auto *pageLayout = new QVBoxLayout(pageWidget);
    pageLayout->addWidget(webView);
    auto *scroll = new QScrollArea;
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(pageWidget);
    auto *splitter = new QSplitter;
    splitter->addWidget(tree);
    splitter->addWidget(scroll);
    splitter->setStretchFactor(1, 4);
    int width = window.width();
    splitter->setSizes({int(width * 0.2), int(width * 0.8)});
    auto *central = new QWidget;
    auto *centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->addWidget(splitter);
    window.setCentralWidget(central);
    window.setStatusBar(new QStatusBar);
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    window.statusBar()->addWidget(statusLabel, 0);
    statusLabel->setText(tr("Hotovo"));
    printer = std::make_unique<QPrinter>(QPrinter::ScreenResolution);
}

bool CardManager::loadModule(const QString &modulePath)
{
    requestedModule = modulePath;
    loadResult = modulePath.isEmpty() ? pkcs11->LoadApi() : pkcs11->LoadApi(modulePath);
    if (loadResult == client_code::NO_MODULE) {
        std::puts("Unable to load library libvokralp11 (library not found)");
    } else if (loadResult != 0) {
        std::printf("Unable to initialise library libvokralp11 (C_Initialize returned 0x%x)\n",
                    unsigned(loadResult));
    } else {
        loaded = true;
        std::puts("Card manager for vOK smartcards is starting up\n"
                  "Wait till initial data about connected devices are loaded please\n");
    }
    std::fflush(stdout);
    return loaded;
}

void CardManager::showLoadFailure()
{
    QString module = requestedModule.isEmpty() ? QStringLiteral("libvokralp11") : requestedModule;
    if (loadResult == client_code::NO_MODULE) {
        showMessage(tr("Chyba"),
                    tr("<p align='center'>Knihovnu PKCS#11 %1 se nepodařilo načíst.")
                        .arg(module.toHtmlEscaped()),
                    QMessageBox::Critical,
                    tr("<p align='center'>Knihovna nebyla nalezena nebo ji nelze zavést."));
        return;
    }
    showMessage(tr("Chyba"),
                tr("<p align='center'>Knihovnu PKCS#11 %1 se nepodařilo inicializovat "
                   "(C_Initialize vrátila 0x%2).")
                    .arg(module.toHtmlEscaped(), QString::number(uint(loadResult), 16)),
                QMessageBox::Critical,
                tr("<p align='center'>Zkontrolujte, zda běží služba čipových karet PC/SC "
                   "(pcscd)."));
}

int CardManager::showMessage(const QString &title, const QString &text, QMessageBox::Icon icon,
                             const QString &informative)
{
    messageBox->setWindowTitle(title);
    messageBox->setText(text);
    messageBox->setInformativeText(informative);
    messageBox->setIcon(icon);
    messageBox->setStandardButtons(QMessageBox::Ok);
    return messageBox->exec();
}

void CardManager::menuAllows(const QList<int> &ids)
{
    const std::pair<int, QAction *> itemActions[] = {
        {0, changePinAct},  {1, changePukAct},  {2, unblockPinAct}, {6, certInfoAct},
        {7, exportCertAct}, {8, importCertAct}, {9, deleteCertAct}, {10, exportKeyAct},
        {11, importKeyAct}, {12, testKeyAct},   {13, deleteKeyAct},
    };
    for (const auto &[id, action] : itemActions) {
        bool allowed = ids.contains(id);
        action->setEnabled(allowed);
        if (allowed)
            tree->addAction(action);
        else
            tree->removeAction(action);
    }
}

// The card operations call this between their steps. The window repaints and the
// progress dialog answers, but clicks, keys and shortcuts meant for the window, its
// menus and its actions are dropped, and the window cannot be closed.
void CardManager::waitForProgress()
{
    SlotLog entry(*pkcs11, QStringLiteral("waitForProgress()"));
    if (busy++ == 0)
        qApp->installEventFilter(this);
    QEventLoop loop;
    QTimer::singleShot(progressDelay, &loop, &QEventLoop::quit);
    loop.exec();
    if (--busy == 0)
        qApp->removeEventFilter(this);
}

bool CardManager::blocksInput(QObject *obj, QEvent *event) const
{
    if (busy == 0)
        return false;
    if (event->type() == QEvent::Close && obj == &window) {
        event->ignore(); // a close event that is not delivered would count as accepted
        return true;
    }
    if (!isUserInput(event->type()))
        return false;
    if (auto *action = qobject_cast<QAction *>(obj))
        return action->parent() == this;
    auto *widget = qobject_cast<QWidget *>(obj);
    if (widget == nullptr)
        return false;
    QWidget *top = widget->window();
    return top == &window || qobject_cast<QMenu *>(top) != nullptr;
}

bool CardManager::eventFilter(QObject *obj, QEvent *event)
{
    if (blocksInput(obj, event))
        return true;
    if (obj == &window && !frameChecked &&
        (event->type() == QEvent::Paint || event->type() == QEvent::WindowActivate ||
         event->type() == QEvent::Move))
        keepFrameOnScreen(); // the frame is known by the first paint after mapping
    if (obj == tree && event->type() == QEvent::KeyPress)
        treeKeyDown = static_cast<QKeyEvent *>(event)->key();
    // only a key pressed in the tree: the release of one pressed elsewhere (the Enter
    // that closed a box) reaches the tree when the focus comes back to it
    if (obj == tree && event->type() == QEvent::KeyRelease && treeRelease(event)) {
        if (!readerNames.isEmpty()) {
            if (QTreeWidgetItem *item = tree->currentItem())
                treeClicked(item);
        } else {
            waitForProgress();
        }
    }
    return false;
}

bool CardManager::treeRelease(QEvent *event)
{
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != treeKeyDown)
        return false;
    if (!key->isAutoRepeat())
        treeKeyDown = 0;
    return true;
}

void CardManager::expertMode()
{
    SlotLog entry(*pkcs11, QStringLiteral("expertMode()"));
    if (tree->topLevelItemCount() > 0 && !tree->selectedItems().isEmpty() && tree->currentItem())
        treeClicked(tree->currentItem());
}

void CardManager::statusbarOnOff()
{
    QStatusBar *bar = window.statusBar();
    bar->setVisible(!bar->isVisible());
}

void CardManager::print()
{
    SlotLog entry(*pkcs11, QStringLiteral("print()"));
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() == QDialog::Accepted)
        webView->print(printer.get());
}

void CardManager::printSetup()
{
    SlotLog entry(*pkcs11, QStringLiteral("printSetup()"));
    QPageSetupDialog dialog(printer.get(), this);
    dialog.exec();
}

void CardManager::quit()
{
    log(QStringLiteral("quit()"), 1000);
    destroy();
}

void CardManager::checkPinLength(const QString &text)
{
    std::printf("%d\n", int(text.size()));
    std::fflush(stdout);
}

void CardManager::version()
{
    SlotLog entry(*pkcs11, QStringLiteral("version()"));
    QString path = languageConfigPath();
    if (!toggleLanguageSetting(path, QLocale())) {
        showMessage(tr("Chyba"),
                    tr("<p align='center'>Jazykovou verzi se nepodařilo změnit: soubor %1 "
                       "nelze zapsat.")
                        .arg(path.toHtmlEscaped()),
                    QMessageBox::Critical);
        return;
    }
    // in the window's language, and in the one just chosen beneath it
    showMessage(tr("Informace"),
                tr("<p align='center'>Změna jazykové verze se projeví po restartování "
                   "aplikace.</p><p align='center'>Language change will take place next time "
                   "you start this application."),
                QMessageBox::Information);
}
