// The window tests need a QApplication for the whole program; the offscreen
// platform needs no display.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class WidgetEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[24] = "test_client_window";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

const ::testing::Environment* const g_widgetEnvironment =
    ::testing::AddGlobalTestEnvironment(new WidgetEnvironment);

} // namespace
