// The window without a card service: menus and actions in both languages, the item
// actions' switch, the language toggle, the refused start, printing, and the input
// block while the window waits between the steps of an operation.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QTest>

#include "qt_print.h"
#include "start.h"
#include "window_placement.h"
#include "window_fixture.h"

using namespace app_test;

namespace
{

// A menu as "Title: item, item, -, item" with "-" for a separator.
QStringList menus(QMainWindow &window)
{
    QStringList shown;
    for (QAction *menu : window.menuBar()->actions()) {
        QStringList items;
        for (QAction *item : menu->menu()->actions())
            items << (item->isSeparator() ? QString("-") : item->text());
        shown << menu->text() + ": " + items.join(", ");
    }
    return shown;
}

} // namespace

TEST_F(WindowTest, MenusShowTheirActionsInOrderInBothLanguages)
{
    const QStringList czech = {
        "Soubor: English version, -, Změna PIN..., Změna PUK..., Odblokování PIN..., -, "
        "Zobrazit diagnostiku, Uložit diagnostiku..., -, Tisk..., Nastavení tisku..., -, "
        "Expertní mód, Konec",
        "Zobrazit: Stavový řádek, -, Obnovit",
        "Klíč: Export klíče..., Import pfx..., Testovat, Smazat",
        "Certifikát: Více informací, -, Export do souboru..., Import ze souboru..., -, Smazat",
        "Nápověda: Návrhy řešení, -, O programu",
    };
    const QStringList english = {
        "File: Czech version (Česká verze), -, PIN change..., PUK change..., PIN unblock..., -, "
        "Show diagnostics, Save diagnostics..., -, Print..., Print setup..., -, Expert mode, "
        "Exit",
        "View: Status bar, -, Refresh",
        "Key: Export key..., Import pfx..., Test, Delete",
        "Certificate: More information, -, Export to file..., Import from file..., -, Delete",
        "Help: Wizard, -, About",
    };
    open();
    EXPECT_EQ(menus(window()), czech);
    EXPECT_EQ(window().windowTitle(), "Správce karty");
    EXPECT_EQ(action("print")->shortcut(), QKeySequence("Ctrl+P"));
    EXPECT_EQ(action("reload")->shortcut(), QKeySequence("F5"));
    EXPECT_TRUE(action("expertMode")->isCheckable());
    EXPECT_FALSE(action("expertMode")->isChecked());
    EXPECT_TRUE(action("statusbarOnOff")->isChecked());
    EXPECT_EQ(status()->text(), "Hotovo");

    useEnglish();
    open();
    EXPECT_EQ(menus(window()), english);
    EXPECT_EQ(window().windowTitle(), "Card Manager");
    EXPECT_EQ(status()->text(), "Done");
}

TEST_F(WindowTest, MenuAllowsEnablesExactlyTheListedItemActions)
{
    const QStringList itemActions = {"changePin",  "changePuk",  "unblockPin", "showCertview",
                                     "exportCert", "importCert", "deleteCert", "exportKey",
                                     "importKey",  "testKey",    "deleteKey"};
    const QStringList otherActions = {
        "version",    "showDiag",         "saveDiag", "print",
        "printSetup", "expertMode",       "exit",     "statusbarOnOff",
        "reload",     "suggestSolutions", "about"};
    struct Row {
        QList<int> ids;
        QStringList enabled;
    };
    const Row rows[] = {
        {{0, 1, 2}, {"changePin", "changePuk", "unblockPin"}},
        {{12, 10, 13}, {"exportKey", "testKey", "deleteKey"}},
        {{3, 4, 5}, {}},
        {{6, 7, 9}, {"showCertview", "exportCert", "deleteCert"}},
        {{0, 1, 11}, {"changePin", "changePuk", "importKey"}},
        {{12, 10, 8}, {"importCert", "exportKey", "testKey"}},
        {{}, {}},
    };
    open();
    for (const Row &row : rows) {
        SCOPED_TRACE(row.enabled.join(",").toStdString());
        manager->menuAllows(row.ids);
        QStringList enabled;
        for (const QString &name : itemActions)
            if (action(name.toLatin1())->isEnabled())
                enabled << name;
        EXPECT_EQ(enabled, row.enabled);
        QStringList onTree;
        for (QAction *a : tree()->actions())
            onTree << a->objectName();
        onTree.sort();
        QStringList sorted = row.enabled;
        sorted.sort();
        EXPECT_EQ(onTree, sorted);
        for (const QString &name : otherActions)
            EXPECT_TRUE(action(name.toLatin1())->isEnabled()) << name.toStdString();
    }
}

