#pragma once

// The settings window: one dialog whose pages edit the settings of a
// kv::CSettings in memory, saved by OK and Apply, discarded by Cancel. It
// owns the settings and the catalog it loads, the service frame, the
// frequency, the page selector and the buttons; each option page is a class
// of its own (OptionPage). Every control is a child of the window and
// carries its control name as its Qt object name.

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Colors.h"
#include "StringTable.h"
#include "kvplatform/base/Result.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace kv::settings {

class BackgroundPage;
class ColorSwatch;
class EffectsPage;
class FocusCommits;
class FontPage;
class OptionPage;
class PositionPage;
class PreviewPane;
class QuotesPage;

// Shows a warning the user has to dismiss.
using Warning = std::function<void(QWidget* parent, const QString& title, const QString& text)>;
Warning StandardWarning();

// Asks the user for files to open: the chosen files, none when cancelled.
using FilesChooser = std::function<QStringList(QWidget* parent, const QString& caption, const QString& filter)>;
FilesChooser StandardFilesChooser();

// How the settings window asks the user something or tells them; the tests
// put in their own.
struct SettingsDialogs {
  ColorChooser chooseColor = StandardColorChooser();
  Warning warn = StandardWarning();
  FilesChooser chooseFiles = StandardFilesChooser();
};

class QuoteMonitorsChoice;

class frmSettings : public QDialog {
  Q_OBJECT

 public:
  explicit frmSettings(SettingsDialogs dialogs = {}, QWidget* parent = nullptr);
  ~frmSettings() override;

  // The loading sequence, run once before the window is first shown, with the
  // program's string table or the one given. It shows everything it can even
  // when something fails, and answers what failed: a string table that is
  // missing a text, settings that could not be loaded (nothing can then be
  // saved, and the editing pages stay disabled), or a store that could not
  // be read (the defaults are shown; saving does not write them over the
  // stored values).
  [[nodiscard]] Status Load();
  [[nodiscard]] Status Load(const Result<StringTable>& strings);

  // Tells the user, in a message box, that something went wrong.
  void ReportProblem(const QString& what, const Error& error);

  // Shows page `index` of the option pages and hides, and disables, the rest.
  void ShowOptionPanel(int index);

  // The settings being edited; null before Load.
  const CSettings* Settings() const { return settings_.get(); }

  // The preview of the wallpaper the edited settings make.
  PreviewPane* Preview() const { return preview_; }

  // The service control frame: RefreshServiceStatus shows the service's
  // state (at load, on every tick of tmrServiceWatch and after each button);
  // IsAutoStartEnabled sets chkAutoStart at load; ApplyAutoStart writes or
  // removes the log-on entry before, and RestartService restarts a running
  // service after, each save by OK or Apply.
  void RefreshServiceStatus();
  [[nodiscard]] Status ApplyAutoStart();
  [[nodiscard]] Status RestartService();
  bool IsAutoStartEnabled();

 private:
  using TextSetter = void (CSettings::*)(std::string_view);

  void CreateControls();
  void CreateServiceFrame();
  void CreateFrequencyFrame();
  void CreateOptionPages();
  void FitCaptions();
  void ConnectRules();

  // Loading: the settings into the controls.
  void ShowSettings();

  // The pickers, which keep the text's colour apart from the background's,
  // and the keyboard shortcuts.
  void SwatchClick(ColorSwatch* swatch, ColorSwatch* other, TextSetter setter);
  void KeyRelease(int key, Qt::KeyboardModifiers modifiers);

  // The service frame's buttons.
  void cmdStart_Click();
  void cmdStop_Click();
  void cmdPause_Click();
  void cmdResume_Click();
  void SaveServiceStatus(std::string_view status);
  // When a service problem shown in the frame is over by itself.
  enum class ProblemEnds { Never, WhenRunning, WhenGone };
  void SetServiceProblem(const QString& problem, const std::string& detail, ProblemEnds ends = ProblemEnds::Never);
  [[nodiscard]] Status StartService();
  [[nodiscard]] Status CloseService();

  // The preview and adding files of the user's own.
  void CreatePreview();
  void ConnectPreview();
  void PreviewChanged();
  void cmdAddPictures_Click();
  void cmdAddQuotesFiles_Click();
  // Copies the chosen files into the data folder's `subFolder`, hands the
  // names they got there to `addNames`, and tells the user about the files
  // it refused.
  void AddChosenFiles(const QStringList& files, std::string_view subFolder,
                      std::span<const std::string_view> extensions, std::int64_t maxBytes,
                      const std::function<void(const std::vector<std::string>&)>& addNames);

  // OK, Cancel, Apply.
  void cmdOK_Click();
  void cmdApply_Click();
  // Runs the steps of a save; answers what to tell the user when one failed.
  std::optional<QString> SaveAll();
  [[nodiscard]] Status SaveSettingsIfLoaded();

  SettingsDialogs dialogs_;

  std::unique_ptr<CSettings> settings_;
  std::optional<CResources> resources_;
  std::optional<Error> loadFailure_;  // set when the settings could not be loaded
  std::array<QString, 5> pageNames_;
  bool isLoading_ = false;
  FocusCommits* focusCommits_ = nullptr;

  QGroupBox* fraStartStop_ = nullptr;
  QPushButton* cmdStart_ = nullptr;
  QPushButton* cmdStop_ = nullptr;
  QPushButton* cmdPause_ = nullptr;
  QPushButton* cmdResume_ = nullptr;
  QCheckBox* chkAutoStart_ = nullptr;
  QTimer* tmrServiceWatch_ = nullptr;
  QString serviceCaption_;      // the status caption last shown
  QString serviceProblem_;        // what last went wrong with the service, shown in the frame
  QString serviceProblemDetail_;  // and why, in full, in the frame's tooltip
  ProblemEnds serviceProblemEnds_ = ProblemEnds::Never;
  bool serviceBusy_ = false;    // a stop or restart is waiting for the service

  QGroupBox* fraFrequency_ = nullptr;
  QComboBox* cboFrequency_ = nullptr;

  QGroupBox* fraVarious_ = nullptr;
  QComboBox* cboVarious_ = nullptr;
  std::unique_ptr<QuoteMonitorsChoice> quoteMonitors_;  // shown with the Position page
  EffectsPage* effectsPage_ = nullptr;
  QuotesPage* quotesPage_ = nullptr;
  FontPage* fontPage_ = nullptr;
  BackgroundPage* backgroundPage_ = nullptr;
  PositionPage* positionPage_ = nullptr;
  std::array<OptionPage*, 5> fraOptionPanel_{};  // the pages in the selector's order

  PreviewPane* preview_ = nullptr;

  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdApply_ = nullptr;
};

}  // namespace kv::settings
