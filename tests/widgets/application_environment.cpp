// Window code needs a QApplication; the tests use the offscreen platform so
// that no display is needed. Registers itself with GoogleTest.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class ApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[24] = "brindle_widgets_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace
