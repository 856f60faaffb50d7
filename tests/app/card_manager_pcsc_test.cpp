// The window over the real card service with the virtual readers (no card in them):
// the program starts and ends, the welcome page's link reaches reload, and link texts
// that are not exactly a command run nothing.
#include <QApplication>
#include <QTextBlock>
#include <QTimer>
#include <QtTest/QTest>

#include "start.h"
#include "window_fixture.h"

using namespace app_test;

namespace
{

const QStringList kReaders = {"Virtual PCD 00 00", "Virtual PCD 00 01"};

QStringList topLevelTexts(QTreeWidget *tree)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        texts << tree->topLevelItem(i)->text(0);
    return texts;
}

// Clicks the first link of the page that leads to href, as a user would.
bool clickLink(QTextBrowser *view, const QString &href)
{
    for (QTextBlock b = view->document()->begin(); b.isValid(); b = b.next()) {
        for (auto f = b.begin(); !f.atEnd(); ++f) {
            QTextFragment fragment = f.fragment();
            if (fragment.charFormat().anchorHref() != href)
                continue;
            QTextCursor cursor(view->document());
            cursor.setPosition(fragment.position());
            view->setTextCursor(cursor);
            view->ensureCursorVisible();
            QPoint at = view->cursorRect(cursor).center() + QPoint(4, 0);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            return true;
        }
    }
    return false;
}

} // namespace

TEST_F(WindowTest, ProgramStartsWithTheReadersAndEndsWhenItsWindowCloses)
{
    QMainWindow *shown = nullptr;
    QStringList readers;
    QString welcome, status;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<QMainWindow *>(widget); window && window->isVisible())
                shown = window;
        if (shown == nullptr)
            return;
        look.stop();
        readers = topLevelTexts(shown->findChild<QTreeWidget *>("tree"));
        welcome = shown->findChild<QTextBrowser *>("webView")->toPlainText();
        status = shown->findChild<QLabel *>("statusLabel")->text();
        shown->close();
    });
    look.start(20);
    writeLanguage("LANG: 0");
    EXPECT_EQ(runCardManager(VOK_MODULE), 0);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(readers, kReaders);
    EXPECT_TRUE(welcome.contains("Správce karty"));
    EXPECT_FALSE(welcome.contains("Nebyla nalezena čtečka"));
    EXPECT_EQ(status, "Hotovo");
}

TEST_F(WindowTest, ClickedReloadLinkReachesReload)
{
    for (bool english : {false, true}) {
        SCOPED_TRACE(english ? "en" : "cz");
        if (english)
            useEnglish();
        open(VOK_MODULE);
        ASSERT_TRUE(manager->isLoaded());
        window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        tree()->clear();
        ASSERT_TRUE(clickLink(page(), "reload"));
        // reload rebuilds the tree and ends on the wizard page
        EXPECT_EQ(topLevelTexts(tree()), kReaders);
        EXPECT_TRUE(page()->toPlainText().contains(english ? "Wizard" : "Průvodce"));
    }
}

TEST_F(WindowTest, LinkTextsThatAreNotExactlyACommandRunNothing)
{
    open(VOK_MODULE);
    ASSERT_TRUE(manager->isLoaded());
    QString welcome = page()->toPlainText();
    for (const char *link : {"reload?now", "reload#top", "Reload", " reload", "reload/",
                             "qrc:reload", "changePin2", ""}) {
        SCOPED_TRACE(link);
        emit page()->anchorClicked(QUrl(link));
        EXPECT_EQ(page()->toPlainText(), welcome);
        EXPECT_TRUE(logged("CardManager: activatedLink(" + std::string(link) + ") finished;"));
    }
    EXPECT_FALSE(logged("CardManager: reload() entered;"));
}

TEST_F(WindowTest, KeyReleaseInTheTreeShowsTheCurrentItem)
{
    open(VOK_MODULE);
    ASSERT_TRUE(manager->isLoaded());
    tree()->setCurrentItem(tree()->topLevelItem(1));
    QTest::keyPress(tree(), Qt::Key_Down);
    tree()->setCurrentItem(tree()->topLevelItem(1)); // wherever the key moved it
    QTest::keyRelease(tree(), Qt::Key_Down);
    EXPECT_TRUE(logged(
        "CardManager: treeClicked(QTreeWidgetItem *item) entered (More info: item=READER);"));
    EXPECT_TRUE(page()->toPlainText().contains(tree()->topLevelItem(1)->text(0)));
    EXPECT_FALSE(logged("CardManager: waitForProgress() entered;"));

    // a key pressed elsewhere, such as the Enter that closed a box, is released over
    // the tree once the box is gone: the page the user was reading stays
    action("showDiag")->trigger();
    const QString report = page()->toPlainText();
    QTest::keyRelease(tree(), Qt::Key_Return);
    EXPECT_EQ(page()->toPlainText(), report);
}
