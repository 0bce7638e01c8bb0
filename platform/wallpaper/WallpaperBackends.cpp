#include "WallpaperBackends.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kvplatform/image/BitmapFile.h"
#include "kvplatform/base/Text.h"

// Last: it brings in the X headers and their macros.
#include "display/X11Display.h"

namespace kv::platform::wallpaper {
namespace fs = std::filesystem;

namespace {

std::chrono::milliseconds CommandTimeout() {
  if (const char* value = std::getenv("KVILLO_COMMAND_TIMEOUT_MS")) {
    std::string text(value);
    if (!text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos) {
      long parsed = std::stol(text);
      if (parsed > 0) return std::chrono::milliseconds(parsed);
    }
  }
  return std::chrono::seconds(10);
}

}  // namespace

// Runs one tool; anything but a clean exit is the tool's refusal.
Status Run(const std::vector<std::string>& args) {
  KV_TRY_ASSIGN(CommandOutcome outcome, RunCommand(args, CommandTimeout()));
  if (!outcome.Succeeded()) return Fail(args[0] + " " + outcome.Describe());
  return Ok();
}

Result<CommandOutcome> RunForOutput(const std::vector<std::string>& args) {
  KV_TRY_ASSIGN(CommandOutcome outcome, RunCommand(args, CommandTimeout()));
  if (!outcome.Succeeded()) return Fail(args[0] + " " + outcome.Describe());
  return outcome;
}

std::string FileUri(const fs::path& file) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : file.string()) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-._~/", c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

namespace {

// Newer image-loader builds leave bitmap support out; their loader list then
// names no image/bmp.
bool PixbufLacksBitmaps() {
  std::vector<std::string> candidates;
  if (const char* file = std::getenv("GDK_PIXBUF_MODULE_FILE"); file && *file) {
    candidates.emplace_back(file);
  } else {
    for (const char* pattern : {"/usr/lib/*/gdk-pixbuf-2.0/2.10.0/loaders.cache",
                                "/usr/lib64/gdk-pixbuf-2.0/2.10.0/loaders.cache",
                                "/usr/lib/gdk-pixbuf-2.0/2.10.0/loaders.cache"}) {
      glob_t found{};
      if (::glob(pattern, 0, nullptr, &found) == 0) {
        for (std::size_t i = 0; i < found.gl_pathc; ++i) candidates.emplace_back(found.gl_pathv[i]);
      }
      ::globfree(&found);
    }
  }
  for (const std::string& candidate : candidates) {
    std::ifstream in(candidate, std::ios::binary);
    if (!in) continue;
    std::stringstream content;
    content << in.rdbuf();
    return content.str().find("image/bmp") == std::string::npos;
  }
  return false;
}

// The older of two alternating names beside `file` (a missing one is
// oldest), so a desktop never sees the path it already shows.
fs::path NextAlternate(const fs::path& file, std::string_view extension) {
  fs::path folder = file.parent_path();
  std::string stem = file.stem().string();
  fs::path a = folder / (stem + "-a" + std::string(extension));
  fs::path b = folder / (stem + "-b" + std::string(extension));
  struct stat infoA {}, infoB {};
  bool hasA = ::stat(a.c_str(), &infoA) == 0, hasB = ::stat(b.c_str(), &infoB) == 0;
  if (!hasA) return a;
  if (!hasB) return b;
  auto newer = [](const struct stat& x, const struct stat& y) {
    return x.st_mtim.tv_sec != y.st_mtim.tv_sec ? x.st_mtim.tv_sec > y.st_mtim.tv_sec
                                                : x.st_mtim.tv_nsec > y.st_mtim.tv_nsec;
  };
  return newer(infoA, infoB) ? b : a;
}

}  // namespace

// The file a desktop is handed: the wallpaper itself, a PNG copy for a
// loader without bitmaps, or the next of two alternating copies.
Result<fs::path> ImageFor(const Bitmap& bitmap, const fs::path& file, bool pixbufLoader, bool alternating) {
  bool png = pixbufLoader && PixbufLacksBitmaps();
  if (!alternating) {
    if (!png) return file;
    return PngCopy(bitmap, file);
  }
  fs::path next = NextAlternate(file, png ? ".png" : ".bmp");
  if (png) {
    KV_TRY(SavePngFile(bitmap, next));
  } else {
    KV_TRY(ReplaceWithAlias(file, next));
  }
  // The file system stamps writes with a coarse clock, so two wallpapers
  // made within one tick would look equally old; the fine clock keeps the
  // copy just handed over the newer one.
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const timespec times[2] = {now, now};
  (void)::utimensat(AT_FDCWD, next.c_str(), times, 0);
  return next;
}

