#include "frmSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "AboutBox.h"
#include "BackgroundPage.h"
#include "BusyPointer.h"
#include "ColorSwatch.h"
#include "Controls.h"
#include "EditingRules.h"
#include "EffectsPage.h"
#include "FocusCommits.h"
#include "FontPage.h"
#include "PositionPage.h"
#include "ProgramIcon.h"
#include "QuoteMonitorsChoice.h"
#include "QuotesPage.h"
#include "Twips.h"

namespace kv::settings {
namespace {

constexpr int kPositionPage = 4;

// The window's text size, in device-independent pixels, so that the texts
// keep their place in the window's fixed geometry on every screen; and the
// families of the width the window's texts were laid out for, before the
// desktop's own.
constexpr int kFontPixels = 11;
constexpr int kSmallestFontPixels = 8;
const QStringList kWindowFontFamilies{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                      QStringLiteral("Arial"), QStringLiteral("Helvetica")};

QString Text(const std::string& text) { return QString::fromStdString(text); }

// Hands every key release of the application to the window before the
// control it is meant for sees it.
class KeyPreview : public QObject {
 public:
  KeyPreview(QObject* parent, std::function<void(QObject*, QKeyEvent*)> onRelease)
      : QObject(parent), onRelease_(std::move(onRelease)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyRelease) onRelease_(watched, static_cast<QKeyEvent*>(event));
    return false;
  }

 private:
  std::function<void(QObject*, QKeyEvent*)> onRelease_;
};

}  // namespace

Warning StandardWarning() {
  return [](QWidget* parent, const QString& title, const QString& text) { QMessageBox::warning(parent, title, text); };
}

frmSettings::frmSettings(SettingsDialogs dialogs, QWidget* parent) : QDialog(parent), dialogs_(std::move(dialogs)) {
  setObjectName(QStringLiteral("frmSettings"));
  setWindowTitle(QStringLiteral("Kvillo Setup"));
  setWindowIcon(ProgramWindowIcon());
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QFont windowFont = font();
  windowFont.setFamilies(kWindowFontFamilies + QStringList{windowFont.family()});
  windowFont.setPixelSize(kFontPixels);
  setFont(windowFont);
  focusCommits_ = new FocusCommits(this);
  CreateControls();
  CreatePreview();
  FitCaptions();
  ConnectRules();
  ConnectPreview();
  // The window sees every key release before the control that has the focus.
  qApp->installEventFilter(new KeyPreview(this, [this](QObject* watched, QKeyEvent* key) {
    // A key event travels up from the focused control to its parents; it is
    // handled once, where it starts.
    QWidget* focused = QApplication::focusWidget();
    QWidget* target = focused && focused->window() == this ? focused : this;
    if (watched == target && isActiveWindow()) KeyRelease(key->key(), key->modifiers());
  }));
}

frmSettings::~frmSettings() = default;

// ---------------------------------------------------------------------------
// The controls

void frmSettings::CreateControls() {
  auto* imgIcon = new QLabel(this);
  imgIcon->setObjectName(QStringLiteral("imgIcon"));
  Place(imgIcon, 120, 120, 480, 480);
  imgIcon->setPixmap(ProgramIcon(imgIcon->width(), devicePixelRatioF()));

  auto* lblExplanation = new QLabel(QStringLiteral("This application allows you to configure the Kvillo."), this);
  lblExplanation->setObjectName(QStringLiteral("lblExplanation"));
  lblExplanation->setWordWrap(true);
  lblExplanation->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Place(lblExplanation, 840, 180, 3645, 435);

  CreateServiceFrame();
  CreateFrequencyFrame();
  CreateOptionPages();

  cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
  cmdOK_->setObjectName(QStringLiteral("cmdOK"));
  cmdOK_->setDefault(true);
  Place(cmdOK_, 1560, 5760, 1095, 375);
  cmdCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
  Place(cmdCancel_, 2760, 5760, 1095, 375);
  cmdApply_ = new QPushButton(QStringLiteral("&Apply"), this);
  cmdApply_->setObjectName(QStringLiteral("cmdApply"));
  Place(cmdApply_, 3960, 5760, 1095, 375);
}

void frmSettings::CreateFrequencyFrame() {
  fraFrequency_ = new QGroupBox(QStringLiteral("Frequency"), this);
  fraFrequency_->setObjectName(QStringLiteral("fraFrequency"));
  Place(fraFrequency_, 150, 2100, 4935, 855);
  QLabel* caption = CreateLabel(0, QStringLiteral("Create a new wallpaper every:"), fraFrequency_, 180, 405, 2520);
  cboFrequency_ = CreateList("cboFrequency", fraFrequency_, 2760, 360, 1995);
  caption->setBuddy(cboFrequency_);
}

