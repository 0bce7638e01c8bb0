#include "kvplatform/Wallpaper.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kvplatform/BitmapFile.h"
#include "kvplatform/Command.h"
#include "kvplatform/Text.h"

// Last: it brings in the X headers and their macros.
#include "X11Display.h"

namespace kv::platform {
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

enum class Desktop { Unknown, Gnome, Cinnamon, Mate, Kde, Xfce, Lxqt, Sway };

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

// The file a desktop is handed: the wallpaper itself, a PNG copy for a
// loader without bitmaps, or the next of two alternating copies.
Result<fs::path> ImageFor(const Bitmap& bitmap, const fs::path& file, bool pixbufLoader, bool alternating) {
  bool png = pixbufLoader && PixbufLacksBitmaps();
  if (!alternating) {
    if (!png) return file;
    fs::path copy = fs::path(file).replace_extension(".png");
    KV_TRY(SavePngFile(bitmap, copy));
    return copy;
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

Status SetGnomeLike(const std::string& schema, const fs::path& image) {
  std::string uri = FileUri(image);
  KV_TRY(Run({"gsettings", "set", schema, "picture-uri", uri}));
  // Older versions have no dark-mode key; where it exists, a wallpaper set
  // only for light mode would leave dark mode showing something else.
  (void)Run({"gsettings", "set", schema, "picture-uri-dark", uri});
  return Run({"gsettings", "set", schema, "picture-options", "centered"});
}

Status SetMate(const fs::path& image) {
  KV_TRY(Run({"gsettings", "set", "org.mate.background", "picture-filename", image.string()}));
  return Run({"gsettings", "set", "org.mate.background", "picture-options", "centered"});
}

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

Status SetXfce(const fs::path& image) {
  KV_TRY_ASSIGN(CommandOutcome listing, RunForOutput({"xfconf-query", "-c", "xfce4-desktop", "-l"}));
  std::vector<std::string> properties;
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    std::string_view property = TrimWhitespace(line);
    if (property.ends_with("last-image")) properties.emplace_back(property);
  }
  // A desktop that never showed a picture has no property yet.
  if (properties.empty()) properties.emplace_back("/backdrop/screen0/monitor0/workspace0/last-image");
  for (const std::string& property : properties) {
    std::string style = property.substr(0, property.size() - std::string_view("last-image").size()) + "image-style";
    KV_TRY(Run({"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-n", "-t", "string", "-s", image.string()}));
    KV_TRY(Run({"xfconf-query", "-c", "xfce4-desktop", "-p", style, "-n", "-t", "int", "-s", "1"}));
  }
  return Ok();
}

Status SetLxqt(const fs::path& image) {
  return Run({"pcmanfm-qt", "--set-wallpaper=" + image.string(), "--wallpaper-mode=center"});
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

// The X root window's background: a pixmap made on a connection of its own
// that is kept by the server after it closes, so the picture outlives this
// program; the pixmap it replaces is freed through the properties that
// name it, as other tools that set the root background expect.
Status SetRootWindow(const Bitmap& bitmap, const std::string& name) {
  constexpr auto kTimeout = std::chrono::seconds(3);
  // The main connection first: a display that cannot be reached must not
  // be left holding a retained pixmap nobody will ever free.
  KV_TRY_ASSIGN(DisplayHandle main, OpenDisplay(name, kTimeout));
  Pixmap pixmap = None;
  {
    KV_TRY_ASSIGN(DisplayHandle owner, OpenDisplay(name, kTimeout));
    Display* display = owner.get();
    ErrorTrap trap(display);
    int screen = DefaultScreen(display);
    Window root = RootWindow(display, screen);
    int rootWidth = DisplayWidth(display, screen), rootHeight = DisplayHeight(display, screen);
    unsigned depth = static_cast<unsigned>(DefaultDepth(display, screen));
    Visual* visual = DefaultVisual(display, screen);
    pixmap = XCreatePixmap(display, root, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight), depth);
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XSetForeground(display, gc, BlackPixel(display, screen));
    XFillRectangle(display, pixmap, gc, 0, 0, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight));

    // The picture is shown unscaled, on black.
    const int width = bitmap.Width(), height = bitmap.Height();
    XImage* image = XCreateImage(display, visual, depth, ZPixmap, 0, nullptr, static_cast<unsigned>(width),
                                 static_cast<unsigned>(height), 32, 0);
    if (!image) {
      XFreeGC(display, gc);
      XFreePixmap(display, pixmap);
      return Fail("the X display \"" + name + "\" cannot take a picture of its screen format");
    }
    image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(height)));
    if (!image->data) {
      XDestroyImage(image);
      XFreeGC(display, gc);
      XFreePixmap(display, pixmap);
      return Fail("out of memory for the root window's picture");
    }
    auto shift = [](unsigned long mask) {
      int bits = 0;
      while (mask && !(mask & 1)) mask >>= 1, ++bits;
      return bits;
    };
    const int redShift = shift(image->red_mask), greenShift = shift(image->green_mask), blueShift = shift(image->blue_mask);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = bitmap.Row(y);
      if (direct) {
        auto* out = reinterpret_cast<std::uint8_t*>(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line);
        for (int x = 0; x < width; ++x, in += 3, out += 4) out[0] = in[0], out[1] = in[1], out[2] = in[2], out[3] = 0;
      } else {
        for (int x = 0; x < width; ++x, in += 3) {
          unsigned long pixel = ((static_cast<unsigned long>(in[2]) << redShift) & image->red_mask) |
                                ((static_cast<unsigned long>(in[1]) << greenShift) & image->green_mask) |
                                ((static_cast<unsigned long>(in[0]) << blueShift) & image->blue_mask);
          XPutPixel(image, x, y, pixel);
        }
      }
    }
    // In the middle of the primary monitor, which the wallpaper was made for.
    ScreenRect monitor = PrimaryMonitor(display, root);
    XPutImage(display, pixmap, gc, image, 0, 0, monitor.left + (monitor.right - monitor.left - width) / 2,
              monitor.top + (monitor.bottom - monitor.top - height) / 2, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
    XDestroyImage(image);
    XFreeGC(display, gc);
    if (trap.Sync() > 0 || ConnectionLost(display)) {
      XFreePixmap(display, pixmap);
      return Fail("the X display \"" + name + "\" refused the root window's picture");
    }
    XSetCloseDownMode(display, RetainPermanent);
  }

  Display* display = main.get();
  Window root = DefaultRootWindow(display);
  Atom rootId = XInternAtom(display, "_XROOTPMAP_ID", False);
  Atom setRootId = XInternAtom(display, "ESETROOT_PMAP_ID", False);
  XGrabServer(display);
  {
    ErrorTrap trap(display);
    auto previous = [&](Atom atom) -> Pixmap {
      Atom type = None;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      Pixmap found = None;
      if (XGetWindowProperty(display, root, atom, 0, 1, False, XA_PIXMAP, &type, &format, &items, &after, &data) ==
              Success &&
          data) {
        if (type == XA_PIXMAP && format == 32 && items == 1) found = static_cast<Pixmap>(*reinterpret_cast<long*>(data));
        XFree(data);
      }
      return found;
    };
    Pixmap old = previous(rootId);
    // Only a pixmap that both properties name was made for the root by a
    // tool like this one and may be freed; a stale id just raises an error
    // that the trap absorbs.
    if (old != None && old == previous(setRootId) && old != pixmap) {
      XKillClient(display, old);
      trap.Sync();
    }
    long id = static_cast<long>(pixmap);
    XChangeProperty(display, root, rootId, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&id), 1);
    XChangeProperty(display, root, setRootId, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&id), 1);
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
  }
  XUngrabServer(display);
  XSync(display, False);
  if (ConnectionLost(display)) return Fail("the connection to the X display \"" + name + "\" was lost");
  return Ok();
}

}  // namespace

