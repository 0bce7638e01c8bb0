#pragma once

// The preview pane of the settings window: the whole screen in small, with
// the wallpaper the edited settings would make on it, and a Shuffle button
// for new random choices. Rendering runs on a worker thread of its own; the
// window never waits for it.

#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "PreviewRender.h"

class QLabel;
class QPushButton;
class QTimer;

namespace kv::settings {

class PreviewPane : public QWidget {
  Q_OBJECT

 public:
  // Pictures `pictureWidth` pixels wide of a screen of the proportions of
  // `screen`.
  PreviewPane(const platform::ScreenInfo& screen, int pictureWidth, QWidget* parent = nullptr);
  // Waits for a render in progress to end.
  ~PreviewPane() override;

  // Renders `settings` after a short pause in which no further change
  // arrives; each change restarts the pause.
  void SettingsChanged(const service::SettingsSnapshot& settings, const std::string& dataFolder);
  // Draws new random choices and renders at once.
  void Shuffle();
  // Shows `message` instead of a picture, for settings that cannot be shown.
  void ShowProblem(const QString& message);

  // How many previews have been shown (pictures and messages), for tests.
  int ShownCount() const { return shownCount_; }
  const QImage& ShownPicture() const { return shownPicture_; }
  QString ShownMessage() const;
  // Called on the worker thread before each render; tests hold a render
  // back with it.
  void SetRenderHook(std::function<void()> hook);

 signals:
  void PreviewShown();

 private:
  void StartRender();
  void WorkerLoop();
  void Show(std::uint64_t generation, PreviewResult result);

  platform::ScreenInfo screen_;
  int pictureWidth_;
  QLabel* picture_ = nullptr;
  QPushButton* cmdShuffle_ = nullptr;
  QTimer* pause_ = nullptr;

  // The latest settings and the choices last shown (GUI thread only).
  std::optional<service::SettingsSnapshot> settings_;
  std::string dataFolder_;
  PreviewPick pick_;
  QImage shownPicture_;
  int shownCount_ = 0;

  // Shared with the worker, under mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<PreviewRequest> pending_;
  std::uint64_t latest_ = 0;  // the generation of the newest request
  bool stopping_ = false;
  std::function<void()> renderHook_;
  std::thread worker_;
};

}  // namespace kv::settings
