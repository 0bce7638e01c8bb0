#include "kvplatform/wallpaper/Wallpaper.h"

#include <cstdlib>

#include "WallpaperBackends.h"
#include "kvplatform/base/Text.h"

// Last: it brings in the X headers and their macros.
#include "display/X11Display.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace wallpaper {

Desktop CurrentDesktop() {
  const char* value = std::getenv("XDG_CURRENT_DESKTOP");
  std::string_view names = value ? value : "";
  // A list such as "ubuntu:GNOME": the first name known here decides.
  while (!names.empty()) {
    auto colon = names.find(':');
    std::string_view name = names.substr(0, colon);
    names = colon == std::string_view::npos ? std::string_view() : names.substr(colon + 1);
    if (EqualsIgnoreCase(name, "GNOME") || EqualsIgnoreCase(name, "Unity") || EqualsIgnoreCase(name, "Budgie")) {
      return Desktop::Gnome;
    }
    if (EqualsIgnoreCase(name, "X-Cinnamon") || EqualsIgnoreCase(name, "Cinnamon")) return Desktop::Cinnamon;
    if (EqualsIgnoreCase(name, "MATE")) return Desktop::Mate;
    if (EqualsIgnoreCase(name, "KDE")) return Desktop::Kde;
    if (EqualsIgnoreCase(name, "XFCE")) return Desktop::Xfce;
    if (EqualsIgnoreCase(name, "LXQt")) return Desktop::Lxqt;
    if (EqualsIgnoreCase(name, "sway")) return Desktop::Sway;
  }
  return Desktop::Unknown;
}

bool HasCommand(const std::optional<std::string>& command) {
  return command && !TrimWhitespace(*command).empty();
}

}  // namespace wallpaper

namespace {

using wallpaper::CurrentDesktop;
using wallpaper::Desktop;
using wallpaper::HasCommand;


// Splits `command` as ExpandWallpaperCommand says; `usesPng` tells whether
// it names the PNG copy.
Result<std::vector<std::string>> Expand(std::string_view command, const std::string& file, const std::string& png,
                                        bool& usesPng) {
  usesPng = false;
  std::vector<std::string> args;
  std::string current;
  bool inWord = false;
  // A placeholder at command[i] ("%f", "%p", "%%") goes into the word.
  auto placeholder = [&](std::size_t& i) {
    if (command[i] != '%' || i + 1 >= command.size()) return false;
    char code = command[i + 1];
    if (code == 'f') {
      current += file;
    } else if (code == 'p') {
      current += png;
      usesPng = true;
    } else if (code == '%') {
      current += '%';
    } else {
      return false;
    }
    ++i;
    return true;
  };
  for (std::size_t i = 0; i < command.size(); ++i) {
    char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) args.push_back(std::move(current)), current.clear(), inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      auto end = command.find('\'', i + 1);
      if (end == std::string_view::npos) return Fail(ErrorCode::InvalidArgument, "an opening ' has no closing '");
      current.append(command.substr(i + 1, end - i - 1));
      i = end;
    } else if (c == '"') {
      std::size_t j = i + 1;
      for (; j < command.size() && command[j] != '"'; ++j) {
        if (command[j] == '\\' && j + 1 < command.size() && (command[j + 1] == '"' || command[j + 1] == '\\')) {
          current += command[++j];
        } else if (!placeholder(j)) {
          current += command[j];
        }
      }
      if (j >= command.size()) return Fail(ErrorCode::InvalidArgument, "an opening \" has no closing \"");
      i = j;
    } else if (c == '\\' && i + 1 < command.size()) {
      current += command[++i];
    } else if (!placeholder(i)) {
      current += c;
    }
  }
  if (inWord) args.push_back(std::move(current));
  if (args.empty()) return Fail(ErrorCode::InvalidArgument, "the command is empty");
  return args;
}

}  // namespace

Result<std::vector<std::string>> ExpandWallpaperCommand(std::string_view command, const std::string& file,
                                                        const std::string& pngFile) {
  bool usesPng = false;
  return Expand(command, file, pngFile, usesPng);
}

Status SetDesktopWallpaper(const Bitmap& bitmap, const fs::path& file, const std::optional<std::string>& command) {
  using namespace wallpaper;
  if (HasCommand(command)) {
    bool usesPng = false;
    fs::path png = fs::path(file).replace_extension(".png");
    auto args = Expand(*command, file.string(), png.string(), usesPng);
    if (!args) return Fail(args.error(), "the setting WallpaperCommand \"" + *command + "\" cannot be used");
    // Setters that cannot read bitmaps are handed a PNG copy through %p.
    if (usesPng) KV_TRY(PngCopy(bitmap, file));
    if (auto ran = Run(*args); !ran) return Fail(ran.error(), "the WallpaperCommand");
    return Ok();
  }
  switch (CurrentDesktop()) {
    case Desktop::Gnome: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, true, false));
      return SetGnomeLike("org.gnome.desktop.background", image);
    }
    case Desktop::Cinnamon: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, true, false));
      return SetGnomeLike("org.cinnamon.desktop.background", image);
    }
    case Desktop::Mate: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, true, false));
      return SetMate(image);
    }
    case Desktop::Kde: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, false, true));
      return SetKde(image);
    }
    case Desktop::Xfce: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, true, true));
      return SetXfce(image, DisplayName());
    }
    case Desktop::Lxqt: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, false, true));
      return SetLxqt(image);
    }
    case Desktop::Sway: {
      KV_TRY_ASSIGN(fs::path image, ImageFor(bitmap, file, true, false));
      return SetSway(image);
    }
    case Desktop::Unknown:
      break;
  }
  if (std::string name = DisplayName(); !name.empty()) return SetRootWindow(bitmap, name);
  return Ok();
}

bool WallpaperOutlivesSession(const std::optional<std::string>& command) {
  if (HasCommand(command)) return false;
  switch (CurrentDesktop()) {
    case Desktop::Unknown:
      return DisplayName().empty();
    case Desktop::Lxqt:
      // pcmanfm-qt keeps in memory the placement it read when it started
      // and writes that back when it ends, whatever it was told since.
      return false;
    default:
      return true;
  }
}

}  // namespace kv::platform