Result<std::vector<std::string>> ExpandWallpaperCommand(std::string_view command, const std::string& file) {
  std::vector<std::string> args;
  std::string current;
  bool inWord = false;
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
        } else if (command[j] == '%' && j + 1 < command.size() && command[j + 1] == 'f') {
          current += file;
          ++j;
        } else if (command[j] == '%' && j + 1 < command.size() && command[j + 1] == '%') {
          current += '%';
          ++j;
        } else {
          current += command[j];
        }
      }
      if (j >= command.size()) return Fail(ErrorCode::InvalidArgument, "an opening \" has no closing \"");
      i = j;
    } else if (c == '\\' && i + 1 < command.size()) {
      current += command[++i];
    } else if (c == '%' && i + 1 < command.size() && command[i + 1] == 'f') {
      current += file;
      ++i;
    } else if (c == '%' && i + 1 < command.size() && command[i + 1] == '%') {
      current += '%';
      ++i;
    } else {
      current += c;
    }
  }
  if (inWord) args.push_back(std::move(current));
  if (args.empty()) return Fail(ErrorCode::InvalidArgument, "the command is empty");
  return args;
}

Status SetDesktopWallpaper(const Bitmap& bitmap, const fs::path& file, const std::optional<std::string>& command) {
  if (command && !TrimWhitespace(*command).empty()) {
    auto args = ExpandWallpaperCommand(*command, file.string());
    if (!args) return Fail(args.error(), "the setting WallpaperCommand \"" + *command + "\" cannot be used");
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
      return SetXfce(image);
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

}  // namespace kv::platform