void frmSettings::CreateOptionPages() {
  fraVarious_ = new QGroupBox(this);
  fraVarious_->setObjectName(QStringLiteral("fraVarious"));
  Place(fraVarious_, 120, 3120, 4935, 2485);
  cboVarious_ = CreateList("cboVarious", fraVarious_, 120, 0, 1575);
  // The Position page is full; its choice of monitors sits beside the page
  // selector and is shown with that page.
  quoteMonitors_ = std::make_unique<QuoteMonitorsChoice>(fraVarious_, 1800, 0);
  quoteMonitors_->SetVisible(false);

  effectsPage_ = new EffectsPage(fraVarious_, *focusCommits_);
  quotesPage_ = new QuotesPage(fraVarious_, *focusCommits_);
  fontPage_ = new FontPage(fraVarious_, *focusCommits_);
  backgroundPage_ = new BackgroundPage(fraVarious_, *focusCommits_);
  positionPage_ = new PositionPage(fraVarious_, *focusCommits_, *quoteMonitors_);
  fraOptionPanel_ = {effectsPage_, quotesPage_, fontPage_, backgroundPage_, positionPage_};
}

void frmSettings::FitCaptions() {
  // With a wider font than the one the window was laid out for, a caption
  // gets a smaller size rather than being cut off.
  auto fit = [](QWidget* control) {
    QFont small = control->font();
    while (control->sizeHint().width() > control->width() && small.pixelSize() > kSmallestFontPixels) {
      small.setPixelSize(small.pixelSize() - 1);
      control->setFont(small);
    }
  };
  for (QLabel* label : findChildren<QLabel*>()) {
    if (!label->wordWrap() && label->pixmap().isNull() && label->objectName().startsWith(QStringLiteral("lblLabel"))) {
      fit(label);
    }
  }
  for (QCheckBox* box : findChildren<QCheckBox*>()) fit(box);
}

void frmSettings::ConnectRules() {
  connect(cboVarious_, &QComboBox::currentIndexChanged, this, &frmSettings::ShowOptionPanel);

  focusCommits_->Watch(cboFrequency_, [this] {
    // A list showing no item (its stored value fits none) has nothing to
    // commit; the stored value stays as it is.
    if (!settings_ || cboFrequency_->currentIndex() < 0) return;
    cmdApply_->setEnabled(true);
    settings_->Frequency(std::to_string(cboFrequency_->currentIndex()));
  });
  for (OptionPage* page : fraOptionPanel_) {
    connect(page, &OptionPage::Edited, this, [this] { cmdApply_->setEnabled(true); });
  }
  connect(chkAutoStart_, &QCheckBox::toggled, this, [this] { cmdApply_->setEnabled(true); });
  connect(cmdStart_, &QPushButton::clicked, this, &frmSettings::cmdStart_Click);
  connect(cmdStop_, &QPushButton::clicked, this, &frmSettings::cmdStop_Click);
  connect(cmdPause_, &QPushButton::clicked, this, &frmSettings::cmdPause_Click);
  connect(cmdResume_, &QPushButton::clicked, this, &frmSettings::cmdResume_Click);

  ColorSwatch* fontColor = fontPage_->Swatch();
  ColorSwatch* backgroundColor = backgroundPage_->Swatch();
  connect(fontColor, &ColorSwatch::Clicked, this,
          [this, fontColor, backgroundColor] { SwatchClick(fontColor, backgroundColor, &CSettings::FontColor); });
  connect(backgroundColor, &ColorSwatch::Clicked, this, [this, fontColor, backgroundColor] {
    SwatchClick(backgroundColor, fontColor, &CSettings::BackgroundColor);
  });
  // A swatch never keeps the focus; it hands it to OK.
  for (ColorSwatch* swatch : {fontColor, backgroundColor}) {
    connect(swatch, &ColorSwatch::FocusReceived, this,
            [this, swatch](Qt::FocusReason reason) { PassFocusOn(swatch, cmdOK_, reason); });
  }

  connect(tmrServiceWatch_, &QTimer::timeout, this, &frmSettings::RefreshServiceStatus);

  connect(cmdOK_, &QPushButton::clicked, this, &frmSettings::cmdOK_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &frmSettings::reject);
  connect(cmdApply_, &QPushButton::clicked, this, &frmSettings::cmdApply_Click);
}

void frmSettings::ShowOptionPanel(int index) {
  for (int i = 0; i < static_cast<int>(fraOptionPanel_.size()); ++i) {
    QWidget* page = fraOptionPanel_[static_cast<size_t>(i)];
    bool shown = i == index;
    page->setEnabled(shown);
    page->move(Px(shown ? kPageShownLeft : kPageHiddenLeft), Px(kPageTop));
  }
  quoteMonitors_->SetVisible(index == kPositionPage);
}

