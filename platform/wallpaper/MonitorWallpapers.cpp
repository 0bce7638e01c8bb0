// Setting the wallpaper of a screen with several monitors.

#include <algorithm>
#include <sstream>

#include "WallpaperBackends.h"
#include "kvplatform/image/BitmapFile.h"
#include "kvplatform/base/Text.h"
#include "kvplatform/wallpaper/Wallpaper.h"

// Last: it brings in the X headers and their macros.
#include "display/X11Display.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace wallpaper {
namespace {

// A text in double quotes for sway's command parser.
std::string SwayQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

int XfceWorkspaces(const std::string& name) {
  if (name.empty()) return 1;
  auto display = OpenDisplay(name, std::chrono::seconds(3));
  if (!display) return 1;
  ErrorTrap trap(display->get());
  return WorkspaceCount(display->get(), DefaultRootWindow(display->get()));
}

}  // namespace

Status SetXfceMonitors(const std::vector<std::pair<std::string, fs::path>>& images, const fs::path& primaryImage,
                       const std::string& display) {
  KV_TRY_ASSIGN(CommandOutcome listing, RunForOutput({"xfconf-query", "-c", "xfce4-desktop", "-l"}));
  std::vector<std::pair<std::string, fs::path>> settings;
  auto prefixOf = [](const std::string& connector) { return "/backdrop/screen0/monitor" + connector + "/"; };
  // Properties xfdesktop already has: a monitor's own get its picture, any
  // other (older numbered monitors) the primary's.
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    std::string property(TrimWhitespace(line));
    if (!property.ends_with("last-image")) continue;
    fs::path image = primaryImage;
    for (const auto& [connector, file] : images) {
      if (property.starts_with(prefixOf(connector))) image = file;
    }
    settings.emplace_back(property, image);
  }
  // xfdesktop creates a connector's properties only once it has shown a
  // picture itself, so every workspace of every monitor is named here.
  int workspaces = XfceWorkspaces(display);
  for (const auto& [connector, file] : images) {
    for (int workspace = 0; workspace < workspaces; ++workspace) {
      std::string property = prefixOf(connector) + "workspace" + std::to_string(workspace) + "/last-image";
      auto known = std::find_if(settings.begin(), settings.end(), [&](const auto& s) { return s.first == property; });
      if (known == settings.end()) settings.emplace_back(property, file);
    }
  }
  for (const auto& [property, image] : settings) {
    std::string style = property.substr(0, property.size() - std::string_view("last-image").size()) + "image-style";
    KV_TRY(Run({"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", "string", "-s", image.string()}));
    KV_TRY(Run({"xfconf-query", "-c", "xfce4-desktop", "-p", style, "-n", "-t", "int", "-s", "1"}));
  }
  return Ok();
}

Status SetKdeMonitors(const std::vector<std::pair<ScreenRect, fs::path>>& images) {
  // Plasma numbers its screens its own way; a desktop's screen is matched
  // to a monitor by where it lies. An unmatched one gets the first image.
  std::string table;
  for (const auto& [rect, image] : images) {
    table += "[" + std::to_string(rect.left) + "," + std::to_string(rect.top) + ",'" + FileUri(image) + "'],";
  }
  std::string script = "var images = [" + table + "];"
                       "var all = desktops();"
                       "for (var i = 0; i < all.length; i++) {"
                       " var d = all[i];"
                       " var g = screenGeometry(d.screen);"
                       " var uri = images[0][2];"
                       " for (var j = 0; j < images.length; j++) {"
                       "  if (images[j][0] == g.x && images[j][1] == g.y) uri = images[j][2];"
                       " }"
                       " d.wallpaperPlugin = 'org.kde.image';"
                       " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                       " d.writeConfig('Image', uri);"
                       " d.writeConfig('FillMode', 6);"
                       "}";
  return Run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.plasmashell", "/PlasmaShell",
              "org.kde.PlasmaShell.evaluateScript", "string:" + script});
}

