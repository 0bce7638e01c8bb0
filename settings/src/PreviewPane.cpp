#include "PreviewPane.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kv::settings {
namespace {

// How long the settings must rest before they are rendered: quick enough
// to feel immediate, long enough that a run of changes renders once.
constexpr int kPauseMs = 200;

}  // namespace

PreviewPane::PreviewPane(const platform::ScreenInfo& screen, int pictureWidth, QWidget* parent)
    : QWidget(parent), screen_(screen), pictureWidth_(pictureWidth) {
  setObjectName(QStringLiteral("fraPreview"));
  const double aspect = static_cast<double>(std::max(1, screen.height)) / std::max(1, screen.width);
  const int pictureHeight = std::max(1, static_cast<int>(std::lround(pictureWidth * aspect)));

  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("imgPreview"));
  picture_->setFixedSize(pictureWidth, pictureHeight);
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setWordWrap(true);
  picture_->setMargin(0);
  picture_->setStyleSheet(QStringLiteral("QLabel { background: #202020; color: #f0f0f0; }"));
  picture_->setText(QStringLiteral("Preparing the preview…"));

  cmdShuffle_ = new QPushButton(QStringLiteral("S&huffle"), this);
  cmdShuffle_->setObjectName(QStringLiteral("cmdShuffle"));
  cmdShuffle_->setToolTip(QStringLiteral("Another quote, font and picture from the selection"));
  connect(cmdShuffle_, &QPushButton::clicked, this, &PreviewPane::Shuffle);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(picture_);
  layout->addWidget(cmdShuffle_, 0, Qt::AlignRight);
  layout->addStretch(1);

  pause_ = new QTimer(this);
  pause_->setSingleShot(true);
  pause_->setInterval(kPauseMs);
  connect(pause_, &QTimer::timeout, this, &PreviewPane::StartRender);

  worker_ = std::thread([this] { WorkerLoop(); });
}

PreviewPane::~PreviewPane() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    ++latest_;  // a render in progress stops at its next attempt
  }
  wake_.notify_all();
  worker_.join();
}

void PreviewPane::SettingsChanged(const service::SettingsSnapshot& settings, const std::string& dataFolder) {
  settings_ = settings;
  dataFolder_ = dataFolder;
  pause_->start();
}

void PreviewPane::Shuffle() {
  pick_ = PreviewPick{};
  pause_->stop();
  StartRender();
}

void PreviewPane::ShowProblem(const QString& message) {
  settings_.reset();
  {
    std::lock_guard lock(mutex_);
    ++latest_;  // nothing still on its way replaces the message
  }
  pause_->stop();
  cmdShuffle_->setEnabled(false);
  shownPicture_ = QImage();
  picture_->setPixmap(QPixmap());
  picture_->setText(message);
}

QString PreviewPane::ShownMessage() const { return picture_->pixmap().isNull() ? picture_->text() : QString(); }

void PreviewPane::SetRenderHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  renderHook_ = std::move(hook);
}

void PreviewPane::StartRender() {
  if (!settings_) return;
  PreviewRequest request;
  request.Settings = *settings_;
  request.DataFolder = dataFolder_;
  request.Screen = screen_;
  request.Pick = pick_;
  // Sharp on a screen of any pixel density.
  request.Width = std::max(1, static_cast<int>(std::lround(pictureWidth_ * devicePixelRatioF())));
  {
    std::lock_guard lock(mutex_);
    // A request not yet taken is replaced: only the newest is worth making.
    pending_ = std::move(request);
    ++latest_;
  }
  wake_.notify_one();
}

void PreviewPane::WorkerLoop() {
  while (true) {
    PreviewRequest request;
    std::uint64_t generation = 0;
    std::function<void()> hook;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
      if (stopping_) return;
      request = std::move(*pending_);
      pending_.reset();
      generation = latest_;
      hook = renderHook_;
    }
    if (hook) hook();
    auto superseded = [this, generation] {
      std::lock_guard lock(mutex_);
      return latest_ != generation;
    };
    PreviewResult result = RenderPreview(request, superseded);
    if (result.Outcome == PreviewResult::Kind::Superseded || superseded()) continue;
    // Handed to the GUI thread; dropped there when a newer request came
    // meanwhile, and dropped by Qt when the pane is gone.
    QMetaObject::invokeMethod(
        this, [this, generation, shown = std::move(result)]() mutable { Show(generation, std::move(shown)); },
        Qt::QueuedConnection);
  }
}

void PreviewPane::Show(std::uint64_t generation, PreviewResult result) {
  {
    std::lock_guard lock(mutex_);
    if (generation != latest_) return;
  }
  pick_ = result.Pick;
  if (result.Outcome == PreviewResult::Kind::Picture) {
    shownPicture_ = result.Picture;
    QPixmap pixmap = QPixmap::fromImage(result.Picture);
    pixmap.setDevicePixelRatio(static_cast<double>(result.Picture.width()) / pictureWidth_);
    picture_->setPixmap(pixmap);
  } else {
    shownPicture_ = QImage();
    picture_->setPixmap(QPixmap());
    picture_->setText(result.Message);
  }
  ++shownCount_;
  emit PreviewShown();
}

}  // namespace kv::settings
