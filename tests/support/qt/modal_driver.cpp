#include "modal_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace vok_qt
{

namespace
{

constexpr int kPollMs = 10;

template <typename Dialog> Dialog *as(QWidget *widget)
{
    auto *dialog = qobject_cast<Dialog *>(widget);
    if (dialog == nullptr)
        ADD_FAILURE() << "expected a " << Dialog::staticMetaObject.className() << ", met a "
                      << widget->metaObject()->className();
    return dialog;
}

void close(QWidget *widget)
{
    if (auto *dialog = qobject_cast<QDialog *>(widget))
        dialog->reject();
    else
        widget->close();
}

} // namespace

ModalDriver::ModalDriver(std::chrono::seconds limit) : timer(new QTimer(this))
{
    watchdog = std::thread([this, limit] { watch(limit); });
    connect(timer, &QTimer::timeout, this, &ModalDriver::poll);
    timer->start(kPollMs);
}

ModalDriver::~ModalDriver()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        ending = true;
    }
    wake.notify_all();
    watchdog.join();
    for (const Step &step : steps)
        ADD_FAILURE() << "an expected " << step.className.constData() << " was never shown";
}

void ModalDriver::watch(std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> guard(lock);
    if (wake.wait_for(guard, limit, [this] { return ending; }))
        return;
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "watchdog: %s.%s still runs after %lld s; ending the test program\n",
                 test ? test->test_suite_name() : "?", test ? test->name() : "?",
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(124);
}

ModalDriver &ModalDriver::expect(const char *className, Action action)
{
    steps.push_back({QByteArray(className), std::move(action)});
    return *this;
}

ModalDriver &ModalDriver::pressButton(QMessageBox::StandardButton button)
{
    return expect("QMessageBox", [button](QWidget *widget) {
        if (auto *box = as<QMessageBox>(widget)) {
            QAbstractButton *pressed = box->button(button);
            if (pressed != nullptr) {
                pressed->click();
            } else {
                ADD_FAILURE() << "the message box has no such button";
                box->reject();
            }
        }
    });
}

ModalDriver &ModalDriver::enterText(const QString &text)
{
    return expect("QInputDialog", [text](QWidget *widget) {
        if (auto *dialog = as<QInputDialog>(widget)) {
            dialog->setTextValue(text);
            dialog->accept();
        }
    });
}

ModalDriver &ModalDriver::chooseFile(const QString &path)
{
    return expect("QFileDialog", [path](QWidget *widget) {
        if (auto *dialog = as<QFileDialog>(widget)) {
            // the dialog leaves the name in its line edit alone while that has the focus
            if (QWidget *focused = dialog->focusWidget())
                focused->clearFocus();
            dialog->selectFile(path);
            // selectFile leaves the name field alone while it has the focus, which a
            // dialog shown right after another one may have already
            const QFileInfo file(path);
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                name != nullptr && file.absolutePath() == dialog->directory().absolutePath())
                name->setText(file.fileName());
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own is protected
        }
    });
}

ModalDriver &ModalDriver::cancelProgress()
{
    return expect("QProgressDialog", [](QWidget *widget) {
        if (auto *dialog = as<QProgressDialog>(widget))
            dialog->cancel();
    });
}

ModalDriver &ModalDriver::cancel(const char *className)
{
    return expect(className, [](QWidget *widget) { close(widget); });
}

ModalDriver &ModalDriver::passOver(const QString &objectName)
{
    passedOver << objectName;
    return *this;
}

// The active modal widget; without one, a shown widget of the class the next step
// expects (a progress dialog need not be modal).
QWidget *ModalDriver::candidate() const
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal != nullptr && !passedOver.contains(modal->objectName()))
        return modal;
    if (steps.empty())
        return nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && widget->inherits(steps.front().className.constData()) &&
            !passedOver.contains(widget->objectName()))
            return widget;
    return nullptr;
}

void ModalDriver::record(QWidget *dialog)
{
    SeenDialog seen;
    seen.className = QString::fromLatin1(dialog->metaObject()->className());
    seen.title = dialog->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        seen.text = box->text();
        seen.informative = box->informativeText();
        seen.icon = box->icon();
    } else if (auto *input = qobject_cast<QInputDialog *>(dialog)) {
        seen.text = input->labelText();
    } else if (auto *progress = qobject_cast<QProgressDialog *>(dialog)) {
        seen.text = progress->labelText();
    }
    met.append(seen);
}

void ModalDriver::poll()
{
    QWidget *dialog = candidate();
    if (dialog == nullptr || dialog == current)
        return;
    record(dialog);
    if (steps.empty() || !dialog->inherits(steps.front().className.constData())) {
        ADD_FAILURE() << "unexpected " << dialog->metaObject()->className() << " \""
                      << met.last().title.toStdString() << "\": " << met.last().text.toStdString();
        close(dialog);
    } else {
        Step step = std::move(steps.front());
        steps.pop_front();
        step.action(dialog);
    }
    // A dialog the action left open is not met again until it has been hidden.
    if (dialog->isVisible()) {
        current = dialog;
        dialog->installEventFilter(this);
    }
}

bool ModalDriver::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == current && event->type() == QEvent::Hide) {
        watched->removeEventFilter(this);
        current = nullptr;
    }
    return false;
}

} // namespace vok_qt
