// The settings window's loading sequence: the settings, the catalog and the
// string table's texts, then the settings into the controls.

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

#include "BackgroundPage.h"
#include "Controls.h"
#include "EffectsPage.h"
#include "FontPage.h"
#include "EditingRules.h"
#include "Localisation.h"
#include "PositionPage.h"
#include "QuoteMonitorsChoice.h"
#include "QuotesPage.h"
#include "Twips.h"
#include "frmSettings.h"
#include "kvshared/CStatics.h"
#include "kvshared/Convert.h"
#include "kvshared/Funcs.h"

namespace kv::settings {
namespace {

constexpr int kDefaultLanguage = 100;

}  // namespace

Status frmSettings::Load() { return Load(StringTable::FromProgramResources()); }

Status frmSettings::Load(const Result<StringTable>& strings) {
  std::vector<std::string> problems;

  // Nothing counts as an edit until loading is done, and no page is usable
  // until one is chosen.
  isLoading_ = true;
  cmdApply_->setEnabled(false);
  for (OptionPage* page : fraOptionPanel_) {
    page->setEnabled(false);
    page->move(Px(kPageHiddenLeft), Px(kPageTop));
    page->setBackgroundRole(QPalette::Button);
    page->setAutoFillBackground(true);
  }

  // The settings and the catalog.
  settings_ = std::make_unique<CSettings>();
  resources_.reset();
  loadFailure_.reset();
  auto catalog = CResources::Create();
  if (catalog) {
    resources_.emplace(std::move(*catalog));
  } else {
    problems.push_back("the fonts, pictures and quotes files cannot be listed: " + catalog.error().message);
  }
  if (auto loaded = settings_->LoadSettings(resources_ ? &*resources_ : nullptr); !loaded) {
    if (settings_->ApplicationPath().empty()) {
      // Nothing was read: the window has no settings to show or save.
      loadFailure_ = loaded.error();
      problems.push_back("the settings cannot be loaded: " + loaded.error().message);
    } else {
      // The settings were read; only the first run's choice of every
      // background is left for the next start.
      problems.push_back(loaded.error().message);
    }
  }
  if (resources_) {
    if (auto bound = resources_->Init(settings_.get()); !bound) problems.push_back(bound.error().message);
  }
  if (!settings_->UnreadableSettings().empty()) {
    std::string count = std::to_string(settings_->UnreadableSettings().size());
    auto key = OpenSettingsKey(CStatics::REGAPPLICATION, CStatics::REGSECTION);
    problems.push_back((key ? std::string("the settings store could not be read") : key.error().message) +
                       "; the window shows the defaults of the " + count +
                       " settings it could not read, and a save will not write them over the stored values");
  }

  // The texts of the lists and the caption.
  if (strings) {
    auto language = TextToInt32(settings_->Language());
    LocalisedControls controls{this,
                               cboVarious_,
                               backgroundPage_->ModeList(),
                               cboFrequency_,
                               positionPage_->VAlignList(),
                               positionPage_->HAlignList(),
                               &pageNames_};
    if (auto localised = ApplyLocalisation(controls, *strings, language ? *language : kDefaultLanguage);
        !localised) {
      problems.push_back("the window's lists cannot be filled: " + localised.error().message);
    }
    if (auto labels = effectsPage_->LoadTexts(*strings); !labels) problems.push_back(labels.error().message);
    if (auto texts = quoteMonitors_->LoadTexts(*strings); !texts) problems.push_back(texts.error().message);
  } else {
    problems.push_back("the window's lists cannot be filled: " + strings.error().message);
  }

  // The settings into the controls.
  ShowSettings();

  // The service frame.
  chkAutoStart_->setChecked(IsAutoStartEnabled());
  RefreshServiceStatus();
  tmrServiceWatch_->start();

  // Settings that were never loaded must not be edited: nothing could save
  // them, and a save would write empty texts over the stored values.
  fraFrequency_->setEnabled(!loadFailure_);
  fraVarious_->setEnabled(!loadFailure_);

  isLoading_ = false;
  PreviewChanged();

  if (problems.empty()) return Ok();
  std::string message;
  for (const std::string& problem : problems) message += (message.empty() ? "" : "; ") + problem;
  return Fail(loadFailure_ ? loadFailure_->code : ErrorCode::Failed, message);
}

void frmSettings::ShowSettings() {
  const CResources* catalog = resources_ ? &*resources_ : nullptr;
  quotesPage_->Show(*settings_, catalog);
  fontPage_->Show(*settings_, catalog);
  backgroundPage_->Show(*settings_, catalog);
  cboFrequency_->setCurrentIndex(ItemForNumber(settings_->Frequency(), cboFrequency_->count()));
  effectsPage_->Show(*settings_);
  positionPage_->Show(*settings_);
}

}  // namespace kv::settings
