#pragma once

// The settings window: one dialog whose pages edit the settings of a
// kv::CSettings in memory, saved by OK and Apply, discarded by Cancel. It
// owns the settings and the catalog it loads; every control is a child of it
// and carries its control name as its Qt object name.

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Colors.h"
#include "EffectsList.h"
#include "StringTable.h"
#include "kvplatform/base/Result.h"
#include "kvshared/CResources.h"
#include "kvshared/CSettings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace kv::settings {

class axLine;
class ColorSwatch;
class FontPreview;
class PreviewPane;

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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using TextSetter = void (CSettings::*)(std::string_view);

  void CreateControls();
  void CreateServiceFrame();
  void CreateFrequencyFrame();
  void CreateOptionPages();
  void FitCaptions();
  QLabel* CreateLabel(int index, const QString& caption, QWidget* parent, int left, int top, int width);
  QComboBox* CreateList(const char* name, QWidget* parent, int left, int top, int width);
  QListWidget* CreateCheckList(const char* name, QWidget* parent, int left, int top, int width, int height);
  void ConnectRules();

  // Loading, step by step.
  void ShowSettings();
  void FillLists();
  void SelectFromSettings();

  // The editing rules.
  void CommitOnFocusLoss(QWidget* control, std::function<void()> commit);
  void CommitNumber(QComboBox* list, TextSetter setter);
  void CommitMargin(int index);
  void CommitFocusedControl();
  void chkUseQuotes_Change();
  void CheckChange(QListWidget* list, std::vector<std::string>& selected, std::string_view defaultName,
                   Status (CSettings::*setter)(const std::vector<std::string>&));
  void chkAutoStart_Click();
  void lstEffects_Change();

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

  // The pickers.
  void SwatchClick(ColorSwatch* swatch, ColorSwatch* other, TextSetter setter);
  void lstFont_Highlight();
  void cboFontSize_Change();
  void PassFocusOn(QWidget* from, QWidget* to, Qt::FocusReason reason);
  void KeyRelease(int key, Qt::KeyboardModifiers modifiers);

  // The preview and adding files of the user's own.
  void CreatePreview();
  void ConnectPreview();
  void PreviewChanged();
  void cmdAddPictures_Click();
  void cmdAddQuotesFiles_Click();
  void AddChosenFiles(const QStringList& files, std::string_view subFolder, std::span<const std::string_view> extensions,
                      std::int64_t maxBytes, QListWidget* list, std::vector<std::string>& available,
                      std::vector<std::string>& selected,
                      Status (CSettings::*setter)(const std::vector<std::string>&));

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
  std::vector<std::string> availableQuotesFiles_, availableBackgrounds_, availableFonts_;
  std::vector<std::string> selectedQuotesFiles_, selectedBackgrounds_, selectedFonts_, selectedEffects_;
  EffectLabels effectLabels_;
  std::array<QString, 5> pageNames_;
  bool isLoading_ = false;
  std::map<QObject*, std::function<void()>> focusCommits_;

  QLabel* imgIcon_ = nullptr;
  QLabel* lblExplanation_ = nullptr;
  std::array<QLabel*, 11> lblLabel_{};

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
  std::array<QWidget*, 5> fraOptionPanel_{};

  QListWidget* lstEffects_ = nullptr;
  QCheckBox* chkUseQuotes_ = nullptr;
  QListWidget* lstQuotesFiles_ = nullptr;
  QListWidget* lstFont_ = nullptr;
  FontPreview* txtFontPreview_ = nullptr;
  QComboBox* cboFontSize_ = nullptr;
  ColorSwatch* txtColor_ = nullptr;
  QListWidget* lstBackGrounds_ = nullptr;
  QComboBox* cboBackgroundMode_ = nullptr;
  ColorSwatch* txtBackgroundColor_ = nullptr;
  axLine* lneAlignment_ = nullptr;
  QComboBox* cboHAlign_ = nullptr;
  QComboBox* cboVAlign_ = nullptr;
  std::unique_ptr<QuoteMonitorsChoice> quoteMonitors_;  // shown with the Position page
  axLine* lneMargins_ = nullptr;
  std::array<QComboBox*, 4> cboMargin_{};
  QCheckBox* chkAllowViolation_ = nullptr;

  PreviewPane* preview_ = nullptr;
  QPushButton* cmdAddPictures_ = nullptr;
  QPushButton* cmdAddQuotesFiles_ = nullptr;

  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
  QPushButton* cmdApply_ = nullptr;
};

}  // namespace kv::settings
