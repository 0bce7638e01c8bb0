// One QApplication for the whole test program, on Qt's offscreen platform:
// the real widgets, without a display.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

namespace {

class QtApplication : public testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The dialogs are Qt's own, the same on every desktop.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[14] = "settings_test";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

[[maybe_unused]] testing::Environment* const kQtApplication = testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