// Placed before it is shown, with the frame assumed; once shown, with the frame the
// window manager drew (measured, given by the test: offscreen no window gets one): a
// frame that sticks out of the free area places the window again, frame and title bar
// inside; one that fits leaves the window where it is.
TEST_F(WindowTest, WindowAndTheFrameItWillGetFitTheScreensFreeSpace)
{
    open();
    QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    // not shown yet: the frame is the assumed one
    QRect own = window().geometry();
    const QMargins frame = defaultFrameMargins();
    EXPECT_TRUE(free.contains(own.marginsAdded(frame)));
    EXPECT_EQ(own, windowPlacement(free, frame, QSize(900, 1200)));
    EXPECT_EQ(window().minimumSize(), QSize(int(free.width() / 2.5), int(free.height() / 2.5)));

    const struct {
        const char *what;
        QMargins measured;
        bool placedAgain;
    } rows[] = {
        {"a thinner frame fits: the window stays", {1, 20, 1, 5}, false},
        {"a taller title bar sticks out above", {8, 60, 8, 8}, true},
        {"wider borders stick out at the sides", {40, 36, 40, 8}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        open();
        own = window().geometry();
        ASSERT_EQ(free.contains(own.marginsAdded(row.measured)), !row.placedAgain)
            << "where the assumed frame placed the window";
        int measured = 0;
        manager->setFrameSource([&] {
            ++measured;
            return window().geometry().marginsAdded(row.measured);
        });
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        for (int i = 0; i < 100 && measured == 0; ++i)
            QTest::qWait(10);
        ASSERT_GT(measured, 0) << "the shown window's frame was never looked at";
        QCoreApplication::processEvents();
        const QRect placed = window().geometry();
        EXPECT_TRUE(free.contains(placed.marginsAdded(row.measured)))
            << ::testing::PrintToString(placed) << " framed by "
            << ::testing::PrintToString(row.measured);
        EXPECT_EQ(placed,
                  row.placedAgain ? windowPlacement(free, row.measured, QSize(900, 1200)) : own);
    }
}

TEST_F(WindowTest, LanguageToggleWritesTheFileAndSaysSoInBothLanguages)
{
    // the window's language first, the chosen one beneath it
    struct Row {
        bool english;
        const char *before, *after;
        const char *title, *text;
    };
    const Row rows[] = {
        {false, "LANG: 0", "LANG: 1", "Informace",
         "<p align='center'>Změna jazykové verze se projeví po restartování aplikace.</p><p "
         "align='center'>Language change will take place next time you start this application."},
        {true, "LANG: 1", "LANG: 0", "Information",
         "<p align='center'>Language change will take place next time you start this "
         "application.</p><p align='center'>Změna jazykové verze se projeví po restartování "
         "aplikace."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.before);
        if (row.english)
            useEnglish();
        open();
        writeLanguage(row.before);
        driver.pressButton();
        action("version")->trigger();
        QFile file(languageFile());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), row.after);
        ASSERT_FALSE(driver.seen().isEmpty());
        EXPECT_EQ(driver.seen().last().title, QString::fromUtf8(row.title));
        EXPECT_EQ(driver.seen().last().text, QString::fromUtf8(row.text));
        EXPECT_EQ(driver.seen().last().icon, QMessageBox::Information);
    }
}

TEST_F(WindowTest, LanguageToggleThatCannotWriteSaysSo)
{
    ASSERT_TRUE(QDir().mkpath(languageFile())); // a directory where the file belongs
    open();
    driver.pressButton();
    action("version")->trigger();
    ASSERT_EQ(driver.seen().size(), 1);
    EXPECT_EQ(driver.seen()[0].title, "Chyba");
    EXPECT_EQ(driver.seen()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(driver.seen()[0].text.contains(languageFile()));
}

TEST_F(WindowTest, MissingModuleGivesAnErrorBoxAndAFailedExit)
{
    struct Row {
        bool english;
        const char *title, *text;
    };
    const Row rows[] = {
        {false, "Chyba",
         "<p align='center'>Knihovnu PKCS#11 /nonexistent/libvokralp11.so se "
         "nepodařilo načíst."},
        {true, "Error",
         "<p align='center'>The PKCS#11 library /nonexistent/libvokralp11.so could not be "
         "loaded."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.title);
        writeLanguage(row.english ? "LANG: 1" : "LANG: 0");
        driver.pressButton();
        EXPECT_EQ(runCardManager(kNoModule), 1);
        ASSERT_FALSE(driver.seen().isEmpty());
        EXPECT_EQ(driver.seen().last().title, QString::fromUtf8(row.title));
        EXPECT_EQ(driver.seen().last().text, QString::fromUtf8(row.text));
        EXPECT_EQ(driver.seen().last().icon, QMessageBox::Critical);
    }
}

TEST_F(WindowTest, ModuleThatCannotInitialiseGivesAnErrorBoxAndAFailedExit)
{
    // The module's C_Initialize fails when the card service cannot be reached.
    writeLanguage("LANG: 0");
    qputenv("PCSCLITE_CSOCK_NAME", QFile::encodeName(home.path() + "/no-pcscd.comm"));
    driver.pressButton();
    EXPECT_EQ(runCardManager(VOK_MODULE), 1);
    qunsetenv("PCSCLITE_CSOCK_NAME");
    ASSERT_EQ(driver.seen().size(), 1);
    EXPECT_EQ(driver.seen()[0].title, "Chyba");
    EXPECT_TRUE(driver.seen()[0].text.contains("C_Initialize vrátila 0x"))
        << driver.seen()[0].text.toStdString();
    EXPECT_TRUE(driver.seen()[0].informative.contains("pcscd"));
}

TEST_F(WindowTest, WelcomePageWithoutReadersCarriesTheNotice)
{
    struct Row {
        bool english;
        const char *notice;
    };
    for (const Row &row : {Row{false, "Nebyla nalezena čtečka čipových karet."},
                           Row{true, "No smart card reader found."}}) {
        SCOPED_TRACE(row.notice);
        if (row.english)
            useEnglish();
        open();
        manager->initializeArea();
        EXPECT_TRUE(page()->toPlainText().contains(QString::fromUtf8(row.notice)));
        EXPECT_TRUE(page()->toPlainText().contains(row.english ? "Card Manager" : "Správce karty"));
    }
}

TEST_F(WindowTest, StatusBarActionFlipsTheBarEachTime)
{
    open();
    window().show();
    for (bool visible : {false, true, false}) {
        action("statusbarOnOff")->trigger();
        EXPECT_EQ(window().statusBar()->isVisible(), visible);
    }
}

TEST_F(WindowTest, ClipboardLinkCopiesTheReportAndSaysSo)
{
    open();
    manager->initializeArea();
    QGuiApplication::clipboard()->setText("before");
    driver.pressButton();
    emit page()->anchorClicked(QUrl("toClipboard"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), ""); // no report made yet
    ASSERT_EQ(driver.seen().size(), 1);
    EXPECT_EQ(driver.seen()[0].title, "Úspěch");
    EXPECT_EQ(driver.seen()[0].text, "Diagnostické informace byly úspěšně uloženy do schránky.");
}

TEST_F(WindowTest, PrintWritesThePageOnlyWhenTheDialogIsAccepted)
{
    open();
    manager->initializeArea();
    QString pdf = home.path() + "/page.pdf";
    auto toPdf = [pdf](bool accept) {
        return [pdf, accept](QWidget *widget) {
            auto *dialog = qobject_cast<QPrintDialog *>(widget);
            ASSERT_NE(dialog, nullptr);
            dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
            dialog->printer()->setOutputFileName(pdf);
            dialog->done(accept ? QDialog::Accepted : QDialog::Rejected);
        };
    };
    driver.expect("QPrintDialog", toPdf(false));
    action("print")->trigger();
    EXPECT_FALSE(QFile::exists(pdf));
    driver.expect("QPrintDialog", toPdf(true));
    action("print")->trigger();
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    EXPECT_GT(file.size(), 1000);
}

TEST_F(WindowTest, WaitForProgressRefusesInputToTheWindow)
{
    open();
    manager->initializeArea();
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    manager->setProgressDelay(200);
    QTimer::singleShot(20, [this] {
        QTest::keyClick(&window(), Qt::Key_P, Qt::ControlModifier); // print dialog: refused
        window().close();                                           // refused too
    });
    manager->waitForProgress();
    EXPECT_TRUE(window().isVisible());

    // the same key opens the print dialog once the wait is over
    driver.cancel("QPrintDialog");
    QTest::keyClick(&window(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(driver.finished());
}

TEST_F(WindowTest, WithoutReadersTheReloadSaysSoAndTheReportHasNoReaderDetails)
{
    open();
    manager->setProgressDelay(0);
    action("showDiag")->trigger();
    QString report = page()->toPlainText();
    EXPECT_TRUE(report.contains("No working PC/SC reader found!\nUpdate not called by the user\n"));
    EXPECT_TRUE(report.contains("TechInfo: pkcs#11 library path: unknown\n"));
    EXPECT_TRUE(report.contains("TechInfo: pkcs#11 library version: unknown\n"));
    EXPECT_FALSE(report.contains("READER DETAILS"));
    EXPECT_TRUE(report.contains("TechInfo: Log file: " + QString::fromStdString(traceLog) +
                                "\nDiagnostic info ended"))
        << report.toStdString();

    action("reload")->trigger(); // no reader: no division by the number of cards
    EXPECT_TRUE(page()->toPlainText().contains("Nebyla nalezena žádná čtečka čipových karet"));
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
    action("showDiag")->trigger();
    EXPECT_FALSE(page()->toPlainText().contains("Update not called by the user"));
}
