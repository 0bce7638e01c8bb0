#include "frmSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "AboutBox.h"
#include "BusyPointer.h"
#include "CheckList.h"
#include "ColorSwatch.h"
#include "EditingRules.h"
#include "FontPreview.h"
#include "Localisation.h"
#include "PickOnlyList.h"
#include "QuoteMonitorsChoice.h"
#include "ProgramIcon.h"
#include "Twips.h"
#include "axLine.h"
#include "kvplatform/base/Log.h"
#include "kvshared/CStatics.h"
#include "kvshared/Convert.h"
#include "kvshared/Funcs.h"

namespace kv::settings {
namespace {

// The window's client area, in twips.
constexpr int kClientWidth = 5175;
constexpr int kClientHeight = 6240;

// Where an option page sits inside fraVarious: shown, or beyond the window's
// right edge.
constexpr int kPageShownLeft = 120;
constexpr int kPageHiddenLeft = 5280;
constexpr int kPageTop = 360;
constexpr int kPageWidth = 4695;
constexpr int kPageHeight = 2055;

constexpr int kPositionPage = 4;
constexpr int kListHeight = 315;
constexpr int kLabelHeight = 240;
constexpr int kServiceWatchMs = 500;

// The window's text size, in device-independent pixels, so that the texts
// keep their place in the window's fixed geometry on every screen; and the
// families of the width the window's texts were laid out for, before the
// desktop's own.
constexpr int kFontPixels = 11;
constexpr int kSmallestFontPixels = 8;
const QStringList kWindowFontFamilies{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                      QStringLiteral("Arial"), QStringLiteral("Helvetica")};

constexpr int kDefaultLanguage = 100;
const QString kPreviewText = QStringLiteral("aAbByYzZ");

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(TwipsRect(left, top, width, height));
}

// The busy pointer for as long as it lives.
QString Text(const std::string& text) { return QString::fromStdString(text); }

// A widget the keyboard focus can move to.
bool TakesFocus(const QWidget* widget) {
  return widget->isEnabled() && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) &&
         widget->focusProxy() == nullptr;
}

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

QLabel* frmSettings::CreateLabel(int index, const QString& caption, QWidget* parent, int left, int top, int width) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QStringLiteral("lblLabel%1").arg(index));
  Place(label, left, top, width, kLabelHeight);
  lblLabel_[static_cast<size_t>(index)] = label;
  return label;
}

QComboBox* frmSettings::CreateList(const char* name, QWidget* parent, int left, int top, int width) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  MakePickOnly(list);
  Place(list, left, top, width, kListHeight);
  return list;
}

QListWidget* frmSettings::CreateCheckList(const char* name, QWidget* parent, int left, int top, int width,
                                          int height) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setUniformItemSizes(true);
  Place(list, left, top, width, height);
  return list;
}

