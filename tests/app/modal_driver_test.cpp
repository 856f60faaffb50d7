// The modal-dialog driver of the Qt tests: each kind of step reaches its dialog, and
// a dialog that no step expects fails the test and is closed.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QInputDialog>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "modal_driver.h"

using vok_qt::ModalDriver;

TEST(ModalDriver, EachStepActsOnItsDialog)
{
    QTemporaryDir dir;
    struct Row {
        const char *name;
        std::function<void(ModalDriver &)> step;
        std::function<QString()> open; // runs the dialog, returns what it gave
        const char *expected;
    };
    const Row rows[] = {
        {"message box button", [](ModalDriver &d) { d.pressButton(QMessageBox::No); },
         [] {
             QMessageBox box(QMessageBox::Question, "Q", "Sure?",
                             QMessageBox::Yes | QMessageBox::No);
             return QString::number(box.exec() == QMessageBox::No);
         },
         "1"},
        {"text entered", [](ModalDriver &d) { d.enterText("12345"); },
         [] {
             QInputDialog input;
             int result = input.exec();
             return QString::number(result) + ":" + input.textValue();
         },
         "1:12345"},
        {"input cancelled", [](ModalDriver &d) { d.cancel("QInputDialog"); },
         [] {
             QInputDialog input;
             return QString::number(input.exec());
         },
         "0"},
        {"file chosen", [&](ModalDriver &d) { d.chooseFile(dir.path() + "/out.cer"); },
         [&] {
             QFileDialog files(nullptr, "Save", dir.path());
             files.setAcceptMode(QFileDialog::AcceptSave);
             int result = files.exec();
             return QString::number(result) + ":" + files.selectedFiles().value(0);
         },
         "1:OUT"},
        {"progress cancelled", [](ModalDriver &d) { d.cancelProgress(); },
         [] {
             QProgressDialog progress("Loading", "Cancel", 0, 100);
             progress.show();
             bool cancelled = QTest::qWaitFor([&] { return progress.wasCanceled(); }, 5000);
             return QString::number(cancelled);
         },
         "1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ModalDriver driver;
        row.step(driver);
        QString expected = QString::fromUtf8(row.expected).replace("OUT", dir.path() + "/out.cer");
        EXPECT_EQ(row.open(), expected);
        EXPECT_TRUE(driver.finished());
        ASSERT_EQ(driver.seen().size(), 1);
    }
}

TEST(ModalDriver, UnexpectedDialogFailsTheTestAndIsClosed)
{
    int result = -1;
    EXPECT_NONFATAL_FAILURE(
        {
            ModalDriver driver;
            QMessageBox box(QMessageBox::Warning, "Surprise", "Not expected", QMessageBox::Ok);
            result = box.exec();
        },
        "unexpected QMessageBox \"Surprise\"");
    EXPECT_NE(result, QMessageBox::Ok);
}

TEST(ModalDriver, ExpectedDialogNeverShownFailsTheTest)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ModalDriver driver;
            driver.pressButton();
        },
        "an expected QMessageBox was never shown");
}
