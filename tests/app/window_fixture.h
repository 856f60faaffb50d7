// A card manager window for tests: a private home directory (so the language file is
// the test's own) and trace log, the program's English catalogue when asked for, the
// modal-dialog driver, and lookups of the window's parts by their object names.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTranslator>
#include <QTreeWidget>

#include <dlfcn.h>

#include <memory>

#include "card_manager.h"
#include "client_trace.h"
#include "modal_driver.h"

namespace app_test
{

// A path that names no file: the client refuses it before loading anything.
constexpr char kNoModule[] = "/nonexistent/libvokralp11.so";

struct WindowTest : ::testing::Test {
    std::string traceLog = client_test::UseOwnTraceLog();
    QTemporaryDir home;
    QByteArray savedHome = qgetenv("HOME");
    QTranslator english;
    bool englishInstalled = false;
    vok_qt::ModalDriver driver;
    std::unique_ptr<CardManager> manager;

    WindowTest()
    {
        qputenv("HOME", home.path().toLocal8Bit());
        // The module stays mapped after the window unloads it: it keeps a little
        // process-wide memory that only unloading would leave behind as a leak.
        dlopen(VOK_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    }
    ~WindowTest() override
    {
        manager.reset();
        if (englishInstalled)
            QCoreApplication::removeTranslator(&english);
        qputenv("HOME", savedHome);
        QFile::remove(QString::fromStdString(traceLog));
    }

    // The program's English texts for the windows made from now on.
    void useEnglish()
    {
        ASSERT_TRUE(english.load(":/translations/en"));
        QCoreApplication::installTranslator(&english);
        englishInstalled = true;
    }
    QString languageFile() const { return home.path() + "/.config/vtorix/cmvokral/config.cfg"; }
    void writeLanguage(const QByteArray &line)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(languageFile()).absolutePath()));
        QFile file(languageFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(line);
    }
    CardManager &open(const QString &module = kNoModule)
    {
        manager.reset(); // one window at a time: the module is initialised once a process
        manager = std::make_unique<CardManager>(nullptr, module);
        manager->setProgressDelay(0);
        return *manager;
    }
    // The window's lines of the trace log, without their time stamps.
    bool logged(const std::string &line)
    {
        return client_test::HasLine(client_test::TraceLines(traceLog), line);
    }
    QMainWindow &window() { return manager->visibleWindow(); }
    QAction *action(const char *name) { return manager->findChild<QAction *>(name); }
    QTextBrowser *page() { return window().findChild<QTextBrowser *>("webView"); }
    QTreeWidget *tree() { return window().findChild<QTreeWidget *>("tree"); }
    QLabel *status() { return window().findChild<QLabel *>("statusLabel"); }
};

} // namespace app_test