void frmSettings::CreateControls() {
  imgIcon_ = new QLabel(this);
  imgIcon_->setObjectName(QStringLiteral("imgIcon"));
  Place(imgIcon_, 120, 120, 480, 480);
  imgIcon_->setPixmap(ProgramIcon(imgIcon_->width(), devicePixelRatioF()));

  lblExplanation_ = new QLabel(QStringLiteral("This application allows you to configure the Kvillo."), this);
  lblExplanation_->setObjectName(QStringLiteral("lblExplanation"));
  lblExplanation_->setWordWrap(true);
  lblExplanation_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Place(lblExplanation_, 840, 180, 3645, 435);

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

void frmSettings::CreateServiceFrame() {
  fraStartStop_ = new QGroupBox(QStringLiteral("Kvillo status"), this);
  fraStartStop_->setObjectName(QStringLiteral("fraStartStop"));
  Place(fraStartStop_, 150, 750, 4935, 1215);

  auto button = [&](QPushButton*& target, const char* name, const QString& caption, int left) {
    target = new QPushButton(caption, fraStartStop_);
    target->setObjectName(QString::fromLatin1(name));
    Place(target, left, 300, 1065, 345);
    target->setEnabled(false);  // until RefreshServiceStatus knows the state
  };
  button(cmdStart_, "cmdStart", QStringLiteral("Start"), 180);
  button(cmdStop_, "cmdStop", QStringLiteral("Stop"), 1350);
  button(cmdPause_, "cmdPause", QStringLiteral("Pause"), 2520);
  button(cmdResume_, "cmdResume", QStringLiteral("Resume"), 3690);

  chkAutoStart_ = new QCheckBox(QStringLiteral("Start Kvillo on Windows startup"), fraStartStop_);
  chkAutoStart_->setObjectName(QStringLiteral("chkAutoStart"));
  Place(chkAutoStart_, 180, 780, 4575, 300);

  tmrServiceWatch_ = new QTimer(this);
  tmrServiceWatch_->setObjectName(QStringLiteral("tmrServiceWatch"));
  tmrServiceWatch_->setInterval(kServiceWatchMs);
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

  for (size_t i = 0; i < fraOptionPanel_.size(); ++i) {
    auto* page = new QWidget(fraVarious_);
    page->setObjectName(QStringLiteral("fraOptionPanel%1").arg(i));
    Place(page, kPageHiddenLeft, kPageTop, kPageWidth, kPageHeight);
    fraOptionPanel_[i] = page;
  }

  // Page 0: the effects.
  lstEffects_ = CreateCheckList("lstEffects", fraOptionPanel_[0], 0, 0, kPageWidth, kPageHeight);

  // Page 1: the quotes files.
  chkUseQuotes_ = new QCheckBox(QStringLiteral("Use files selected in &Lexora application"), fraOptionPanel_[1]);
  chkUseQuotes_->setObjectName(QStringLiteral("chkUseQuotes"));
  Place(chkUseQuotes_, 0, 0, kPageWidth, 300);
  lstQuotesFiles_ = CreateCheckList("lstQuotesFiles", fraOptionPanel_[1], 0, 345, kPageWidth, kPageHeight - 780);
  cmdAddQuotesFiles_ = new QPushButton(QStringLiteral("Add &quotes files…"), fraOptionPanel_[1]);
  cmdAddQuotesFiles_->setObjectName(QStringLiteral("cmdAddQuotesFiles"));
  Place(cmdAddQuotesFiles_, 0, kPageHeight - 375, 1800, 345);

  // Page 2: the fonts, their preview, size and colour.
  QWidget* fontPage = fraOptionPanel_[2];
  lstFont_ = CreateCheckList("lstFont", fontPage, 0, 0, 2700, 1620);
  txtFontPreview_ = new FontPreview(kPreviewText, fontPage);
  txtFontPreview_->setObjectName(QStringLiteral("txtFontPreview"));
  Place(txtFontPreview_, 2820, 0, kPageWidth - 2820, 1620);
  QLabel* sizeCaption = CreateLabel(2, QStringLiteral("&Size:"), fontPage, 0, 1755, 540);
  cboFontSize_ = CreateList("cboFontSize", fontPage, 600, 1710, 900);
  sizeCaption->setBuddy(cboFontSize_);
  QLabel* colorCaption = CreateLabel(3, QStringLiteral("&Color:"), fontPage, 2820, 1755, 660);
  txtColor_ = new ColorSwatch(fontPage);
  txtColor_->setObjectName(QStringLiteral("txtColor"));
  Place(txtColor_, 3540, 1710, 535, 315);
  colorCaption->setBuddy(txtColor_);

  // Page 3: the background pictures, their display and colour.
  QWidget* backgroundPage = fraOptionPanel_[3];
  lstBackGrounds_ = CreateCheckList("lstBackGrounds", backgroundPage, 0, 0, kPageWidth, 1230);
  cmdAddPictures_ = new QPushButton(QStringLiteral("Add &pictures…"), backgroundPage);
  cmdAddPictures_->setObjectName(QStringLiteral("cmdAddPictures"));
  Place(cmdAddPictures_, 0, 1290, 1800, 345);
  // The list shows bare names; the tip says which files of the data folder it offers.
  lstBackGrounds_->setToolTip(QStringLiteral("The pictures in the data folder's Backgrounds: "
                                             ".bmp, .png, .jpg, .jpeg, .gif (first frame) and .webp files"));
  QLabel* modeCaption = CreateLabel(4, QStringLiteral("Picture display:"), backgroundPage, 0, 1755, 1350);
  cboBackgroundMode_ = CreateList("cboBackgroundMode", backgroundPage, 1410, 1710, 1290);
  modeCaption->setBuddy(cboBackgroundMode_);
  QLabel* backgroundCaption = CreateLabel(5, QStringLiteral("&Background:"), backgroundPage, 2820, 1755, 1110);
  txtBackgroundColor_ = new ColorSwatch(backgroundPage);
  txtBackgroundColor_->setObjectName(QStringLiteral("txtBackgroundColor"));
  Place(txtBackgroundColor_, 3990, 1710, 535, 315);
  backgroundCaption->setBuddy(txtBackgroundColor_);

  // Page 4: alignment and margins.
  QWidget* positionPage = fraOptionPanel_[4];
  lneAlignment_ = new axLine(positionPage);
  lneAlignment_->setObjectName(QStringLiteral("lneAlignment"));
  Place(lneAlignment_, 0, 0, kPageWidth, 255);
  lneAlignment_->ReadProperties({{QStringLiteral("Caption"), QStringLiteral(" Alignment ")}}, font());
  QLabel* horizontal = CreateLabel(1, QStringLiteral("Horizontal:"), positionPage, 0, 315, 960);
  cboHAlign_ = CreateList("cboHAlign", positionPage, 1020, 270, 1290);
  horizontal->setBuddy(cboHAlign_);
  QLabel* vertical = CreateLabel(6, QStringLiteral("Vertical:"), positionPage, 2460, 315, 780);
  cboVAlign_ = CreateList("cboVAlign", positionPage, 3270, 270, 1290);
  vertical->setBuddy(cboVAlign_);

  lneMargins_ = new axLine(positionPage);
  lneMargins_->setObjectName(QStringLiteral("lneMargins"));
  Place(lneMargins_, 0, 660, kPageWidth, 255);
  lneMargins_->ReadProperties({{QStringLiteral("Caption"), QStringLiteral(" Margins ")}}, font());
  // Created in reading order, which is also the order of the Tab key:
  // top, left, bottom, right.
  struct Margin {
    int index;
    int label;
    const char* caption;
    int left;
    int top;
  };
  for (Margin margin : {Margin{0, 7, "Top:", 0, 930}, Margin{2, 9, "Left:", 2460, 930},
                        Margin{1, 8, "Bottom:", 0, 1320}, Margin{3, 10, "Right", 2460, 1320}}) {
    QLabel* caption = CreateLabel(margin.label, QString::fromLatin1(margin.caption), positionPage, margin.left,
                                  margin.top + 45, margin.left == 0 ? 960 : 780);
    QComboBox* list = CreateList("cboMargin", positionPage, margin.left + (margin.left == 0 ? 1020 : 810),
                                 margin.top, 1290);
    list->setObjectName(QStringLiteral("cboMargin%1").arg(margin.index));
    caption->setBuddy(list);
    cboMargin_[static_cast<size_t>(margin.index)] = list;
  }
  chkAllowViolation_ =
      new QCheckBox(QStringLiteral("Allow large texts to violate margin or screen boundaries"), positionPage);
  chkAllowViolation_->setObjectName(QStringLiteral("chkAllowViolation"));
  Place(chkAllowViolation_, 0, 1740, kPageWidth, 300);
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

  CommitOnFocusLoss(cboFrequency_, [this] { CommitNumber(cboFrequency_, &CSettings::Frequency); });
  CommitOnFocusLoss(cboHAlign_, [this] { CommitNumber(cboHAlign_, &CSettings::HAlign); });
  CommitOnFocusLoss(cboVAlign_, [this] { CommitNumber(cboVAlign_, &CSettings::VAlign); });
  CommitOnFocusLoss(quoteMonitors_->List(), [this] {
    if (quoteMonitors_->List()->currentIndex() < 0) return;
    cmdApply_->setEnabled(true);
    settings_->QuoteMonitors(quoteMonitors_->Value(settings_->QuoteMonitors()));
  });
  CommitOnFocusLoss(cboBackgroundMode_, [this] { CommitNumber(cboBackgroundMode_, &CSettings::BackgroundMode); });
  CommitOnFocusLoss(cboFontSize_, [this] {
    if (cboFontSize_->currentIndex() < 0) return;
    cmdApply_->setEnabled(true);
    settings_->FontSize(cboFontSize_->currentText().toStdString());
  });
  for (int index = 0; index < static_cast<int>(cboMargin_.size()); ++index) {
    CommitOnFocusLoss(cboMargin_[static_cast<size_t>(index)], [this, index] { CommitMargin(index); });
  }
  CommitOnFocusLoss(chkAllowViolation_, [this] {
    cmdApply_->setEnabled(true);
    settings_->AllowViolation(chkAllowViolation_->isChecked());
  });

  connect(chkUseQuotes_, &QCheckBox::toggled, this, &frmSettings::chkUseQuotes_Change);
  connect(lstFont_, &QListWidget::itemChanged, this,
          [this] { CheckChange(lstFont_, selectedFonts_, "Arial", &CSettings::SetSelectedFonts); });
  connect(lstBackGrounds_, &QListWidget::itemChanged, this,
          [this] { CheckChange(lstBackGrounds_, selectedBackgrounds_, "", &CSettings::SetSelectedBackgrounds); });
  connect(lstEffects_, &QListWidget::itemChanged, this, &frmSettings::lstEffects_Change);
  connect(lstQuotesFiles_, &QListWidget::itemChanged, this,
          [this] { CheckChange(lstQuotesFiles_, selectedQuotesFiles_, "", &CSettings::SetSelectedQuotesFiles); });
  connect(chkAutoStart_, &QCheckBox::toggled, this, &frmSettings::chkAutoStart_Click);
  connect(cmdStart_, &QPushButton::clicked, this, &frmSettings::cmdStart_Click);
  connect(cmdStop_, &QPushButton::clicked, this, &frmSettings::cmdStop_Click);
  connect(cmdPause_, &QPushButton::clicked, this, &frmSettings::cmdPause_Click);
  connect(cmdResume_, &QPushButton::clicked, this, &frmSettings::cmdResume_Click);

  connect(txtColor_, &ColorSwatch::Clicked, this,
          [this] { SwatchClick(txtColor_, txtBackgroundColor_, &CSettings::FontColor); });
  connect(txtBackgroundColor_, &ColorSwatch::Clicked, this,
          [this] { SwatchClick(txtBackgroundColor_, txtColor_, &CSettings::BackgroundColor); });
  connect(txtColor_, &ColorSwatch::FocusReceived, this,
          [this](Qt::FocusReason reason) { PassFocusOn(txtColor_, cmdOK_, reason); });
  connect(txtBackgroundColor_, &ColorSwatch::FocusReceived, this,
          [this](Qt::FocusReason reason) { PassFocusOn(txtBackgroundColor_, cmdOK_, reason); });
  txtFontPreview_->installEventFilter(this);
  connect(lstFont_, &QListWidget::currentItemChanged, this, &frmSettings::lstFont_Highlight);
  connect(cboFontSize_, &QComboBox::currentIndexChanged, this, &frmSettings::cboFontSize_Change);

  connect(tmrServiceWatch_, &QTimer::timeout, this, &frmSettings::RefreshServiceStatus);

  connect(cmdOK_, &QPushButton::clicked, this, &frmSettings::cmdOK_Click);
  connect(cmdCancel_, &QPushButton::clicked, this, &frmSettings::reject);
  connect(cmdApply_, &QPushButton::clicked, this, &frmSettings::cmdApply_Click);
}

// ---------------------------------------------------------------------------
// Loading

Status frmSettings::Load() { return Load(StringTable::FromProgramResources()); }

Status frmSettings::Load(const Result<StringTable>& strings) {
  std::vector<std::string> problems;

  // Nothing counts as an edit until loading is done, and no page is usable
  // until one is chosen.
  isLoading_ = true;
  cmdApply_->setEnabled(false);
  for (QWidget* page : fraOptionPanel_) {
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
    LocalisedControls controls{this, cboVarious_, cboBackgroundMode_, cboFrequency_, cboVAlign_, cboHAlign_,
                               &pageNames_};
    if (auto localised = ApplyLocalisation(controls, *strings, language ? *language : kDefaultLanguage);
        !localised) {
      problems.push_back("the window's lists cannot be filled: " + localised.error().message);
    }
    if (auto labels = LoadEffectLabels(*strings, effectLabels_); !labels) problems.push_back(labels.error().message);
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
  // The quotes files are chosen here, or in the sibling application.
  if (settings_->UseQuotes()) {
    chkUseQuotes_->setChecked(true);
    lstQuotesFiles_->setEnabled(false);
  } else {
    chkUseQuotes_->setChecked(false);
    lstQuotesFiles_->setEnabled(true);
  }
  if (Statics().IsLexoraInstalled()) {
    chkUseQuotes_->setChecked(false);
    chkUseQuotes_->setEnabled(false);
    lstQuotesFiles_->setEnabled(true);
  }

  auto showColor = [](ColorSwatch* swatch, const std::string& setting) {
    if (auto color = ColorFromSetting(setting)) {
      swatch->SetColor(color);
    } else {
      swatch->SetUnreadable(Text(setting));
    }
  };
  showColor(txtColor_, settings_->FontColor());
  showColor(txtBackgroundColor_, settings_->BackgroundColor());

  cboBackgroundMode_->setCurrentIndex(ItemForNumber(settings_->BackgroundMode(), cboBackgroundMode_->count()));
  cboFrequency_->setCurrentIndex(ItemForNumber(settings_->Frequency(), cboFrequency_->count()));

  FillLists();

  {
    // Only the selection below sets the preview's size, not the first item
    // that adding selects on its own for a moment.
    QSignalBlocker quiet(cboFontSize_);
    cboFontSize_->clear();
    cboFontSize_->addItems(FontSizeItems());
    cboFontSize_->setCurrentIndex(-1);
  }
  cboFontSize_->setCurrentIndex(FontSizeItemForSetting(settings_->FontSize()));

  for (QComboBox* list : cboMargin_) {
    list->clear();
    list->addItems(MarginItems());
  }
  cboMargin_[0]->setCurrentIndex(MarginItemForSetting(settings_->TopMargin()));
  cboMargin_[1]->setCurrentIndex(MarginItemForSetting(settings_->BottomMargin()));
  cboMargin_[2]->setCurrentIndex(MarginItemForSetting(settings_->LeftMargin()));
  cboMargin_[3]->setCurrentIndex(MarginItemForSetting(settings_->RightMargin()));

  chkAllowViolation_->setChecked(settings_->AllowViolation());
  cboHAlign_->setCurrentIndex(ItemForNumber(settings_->HAlign(), cboHAlign_->count()));
  cboVAlign_->setCurrentIndex(ItemForNumber(settings_->VAlign(), cboVAlign_->count()));
  quoteMonitors_->Show(settings_->QuoteMonitors());
}

void frmSettings::FillLists() {
  // A list the library cannot give (settings never loaded, no catalog) stays
  // empty; the window shows what it has.
  auto fill = [](QListWidget* list, std::vector<std::string>& available, std::vector<std::string>& selected,
                 auto getAvailable, auto getSelected, ListOrder order) {
    available.clear();
    selected.clear();
    if (!getAvailable(available)) available.clear();
    if (!getSelected(selected)) selected.clear();
    FillCheckedList(list, available, selected, order);
  };
  const CResources* catalog = resources_ ? &*resources_ : nullptr;
  const CSettings* settings = settings_.get();
  fill(
      lstBackGrounds_, availableBackgrounds_, selectedBackgrounds_,
      [&](auto& names) { return catalog && catalog->GetAvailableBackgrounds(names).has_value(); },
      [&](auto& names) { return settings->GetSelectedBackgrounds(names).has_value(); }, ListOrder::AsGiven);
  fill(
      lstFont_, availableFonts_, selectedFonts_,
      [&](auto& names) { return catalog && catalog->GetAvailableFonts(names).has_value(); },
      [&](auto& names) { return settings->GetSelectedFonts(names).has_value(); }, ListOrder::Alphabetical);
  fill(
      lstQuotesFiles_, availableQuotesFiles_, selectedQuotesFiles_,
      [&](auto& names) { return catalog && catalog->GetAvailableQuotesFiles(names).has_value(); },
      [&](auto& names) { return settings->GetSelectedQuotesFiles(names).has_value(); }, ListOrder::AsGiven);
  if (!settings->GetSelectedEffects(selectedEffects_)) selectedEffects_.assign(1, std::string());
  FillEffectsList(lstEffects_, effectLabels_, selectedEffects_);
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
// The editing rules

void frmSettings::CommitOnFocusLoss(QWidget* control, std::function<void()> commit) {
  focusCommits_[control] = std::move(commit);
  control->installEventFilter(this);
}

void frmSettings::CommitNumber(QComboBox* list, TextSetter setter) {
  // A list showing no item (its stored value fits none) has nothing to
  // commit; the stored value stays as it is.
  if (list->currentIndex() < 0) return;
  cmdApply_->setEnabled(true);
  (settings_.get()->*setter)(std::to_string(list->currentIndex()));
}

void frmSettings::CommitMargin(int index) {
  static constexpr std::array<TextSetter, 4> kSetters{&CSettings::TopMargin, &CSettings::BottomMargin,
                                                      &CSettings::LeftMargin, &CSettings::RightMargin};
  if (index < 0 || index >= static_cast<int>(kSetters.size())) return;
  QComboBox* list = cboMargin_[static_cast<size_t>(index)];
  if (list->currentIndex() < 0) return;
  cmdApply_->setEnabled(true);
  (settings_.get()->*kSetters[static_cast<size_t>(index)])(MarginSetting(list->currentText()));
}

void frmSettings::CommitFocusedControl() {
  // Enter presses OK without moving the focus; the list the user just
  // changed is committed first, as leaving it would have done.
  auto found = focusCommits_.find(QApplication::focusWidget());
  if (found != focusCommits_.end() && settings_) found->second();
}

void frmSettings::chkUseQuotes_Change() {
  bool checked = chkUseQuotes_->isChecked();
  settings_->UseQuotes(checked);
  lstQuotesFiles_->setEnabled(!checked);
}

void frmSettings::CheckChange(QListWidget* list, std::vector<std::string>& selected, std::string_view defaultName,
                              Status (CSettings::*setter)(const std::vector<std::string>&)) {
  if (isLoading_) return;
  cmdApply_->setEnabled(true);
  CollectCheckedItems(list, selected, defaultName);
  if (auto set = (settings_.get()->*setter)(selected); !set) platform::LogError(set.error().message);
}

void frmSettings::chkAutoStart_Click() { cmdApply_->setEnabled(true); }

void frmSettings::lstEffects_Change() {
  if (isLoading_) return;
  cmdApply_->setEnabled(true);
  selectedEffects_ = CollectEffects(lstEffects_, selectedEffects_);
  if (auto set = settings_->SetSelectedEffects(selectedEffects_); !set) platform::LogError(set.error().message);
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

void frmSettings::lstFont_Highlight() {
  QListWidgetItem* current = lstFont_->currentItem();
  if (!current) return;
  QFont preview = txtFontPreview_->font();
  preview.setFamily(current->text());
  preview.setItalic(false);
  txtFontPreview_->setFont(preview);
}

void frmSettings::cboFontSize_Change() {
  if (cboFontSize_->currentIndex() < 0) return;
  QFont preview = txtFontPreview_->font();
  preview.setPointSize(cboFontSize_->currentText().toInt());
  txtFontPreview_->setFont(preview);
}

void frmSettings::PassFocusOn(QWidget* from, QWidget* to, Qt::FocusReason reason) {
  // Coming backwards with Shift+Tab the focus goes on backwards, so the
  // keyboard can always leave the controls that never keep the focus.
  if (reason == Qt::BacktabFocusReason) {
    for (QWidget* before = from->previousInFocusChain(); before && before != from;
         before = before->previousInFocusChain()) {
      if (before->window() == this && TakesFocus(before)) {
        before->setFocus(Qt::BacktabFocusReason);
        return;
      }
    }
  }
  to->setFocus(Qt::OtherFocusReason);
}

void frmSettings::KeyRelease(int key, Qt::KeyboardModifiers modifiers) {
  QChar backgroundKey = AccessCharacter(lblLabel_[5]->text());
  QChar fontColorKey = AccessCharacter(lblLabel_[3]->text()).toUpper();
  switch (ShortcutFor(key, modifiers, backgroundKey, fontColorKey)) {
    case ShortcutAction::BackgroundColor:
      SwatchClick(txtBackgroundColor_, txtColor_, &CSettings::BackgroundColor);
      break;
    case ShortcutAction::AboutBox:
      ShowAboutBox(this);
      break;
    case ShortcutAction::FontColor:
      SwatchClick(txtColor_, txtBackgroundColor_, &CSettings::FontColor);
      break;
    case ShortcutAction::PageSelector:
      cboVarious_->setFocus(Qt::ShortcutFocusReason);
      break;
    case ShortcutAction::None:
      break;
  }
}

bool frmSettings::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::FocusOut: {
      auto reason = static_cast<QFocusEvent*>(event)->reason();
      // Opening a list's drop-down or switching to another window is no
      // move to another control of the window.
      if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason || reason == Qt::MenuBarFocusReason) {
        break;
      }
      if (auto found = focusCommits_.find(watched); found != focusCommits_.end() && settings_) found->second();
      break;
    }
    case QEvent::FocusIn:
      if (watched == txtFontPreview_) {
        PassFocusOn(txtFontPreview_, cboFontSize_, static_cast<QFocusEvent*>(event)->reason());
      }
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
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
  CommitFocusedControl();
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
  CommitFocusedControl();
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
