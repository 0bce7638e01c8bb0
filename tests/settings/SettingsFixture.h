#pragma once

// A settings window on the real store of a fresh home past its first run, with dialogs the test answers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <memory>

#include "ColorSwatch.h"
#include "StoreProbe.h"
#include "TempHome.h"
#include "frmSettings.h"

namespace kvtest {

using Names = std::vector<std::string>;

// One QApplication for the test program: offscreen, with Qt's own dialogs (the same on every desktop).
class QtApplication : public testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[14] = "settings_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
inline testing::Environment* const kQtApplication = testing::AddGlobalTestEnvironment(new QtApplication);

class SettingsWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    data_ = home_.DataFolder();
    StoreSetting("Path", data_.string());
    StoreSetting("FirstTime", "1");  // so that no background is selected behind the test's back
  }
  void TearDown() override {
    window_.reset();
    QApplication::processEvents();
  }

  void AddBackground(const std::string& name) { WriteFile(data_ / "Backgrounds" / (name + ".bmp"), ""); }
  void AddQuotesFile(const std::string& name) { WriteFile(data_ / "files" / (name + ".txt"), "A quote.\n"); }

  kv::settings::SettingsDialogs Dialogs() {
    kv::settings::SettingsDialogs dialogs;
    dialogs.chooseColor = [this](const QColor& initial, QWidget*) {
      offeredColors_.push_back(initial);
      if (answers_.empty()) return QColor();
      QColor answer = answers_.front();
      answers_.pop_front();
      return answer;
    };
    dialogs.warn = [this](QWidget*, const QString&, const QString& text) { warnings_.push_back(text.toStdString()); };
    return dialogs;
  }
  // Opens the window with `dialogs`, loaded with `strings` or else the program's own string table.
  kv::Status Open(kv::settings::SettingsDialogs dialogs, std::optional<kv::Result<kv::settings::StringTable>> strings = {}) {
    window_ = std::make_unique<kv::settings::frmSettings>(std::move(dialogs));
    kv::Status loaded = strings ? window_->Load(*strings) : window_->Load();
    window_->show();
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return loaded;
  }
  kv::Status Open() { return Open(Dialogs()); }
  void OpenCleanly() {
    kv::Status loaded = Open();
    ASSERT_TRUE(loaded) << loaded.error().message;
  }

  template <class T>
  T* Find(const char* name) {
    T* found = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no control " << name;
    return found;
  }
  QComboBox* List(const char* name) { return Find<QComboBox>(name); }
  QListWidget* CheckList(const char* name) { return Find<QListWidget>(name); }
  QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
  QCheckBox* Box(const char* name) { return Find<QCheckBox>(name); }
  kv::settings::ColorSwatch* Swatch(const char* name) { return Find<kv::settings::ColorSwatch>(name); }
  bool ApplyEnabled() { return Button("cmdApply")->isEnabled(); }
  // The usable service buttons, as "Start" or "Stop Pause".
  std::string ServiceButtons() {
    std::string usable;
    for (std::string name : {"Start", "Stop", "Pause", "Resume"}) {
      if (Button(("cmd" + name).c_str())->isEnabled()) usable += (usable.empty() ? "" : " ") + name;
    }
    return usable;
  }
  void ShowPage(int page) { List("cboVarious")->setCurrentIndex(page); }
  // Gives `control` the focus and then moves it on, as the Tab key does.
  void Visit(QWidget* control) {
    control->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(control->hasFocus()) << control->objectName().toStdString() << " takes no focus";
    Button("cmdCancel")->setFocus(Qt::TabFocusReason);
  }
  void Pick(QComboBox* list, int index) {
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentIndex(index);
    Button("cmdCancel")->setFocus(Qt::TabFocusReason);
  }
  void SetChecked(QListWidget* l, int row, bool on) { l->item(row)->setCheckState(on ? Qt::Checked : Qt::Unchecked); }
  static Names Texts(const QListWidget* list, bool onlyChecked = false) {
    Names texts;
    for (int row = 0; row < list->count(); ++row)
      if (!onlyChecked || list->item(row)->checkState() == Qt::Checked)
        texts.push_back(list->item(row)->text().toStdString());
    return texts;
  }
  static Names Checked(const QListWidget* list) { return Texts(list, true); }
  static Names Items(const QComboBox* list) {
    Names texts;
    for (int i = 0; i < list->count(); ++i) texts.push_back(list->itemText(i).toStdString());
    return texts;
  }
  static void StoreList(const std::string& stem, const Names& names) {
    for (size_t i = 0; i < names.size(); ++i) StoreSetting(stem + std::to_string(i), names[i]);
  }
  // The numbered list as the store holds it, up to the first missing value.
  static Names StoredList(const std::string& stem) {
    Names names;
    for (int i = 0;; ++i) {
      auto value = StoredSetting(stem + std::to_string(i));
      if (!value) return names;
      names.push_back(*value);
    }
  }

  TempHome home_;
  std::filesystem::path data_;
  std::unique_ptr<kv::settings::frmSettings> window_;
  std::deque<QColor> answers_;
  std::vector<QColor> offeredColors_;
  Names warnings_;
};

}  // namespace kvtest
