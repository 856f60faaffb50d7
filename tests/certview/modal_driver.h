#ifndef VOK_TESTS_CERTVIEW_MODAL_DRIVER_H
#define VOK_TESTS_CERTVIEW_MODAL_DRIVER_H

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

// Drives the modal dialogs a test opens. A timer looks for the active modal
// widget; each one it finds goes to the next expected step, which must name
// its class. A modal widget that no step expects, or one of another class,
// fails the test and is closed. A watchdog ends the program when the driver
// lives longer than its limit, so a dialog that nobody closes cannot hang the
// test run.
class ModalDriver
{
  public:
    typedef std::function<void(QWidget *)> Action;

    explicit ModalDriver(std::chrono::seconds limit = std::chrono::seconds(30))
        : watchdog_([this, limit] { watch(limit); })
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(10);
    }

    ~ModalDriver()
    {
        timer_.stop();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_all();
        watchdog_.join();
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " expected modal dialog(s) never opened";
    }

    // The next modal widget must be a T (by its class name, so that a class
    // of the code under test needs no cast here); act then runs on it.
    template <class T> void expect(std::function<void(T *)> act)
    {
        char const *name = T::staticMetaObject.className();
        steps_.push_back({name, [act](QWidget *w) { act(static_cast<T *>(w)); }});
    }

  private:
    struct Step {
        std::string className;
        Action act;
    };

    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            handled_ = nullptr;
            return;
        }
        if (modal == handled_)
            return;
        handled_ = modal;
        std::string found = modal->metaObject()->className();
        if (steps_.empty() || steps_.front().className != found) {
            ADD_FAILURE() << "unexpected modal " << found << " \""
                          << modal->windowTitle().toStdString() << "\"";
            closeModal(modal);
            return;
        }
        Action act = steps_.front().act;
        steps_.pop_front();
        act(modal);
    }

    static void closeModal(QWidget *modal)
    {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }

    void watch(std::chrono::seconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: a modal dialog was not closed within %lld s\n",
                         (long long)limit.count());
            std::abort();
        }
    }

    QTimer timer_;
    std::deque<Step> steps_;
    QPointer<QWidget> handled_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread watchdog_;
};

#endif