Result<fs::path> PngCopy(const Bitmap& bitmap, const fs::path& file) {
  fs::path copy = fs::path(file).replace_extension(".png");
  KV_TRY(SavePngFile(bitmap, copy));
  return copy;
}

Status SetGnomeLike(const std::string& schema, const fs::path& image, const std::string& options) {
  std::string uri = FileUri(image);
  KV_TRY(Run({"gsettings", "set", schema, "picture-uri", uri}));
  // Older versions have no dark-mode key; where it exists, a wallpaper set
  // only for light mode would leave dark mode showing something else.
  (void)Run({"gsettings", "set", schema, "picture-uri-dark", uri});
  return Run({"gsettings", "set", schema, "picture-options", options});
}

Status SetMate(const fs::path& image, const std::string& options) {
  KV_TRY(Run({"gsettings", "set", "org.mate.background", "picture-filename", image.string()}));
  return Run({"gsettings", "set", "org.mate.background", "picture-options", options});
}

namespace {

std::string KdeScript(const fs::path& image) {
  // The URI is percent-encoded, so it needs no escaping inside the quotes.
  return "var all = desktops();"
         "for (var i = 0; i < all.length; i++) {"
         " var d = all[i];"
         " d.wallpaperPlugin = 'org.kde.image';"
         " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
         " d.writeConfig('Image', '" +
         FileUri(image) +
         "');"
         " d.writeConfig('FillMode', 6);"
         "}";
}

}  // namespace

Status SetKde(const fs::path& image) {
  // Plasma 6.2 and later take the placement on the command line; older
  // ones only through the shell's scripting interface.
  Status direct = Run({"plasma-apply-wallpaperimage", "-f", "pad", image.string()});
  if (direct) return Ok();
  Status scripted = Run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.plasmashell", "/PlasmaShell",
                         "org.kde.PlasmaShell.evaluateScript", "string:" + KdeScript(image)});
  if (scripted) return Ok();
  return Fail(direct.error().message + "; " + scripted.error().message);
}

namespace {

// The backdrop properties of every active monitor connector and workspace
// of `name`: xfdesktop reads these, by connector name, and creates them only
// once it has shown a picture itself.
std::vector<std::string> XfceBackdrops(const std::string& name) {
  std::vector<std::string> properties;
  if (name.empty()) return properties;
  auto display = OpenDisplay(name, std::chrono::seconds(3));
  if (!display) return properties;
  Display* connection = display->get();
  ErrorTrap trap(connection);
  Window root = DefaultRootWindow(connection);
  int workspaces = WorkspaceCount(connection, root);
  for (const std::string& output : ActiveOutputNames(connection, root)) {
    for (int workspace = 0; workspace < workspaces; ++workspace) {
      properties.push_back("/backdrop/screen0/monitor" + output + "/workspace" + std::to_string(workspace) +
                           "/last-image");
    }
  }
  return properties;
}

}  // namespace

Status SetXfce(const fs::path& image, const std::string& display) {
  KV_TRY_ASSIGN(CommandOutcome listing, RunForOutput({"xfconf-query", "-c", "xfce4-desktop", "-l"}));
  std::vector<std::string> properties;
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    std::string_view property = TrimWhitespace(line);
    if (property.ends_with("last-image")) properties.emplace_back(property);
  }
  // A desktop that never showed a picture has no property yet: older
  // versions read the numbered monitor, newer ones the connector's name.
  if (properties.empty()) properties.emplace_back("/backdrop/screen0/monitor0/workspace0/last-image");
  for (std::string& property : XfceBackdrops(display)) {
    if (std::find(properties.begin(), properties.end(), property) == properties.end()) {
      properties.push_back(std::move(property));
    }
  }
  for (const std::string& property : properties) {
    std::string style = property.substr(0, property.size() - std::string_view("last-image").size()) + "image-style";
    KV_TRY(Run({"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", "string", "-s", image.string()}));
    KV_TRY(Run({"xfconf-query", "-c", "xfce4-desktop", "-p", style, "-n", "-t", "int", "-s", "1"}));
  }
  return Ok();
}

Status SetSway(const fs::path& image) {
  std::string quoted = "\"";
  for (char c : image.string()) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return Run({"swaymsg", "output * bg " + quoted + " center"});
}

}  // namespace kv::platform::wallpaper
