// Text drawing with QPainter needs a QGuiApplication, and widgets need a
// QApplication, for the whole test program; the tests use the offscreen
// platform so that no display is needed. Built twice as object libraries
// (with BRINDLE_TEST_WIDGETS for the QApplication): nothing refers to this
// file, it only registers itself.
#ifdef BRINDLE_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = std::make_unique<TestApplication>(argc_, argv_);
        // Tests close windows one after another; the last one must not end
        // the application under the next test.
        TestApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[16] = "brindle_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<TestApplication> app_;
};

const ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
