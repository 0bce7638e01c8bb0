// The settings window's preview pane and its buttons that add the user's
// own pictures and quotes files to the data folder.

#include <QComboBox>
#include <QFileDialog>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QCheckBox>
#include <algorithm>
#include <filesystem>

#include "AddFiles.h"
#include "BusyPointer.h"
#include "CheckList.h"
#include "ColorSwatch.h"
#include "EditingRules.h"
#include "PreviewPane.h"
#include "QuoteSelection.h"
#include "ReadSettings.h"
#include "Twips.h"
#include "frmSettings.h"
#include "kvplatform/image/Picture.h"
#include "kvshared/CStatics.h"
#include "kvshared/Convert.h"

namespace kv::settings {
namespace {

// The window's original client area, in twips, and the pane beside it.
constexpr int kClassicWidth = 5175;
constexpr int kClassicHeight = 6240;
constexpr int kPreviewLeft = 345;  // pixels
constexpr int kPreviewTop = 12;
constexpr int kPreviewWidth = 320;
constexpr int kPreviewGap = 10;

// Pictures larger than this are no wallpaper anyone means to add.
constexpr std::int64_t kMaxPictureBytes = std::int64_t{1} << 30;

constexpr std::string_view kQuotesExtensions[] = {".txt"};

QString Filter(const QString& what, std::span<const std::string_view> extensions) {
  QStringList patterns;
  for (std::string_view extension : extensions) {
    QString pattern = QStringLiteral("*") + QString::fromLatin1(extension.data(), static_cast<qsizetype>(extension.size()));
    patterns << pattern << pattern.toUpper();
  }
  return what + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
}

}  // namespace

FilesChooser StandardFilesChooser() {
  return [](QWidget* parent, const QString& caption, const QString& filter) {
    return QFileDialog::getOpenFileNames(parent, caption, QString(), filter);
  };
}

void frmSettings::CreatePreview() {
  preview_ = new PreviewPane(platform::QueryScreen(), kPreviewWidth, this);
  preview_->move(kPreviewLeft, kPreviewTop);
  preview_->resize(kPreviewWidth, preview_->sizeHint().height());
  setFixedSize(kPreviewLeft + kPreviewWidth + kPreviewGap, std::max(Px(kClassicHeight), preview_->height()));
  static_assert(kPreviewLeft >= Px(kClassicWidth), "the pane sits beside the window's original controls");
}

void frmSettings::ConnectPreview() {
  // Connected after the editing rules, so the settings hold the change
  // when the preview takes them.
  auto changed = [this] { PreviewChanged(); };
  for (QComboBox* list : {cboHAlign_, cboVAlign_, cboBackgroundMode_, cboFontSize_}) {
    connect(list, &QComboBox::currentIndexChanged, this, changed);
  }
  for (QComboBox* list : cboMargin_) connect(list, &QComboBox::currentIndexChanged, this, changed);
  for (QListWidget* list : {lstFont_, lstBackGrounds_, lstQuotesFiles_, lstEffects_}) {
    connect(list, &QListWidget::itemChanged, this, changed);
  }
  connect(chkAllowViolation_, &QCheckBox::toggled, this, changed);
  connect(txtColor_, &ColorSwatch::Clicked, this, changed);
  connect(txtBackgroundColor_, &ColorSwatch::Clicked, this, changed);

  connect(cmdAddPictures_, &QPushButton::clicked, this, &frmSettings::cmdAddPictures_Click);
  connect(cmdAddQuotesFiles_, &QPushButton::clicked, this, &frmSettings::cmdAddQuotesFiles_Click);
}

void frmSettings::PreviewChanged() {
  if (isLoading_ || !settings_) return;
  auto snapshot = service::SnapshotOf(*settings_);
  if (loadFailure_ || !snapshot) {
    preview_->ShowProblem(QStringLiteral("No preview: the settings could not be loaded."));
    return;
  }
  // The lists commit their pick when they lose the focus; the preview
  // shows it at once.
  auto picked = [](QComboBox* list, std::int32_t& value) {
    if (list->currentIndex() >= 0) value = list->currentIndex();
  };
  picked(cboHAlign_, snapshot->HAlign);
  picked(cboVAlign_, snapshot->VAlign);
  picked(cboBackgroundMode_, snapshot->BackgroundMode);
  if (cboFontSize_->currentIndex() >= 0) snapshot->FontSize = cboFontSize_->currentText().toStdString();
  std::int32_t* margins[] = {&snapshot->TopMargin, &snapshot->BottomMargin, &snapshot->LeftMargin,
                             &snapshot->RightMargin};
  for (size_t i = 0; i < cboMargin_.size(); ++i) {
    if (cboMargin_[i]->currentIndex() < 0) continue;
    if (auto margin = TextToInt32(MarginSetting(cboMargin_[i]->currentText()))) *margins[i] = *margin;
  }
  preview_->SettingsChanged(*snapshot, settings_->ApplicationPath());
}

void frmSettings::cmdAddPictures_Click() {
  if (!settings_ || loadFailure_) return;
  QStringList files = dialogs_.chooseFiles(this, QStringLiteral("Add pictures"),
                                           Filter(QStringLiteral("Pictures"), platform::kPictureExtensions));
  AddChosenFiles(files, CStatics::FOLDERBACKGROUNDS, platform::kPictureExtensions, kMaxPictureBytes, lstBackGrounds_,
                 availableBackgrounds_, selectedBackgrounds_, &CSettings::SetSelectedBackgrounds);
}

void frmSettings::cmdAddQuotesFiles_Click() {
  if (!settings_ || loadFailure_) return;
  QStringList files = dialogs_.chooseFiles(this, QStringLiteral("Add quotes files"),
                                           Filter(QStringLiteral("Quotes files, one quote a line"), kQuotesExtensions));
  AddChosenFiles(files, CStatics::FOLDERQUOTESFILES, kQuotesExtensions, service::kMaxQuotesFileBytes, lstQuotesFiles_,
                 availableQuotesFiles_, selectedQuotesFiles_, &CSettings::SetSelectedQuotesFiles);
}

void frmSettings::AddChosenFiles(const QStringList& files, std::string_view subFolder,
                                 std::span<const std::string_view> extensions, std::int64_t maxBytes,
                                 QListWidget* list, std::vector<std::string>& available,
                                 std::vector<std::string>& selected,
                                 Status (CSettings::*setter)(const std::vector<std::string>&)) {
  if (files.isEmpty()) return;
  std::vector<std::filesystem::path> paths;
  for (const QString& file : files) paths.emplace_back(file.toStdString());
  const std::filesystem::path folder = std::filesystem::path(settings_->ApplicationPath()) / std::string(subFolder);
  AddedFiles added;
  {
    BusyPointer busy;
    added = AddFilesToFolder(paths, folder, extensions, maxBytes);
  }

  if (!added.Names.empty()) {
    // A list that offered nothing holds one empty name; the new names take its place.
    available.erase(std::remove(available.begin(), available.end(), std::string()), available.end());
    std::vector<std::string> ticked = selected;
    for (const std::string& name : added.Names) {
      available.push_back(name);
      ticked.push_back(name);
    }
    {
      QSignalBlocker quiet(list);
      FillCheckedList(list, available, ticked);
    }
    CheckChange(list, selected, "", setter);
    PreviewChanged();
  }
  if (!added.Problems.empty()) {
    QString text = QStringLiteral("Not every file could be added:");
    for (const std::string& problem : added.Problems) text += QStringLiteral("\n") + QString::fromStdString(problem);
    dialogs_.warn(this, QStringLiteral("Kvillo Setup"), text);
  }
}

}  // namespace kv::settings
