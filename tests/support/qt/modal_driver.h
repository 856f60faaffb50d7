// Drives the modal dialogs that code under test opens, for Qt tests that run
// offscreen (QT_QPA_PLATFORM=offscreen) inside GoogleTest.
//
// A test lists the dialogs it expects, in order, each with what to do with it: press
// a message box button, type into an input dialog, pick a file, cancel. A timer looks
// for the active modal widget (or, for a step that expects one, a visible dialog of
// that class such as a progress dialog), records what it shows and acts on it. A
// dialog that no step expects fails the test and is closed, so the code under test
// goes on; steps still waiting when the driver ends fail the test too. A watchdog
// thread ends the test program when the driver lives longer than its limit, so a
// hung dialog or a blocked call never stalls the test run.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "qt_print.h"

class QTimer;

namespace vok_qt
{

// What a dialog showed when the driver met it.
struct SeenDialog {
    QString className;   // e.g. "QMessageBox"
    QString title;       // window title
    QString text;        // message box text, input or progress dialog label
    QString informative; // message box informative text
    int icon = 0;        // message box icon (QMessageBox::Icon)
};

class ModalDriver : public QObject
{
  public:
    using Action = std::function<void(QWidget *)>;

    explicit ModalDriver(std::chrono::seconds watchdog = std::chrono::seconds(60));
    ~ModalDriver() override;
    ModalDriver(const ModalDriver &) = delete;
    ModalDriver &operator=(const ModalDriver &) = delete;

    // Expects the next dialog to inherit the class and runs the action on it.
    ModalDriver &expect(const char *className, Action action);
    // The same for a dialog class the test knows: the action gets the dialog as one.
    template <typename Dialog> ModalDriver &expect(std::function<void(Dialog *)> action)
    {
        return expect(Dialog::staticMetaObject.className(), [action](QWidget *widget) {
            action(qobject_cast<Dialog *>(widget));
        });
    }
    // A message box: presses the button.
    ModalDriver &pressButton(QMessageBox::StandardButton button = QMessageBox::Ok);
    // An input dialog: enters the text and accepts.
    ModalDriver &enterText(const QString &text);
    // A file dialog: chooses the file and accepts.
    ModalDriver &chooseFile(const QString &path);
    // A progress dialog: presses its cancel button.
    ModalDriver &cancelProgress();
    // Any dialog of the class: rejects it (Cancel or Escape).
    ModalDriver &cancel(const char *className);
    // Never meets a widget of this object name, such as a notice that is shown without
    // waiting and closes by itself.
    ModalDriver &passOver(const QString &objectName);

    // The dialogs met so far, expected or not, in order.
    const QList<SeenDialog> &seen() const { return met; }
    // True when every expected dialog has been met.
    bool finished() const { return steps.empty(); }

  private:
    struct Step {
        QByteArray className;
        Action action;
    };

    bool eventFilter(QObject *watched, QEvent *event) override;
    void poll();
    QWidget *candidate() const;
    void record(QWidget *dialog);
    void watch(std::chrono::seconds limit);

    std::deque<Step> steps;
    QList<SeenDialog> met;
    QStringList passedOver;
    QPointer<QWidget> current; // acted on and still shown
    QTimer *timer;

    std::mutex lock;
    std::condition_variable wake;
    bool ending = false;
    std::thread watchdog;
};

} // namespace vok_qt