Status SetSwayMonitors(const std::vector<std::pair<std::string, fs::path>>& images) {
  for (const auto& [output, image] : images) {
    KV_TRY(Run({"swaymsg", "output " + SwayQuoted(output) + " bg " + SwayQuoted(image.string()) + " center"}));
  }
  return Ok();
}

}  // namespace wallpaper

fs::path MonitorFile(const fs::path& file, const Monitor& screen, std::size_t index) {
  std::string name;
  for (char c : screen.name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                 c == '.';
    name += plain ? c : '_';
  }
  if (name.empty() || name.find_first_not_of('.') == std::string::npos) name = "monitor" + std::to_string(index);
  return file.parent_path() / (file.stem().string() + "-" + name + file.extension().string());
}

Status SetMonitorWallpapers(const Bitmap& whole, const fs::path& file, const std::vector<MonitorImage>& monitors,
                            const std::optional<std::string>& command) {
  using namespace wallpaper;
  if (HasCommand(command) || monitors.empty()) return SetDesktopWallpaper(whole, file, command);
  // Each monitor's picture in a file of its own, handed over as the
  // desktop needs it (a PNG copy, or alternating names it has not seen).
  auto perMonitor = [&](bool pixbufLoader, bool alternating) -> Result<std::vector<fs::path>> {
    std::vector<fs::path> images;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
      fs::path own = MonitorFile(file, monitors[i].Screen, i);
      KV_TRY(SaveBitmapFile(*monitors[i].Picture, own));
      KV_TRY_ASSIGN(fs::path image, ImageFor(*monitors[i].Picture, own, pixbufLoader, alternating));
      images.push_back(std::move(image));
    }
    return images;
  };
  switch (CurrentDesktop()) {
    case Desktop::Gnome:
    case Desktop::Cinnamon: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(whole, file, true, false));
      return SetGnomeLike(CurrentDesktop() == Desktop::Gnome ? "org.gnome.desktop.background"
                                                             : "org.cinnamon.desktop.background",
                          image, "spanned");
    }
    case Desktop::Mate: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(whole, file, true, false));
      return SetMate(image, "spanned");
    }
    case Desktop::Kde: {
      KV_TRY_ASSIGN(std::vector<fs::path> images, perMonitor(false, true));
      std::vector<std::pair<ScreenRect, fs::path>> placed;
      for (std::size_t i = 0; i < monitors.size(); ++i) placed.emplace_back(monitors[i].Screen.rect, images[i]);
      return SetKdeMonitors(placed);
    }
    case Desktop::Xfce: {
      KV_TRY_ASSIGN(std::vector<fs::path> images, perMonitor(true, true));
      std::vector<std::pair<std::string, fs::path>> named;
      for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (!monitors[i].Screen.name.empty()) named.emplace_back(monitors[i].Screen.name, images[i]);
      }
      return SetXfceMonitors(named, images.front(), DisplayName());
    }
    case Desktop::Sway: {
      KV_TRY_ASSIGN(std::vector<fs::path> images, perMonitor(true, false));
      std::vector<std::pair<std::string, fs::path>> named;
      for (std::size_t i = 0; i < monitors.size(); ++i) {
        named.emplace_back(monitors[i].Screen.name.empty() ? "*" : monitors[i].Screen.name, images[i]);
      }
      return SetSwayMonitors(named);
    }
    case Desktop::Lxqt: {
      // pcmanfm-qt is handed one picture: the primary monitor's.
      fs::path own = MonitorFile(file, monitors.front().Screen, 0);
      KV_TRY(SaveBitmapFile(*monitors.front().Picture, own));
      KV_TRY_ASSIGN(fs::path image, ImageFor(*monitors.front().Picture, own, false, true));
      return SetLxqt(image);
    }
    case Desktop::Unknown:
      break;
  }
  if (std::string name = DisplayName(); !name.empty()) return SetRootWindow(whole, name, true);
  return Ok();
}

}  // namespace kv::platform
