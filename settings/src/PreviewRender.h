#pragma once

// What the preview pane shows: a wallpaper made by the service's renderer
// from settings as they are being edited, shrunk to the pane. Nothing here
// touches a widget, the settings store or the wallpaper file, so it runs on
// the pane's worker thread.

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "ReadSettings.h"
#include "kvplatform/display/Screen.h"

namespace kv::settings {

// The random choices one preview shows. They are kept from one render to
// the next, so a change of colour shows the same quote on the same picture;
// Shuffle draws them anew.
struct PreviewPick {
  bool Drawn = false;  // false: nothing drawn yet, draw everything
  std::string BackgroundName;
  std::string FontName;
  std::string QuotesFile;
  std::string Quote;
  std::int32_t HAlign = 0, VAlign = 0;
  std::int32_t TopMargin = 0, BottomMargin = 0, LeftMargin = 0, RightMargin = 0;
};

struct PreviewRequest {
  service::SettingsSnapshot Settings;
  std::string DataFolder;
  platform::ScreenInfo Screen;
  PreviewPick Pick;
  int Width = 320;  // of the picture, in pixels; its height follows the screen's proportions
};

struct PreviewResult {
  enum class Kind {
    Picture,     // Picture holds the preview
    DoesNotFit,  // no attempt fitted: Message is the service's failure message
    Failed,      // Message says what went wrong
    Superseded,  // a newer request made this one pointless
  };
  Kind Outcome = Kind::Failed;
  QImage Picture;
  QString Message;
  PreviewPick Pick;  // the choices shown
};

// The choices for `settings`: what `previous` drew where it is still part
// of the selection (and still random where the setting asks for random),
// new random draws for the rest.
PreviewPick DrawPick(const service::SettingsSnapshot& settings, const std::string& dataFolder,
                     const PreviewPick& previous);

// Makes the preview as the service makes a wallpaper: the first attempt
// shows the request's pick; when its quote does not fit, further attempts
// draw new choices, up to the service's limit. `superseded` is asked
// between attempts; once it answers true the work stops.
PreviewResult RenderPreview(const PreviewRequest& request, const std::function<bool()>& superseded);

}  // namespace kv::settings
