// The settings window's preview pane and its buttons that add the user's
// own pictures and quotes files to the data folder.

#include <QFileDialog>
#include <QPushButton>
#include <algorithm>
#include <filesystem>

#include "AddFiles.h"
#include "BackgroundPage.h"
#include "BusyPointer.h"
#include "ColorSwatch.h"
#include "FontPage.h"
#include "PreviewPane.h"
#include "QuotesPage.h"
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
  for (OptionPage* page : fraOptionPanel_) connect(page, &OptionPage::Changed, this, &frmSettings::PreviewChanged);
  connect(fontPage_->Swatch(), &ColorSwatch::Clicked, this, &frmSettings::PreviewChanged);
  connect(backgroundPage_->Swatch(), &ColorSwatch::Clicked, this, &frmSettings::PreviewChanged);

  connect(backgroundPage_->AddButton(), &QPushButton::clicked, this, &frmSettings::cmdAddPictures_Click);
  connect(quotesPage_->AddButton(), &QPushButton::clicked, this, &frmSettings::cmdAddQuotesFiles_Click);
}

void frmSettings::PreviewChanged() {
  if (isLoading_ || !settings_) return;
  auto snapshot = service::SnapshotOf(*settings_);
  if (loadFailure_ || !snapshot) {
    preview_->ShowProblem(QStringLiteral("No preview: the settings could not be loaded."));
    return;
  }
  for (const OptionPage* page : fraOptionPanel_) page->AddPicks(*snapshot);
  preview_->SettingsChanged(*snapshot, settings_->ApplicationPath());
}

void frmSettings::cmdAddPictures_Click() {
  if (!settings_ || loadFailure_) return;
  QStringList files = dialogs_.chooseFiles(this, QStringLiteral("Add pictures"),
                                           Filter(QStringLiteral("Pictures"), platform::kPictureExtensions));
  AddChosenFiles(files, CStatics::FOLDERBACKGROUNDS, platform::kPictureExtensions, kMaxPictureBytes,
                 [this](const std::vector<std::string>& names) { backgroundPage_->AddNames(names); });
}

void frmSettings::cmdAddQuotesFiles_Click() {
  if (!settings_ || loadFailure_) return;
  QStringList files = dialogs_.chooseFiles(this, QStringLiteral("Add quotes files"),
                                           Filter(QStringLiteral("Quotes files, one quote a line"), kQuotesExtensions));
  AddChosenFiles(files, CStatics::FOLDERQUOTESFILES, kQuotesExtensions, service::kMaxQuotesFileBytes,
                 [this](const std::vector<std::string>& names) { quotesPage_->AddNames(names); });
}

void frmSettings::AddChosenFiles(const QStringList& files, std::string_view subFolder,
                                 std::span<const std::string_view> extensions, std::int64_t maxBytes,
                                 const std::function<void(const std::vector<std::string>&)>& addNames) {
  if (files.isEmpty()) return;
  std::vector<std::filesystem::path> paths;
  for (const QString& file : files) paths.emplace_back(file.toStdString());
  const std::filesystem::path folder = std::filesystem::path(settings_->ApplicationPath()) / std::string(subFolder);
  AddedFiles added;
  {
    BusyPointer busy;
    added = AddFilesToFolder(paths, folder, extensions, maxBytes);
  }
  if (!added.Names.empty()) addNames(added.Names);
  if (!added.Problems.empty()) {
    QString text = QStringLiteral("Not every file could be added:");
    for (const std::string& problem : added.Problems) text += QStringLiteral("\n") + QString::fromStdString(problem);
    dialogs_.warn(this, QStringLiteral("Kvillo Setup"), text);
  }
}

}  // namespace kv::settings
