#ifndef VOK_TESTS_CERTVIEW_QT_TEST_APP_H
#define VOK_TESTS_CERTVIEW_QT_TEST_APP_H

#include <memory>
#include <ostream>

#include <QApplication>
#include <QString>

#include <gtest/gtest.h>

// Every test program of this directory runs offscreen with one QApplication,
// made before the first test and destroyed after the last. Include this
// header in exactly one file of a program.
class QtTestApp : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "certview_test";
        static char *argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

// Failures show texts as texts.
inline void PrintTo(QString const &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline ::testing::Environment *const qtTestApp = ::testing::AddGlobalTestEnvironment(new QtTestApp);

#endif