// ---------------------------------------------------------------------------
// The pickers

void frmSettings::SwatchClick(ColorSwatch* swatch, ColorSwatch* other, TextSetter setter) {
  if (!settings_ || loadFailure_) return;
  QColor initial = swatch->Color() ? ToQColor(*swatch->Color()) : QColor(Qt::white);
  QColor chosen = dialogs_.chooseColor(initial, this);
  if (!chosen.isValid()) return;
  std::uint32_t color = FromQColor(chosen);
  // The text would vanish in a background of its own colour.
  if (other->Color() && *other->Color() == color) return;
  cmdApply_->setEnabled(true);
  swatch->SetColor(color);
  (settings_.get()->*setter)(ColorToSetting(color));
}

void frmSettings::KeyRelease(int key, Qt::KeyboardModifiers modifiers) {
  QChar backgroundKey = AccessCharacter(backgroundPage_->SwatchCaption()->text());
  QChar fontColorKey = AccessCharacter(fontPage_->SwatchCaption()->text()).toUpper();
  switch (ShortcutFor(key, modifiers, backgroundKey, fontColorKey)) {
    case ShortcutAction::BackgroundColor:
      SwatchClick(backgroundPage_->Swatch(), fontPage_->Swatch(), &CSettings::BackgroundColor);
      break;
    case ShortcutAction::AboutBox:
      ShowAboutBox(this);
      break;
    case ShortcutAction::FontColor:
      SwatchClick(fontPage_->Swatch(), backgroundPage_->Swatch(), &CSettings::FontColor);
      break;
    case ShortcutAction::PageSelector:
      cboVarious_->setFocus(Qt::ShortcutFocusReason);
      break;
    case ShortcutAction::None:
      break;
  }
}

// ---------------------------------------------------------------------------
// OK, Cancel, Apply

Status frmSettings::SaveSettingsIfLoaded() {
  if (!settings_) return Fail(ErrorCode::Failed, "the settings were never loaded");
  if (loadFailure_) return Fail(*loadFailure_, "the settings could not be loaded, so none can be saved");
  return settings_->SaveSettings();
}

std::optional<QString> frmSettings::SaveAll() {
  std::vector<QString> failures;
  if (auto autoStart = ApplyAutoStart(); !autoStart) {
    failures.push_back(tr("The start at log-on was not changed: %1.").arg(Text(autoStart.error().message)));
  }
  if (auto saved = SaveSettingsIfLoaded(); !saved) {
    failures.push_back(tr("The settings were not saved: %1.").arg(Text(saved.error().message)));
  } else if (auto restarted = RestartService(); !restarted) {
    failures.push_back(tr("The settings were saved, but Kvillo was not restarted with them: %1.")
                           .arg(Text(restarted.error().message)));
  }
  if (failures.empty()) return std::nullopt;

  QString text;
  for (const QString& failure : failures) text += failure + QStringLiteral("\n\n");
  return text + tr("Your changes are still in this window: press Apply to try again, or Cancel to discard them.");
}

void frmSettings::cmdApply_Click() {
  if (serviceBusy_) return;  // a restart is still waiting for the service
  // Enter presses OK without moving the focus; the list the user just
  // changed is committed first, as leaving it would have done.
  focusCommits_->CommitFocused();
  std::optional<QString> failure;
  {
    BusyPointer busy;
    failure = SaveAll();
  }
  if (failure) {
    dialogs_.warn(this, windowTitle(), *failure);
    return;
  }
  // Apply gives the focus away before it is disabled, to OK rather than to
  // whichever control is next, which would count as visited when left.
  if (cmdApply_->hasFocus()) cmdOK_->setFocus(Qt::OtherFocusReason);
  cmdApply_->setEnabled(false);
}

void frmSettings::cmdOK_Click() {
  if (serviceBusy_) return;
  focusCommits_->CommitFocused();
  if (cmdApply_->isEnabled()) {
    // A failed save keeps the window open, with the edits that were not saved.
    if (std::optional<QString> failure = SaveAll()) {
      dialogs_.warn(this, windowTitle(), *failure);
      return;
    }
  }
  accept();
}

void frmSettings::ReportProblem(const QString& what, const Error& error) {
  QString detail = Text(error.message);
  if (!detail.isEmpty()) detail[0] = detail[0].toUpper();
  if (!detail.endsWith(u'.')) detail += u'.';
  dialogs_.warn(this, windowTitle(), what + QStringLiteral("\n\n") + detail);
}

}  // namespace kv::settings
