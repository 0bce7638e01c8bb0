#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "WallpaperBackends.h"
#include "kvplatform/base/Paths.h"

namespace kv::platform::wallpaper {
namespace fs = std::filesystem;

namespace {

// The display a process shows its windows on, from its environment.
std::string DisplayOf(const fs::path& process) {
  std::ifstream in(process / "environ", std::ios::binary);
  std::string display, wayland;
  for (std::string entry; std::getline(in, entry, '\0');) {
    if (entry.starts_with("DISPLAY=")) display = entry.substr(8);
    if (entry.starts_with("WAYLAND_DISPLAY=")) wayland = entry.substr(16);
  }
  return display + "\n" + wayland;
}

// The settings profile of this user's pcmanfm-qt desktop on this session's
// display ("lxqt" in an LXQt session, "default" when started without one),
// or nothing when none shows the desktop here.
std::optional<std::string> RunningDesktopProfile() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string here = std::string(display ? display : "") + "\n" + (wayland ? wayland : "");
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return std::nullopt;
  const uid_t me = ::getuid();
  while (dirent* entry = ::readdir(proc.get())) {
    std::string_view name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos) continue;
    fs::path folder = fs::path("/proc") / name;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || info.st_uid != me) continue;
    std::ifstream in(folder / "cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; args.size() < 256 && std::getline(in, arg, '\0');) args.push_back(arg);
    if (args.empty() || fs::path(args[0]).filename() != "pcmanfm-qt") continue;
    bool desktop = false;
    std::string profile = "default";
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg == "--desktop" || arg == "-d") desktop = true;
      if (arg.starts_with("--profile=")) profile = arg.substr(10);
      if ((arg == "--profile" || arg == "-p") && i + 1 < args.size()) profile = args[++i];
    }
    if (desktop && DisplayOf(folder) == here) return profile;
  }
  return std::nullopt;
}

// A value as pcmanfm-qt's settings file (Qt's INI format) writes it: a
// leading '@' doubled, backslashes and quotes escaped, and the whole value
// quoted when a list separator or an outer blank would change its meaning.
Result<std::string> IniValue(std::string_view text) {
  std::string value = text.starts_with('@') ? "@" : "";
  bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return Fail(ErrorCode::InvalidArgument, "the path holds a control character");
    }
    if (c == '\\' || c == '"') value += '\\';
    if (c == ',' || c == ';') quote = true;
    value += c;
  }
  return quote ? "\"" + value + "\"" : value;
}

// Sets `values` in the [Desktop] section of the settings file `file`,
// keeping every other line as it was. Written beside the file and renamed
// over it, so pcmanfm-qt never reads half a file.
Status StoreDesktopSettings(const fs::path& file, const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> lines;
  mode_t mode = 0644;
  if (std::ifstream in(file, std::ios::binary); in) {
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) mode = info.st_mode & 07777;
  }
  auto section = std::find(lines.begin(), lines.end(), "[Desktop]");
  if (section == lines.end()) {
    if (!lines.empty() && !lines.back().empty()) lines.emplace_back();
    lines.emplace_back("[Desktop]");
    section = lines.end() - 1;
  }
  std::size_t begin = static_cast<std::size_t>(section - lines.begin()) + 1;
  for (const auto& [key, value] : values) {
    std::size_t end = begin;
    while (end < lines.size() && !lines[end].starts_with('[')) ++end;
    std::size_t at = begin;
    while (at < end && !lines[at].starts_with(key + "=")) ++at;
    if (at < end) {
      lines[at] = key + "=" + value;
    } else {
      while (end > begin && lines[end - 1].empty()) --end;  // before the blank line that ends the section
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end), key + "=" + value);
    }
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";

  KV_TRY(EnsureDirectory(file.parent_path()));
  std::string temporary = file.string() + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return Fail("cannot write beside " + file.string() + ": " + std::strerror(errno));
  bool written = ::fchmod(fd, mode) == 0 &&
                 ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  int error = errno;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
    if (written) error = errno;
    ::unlink(temporary.c_str());
    return Fail("cannot write " + file.string() + ": " + std::strerror(error));
  }
  return Ok();
}

// pcmanfm-qt runs one instance per session: a later one hands its command
// line to the first over the session bus and ends. A command run while no
// instance owns the bus name becomes that instance itself, and a desktop
// starting meanwhile hands its own start to the command and ends, leaving
// the session without a desktop. False only when the bus says for sure that
// nobody owns the name yet; a bus that cannot be asked leaves the command to
// find the desktop itself.
bool DesktopNameUnowned() {
  auto outcome = RunForOutput({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                               "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                               "string:org.pcmanfm.PCManFM"});
  return outcome && outcome->Succeeded() && outcome->out.find("boolean false") != std::string::npos;
}

// True once the running desktop owns its bus name, within a few seconds. A
// desktop claims the name before it reads its settings, so one that has
// not claimed it yet still takes the picture from its settings file.
bool DesktopAnswers() {
  for (int attempt = 0; attempt < 15; ++attempt) {
    if (!DesktopNameUnowned()) return true;
    ::usleep(200'000);
  }
  return false;
}

}  // namespace

Status SetLxqt(const fs::path& image) {
  // pcmanfm-qt shows the picture centred as asked but stores the mode
  // "none" in its settings, so after its next start the desktop would be
  // black; the stored mode is put right. A desktop that is not running, or
  // not yet listening, is not sent the command (see DesktopNameUnowned):
  // its settings get the picture and it shows it when it starts.
  std::optional<std::string> running = RunningDesktopProfile();
  bool listening = running && DesktopAnswers();
  if (listening) KV_TRY(Run({"pcmanfm-qt", "--set-wallpaper=" + image.string(), "--wallpaper-mode=center"}));
  std::string profile = running.value_or("lxqt");
  if (profile.empty() || profile.find('/') != std::string::npos || profile == "." || profile == "..") {
    return Fail("pcmanfm-qt runs with the profile \"" + profile + "\", whose settings cannot be found");
  }
  fs::path settings = ConfigHome() / "pcmanfm-qt" / profile / "settings.conf";
  std::vector<std::pair<std::string, std::string>> values{{"WallpaperMode", "center"}};
  if (!listening) {
    KV_TRY_ASSIGN(std::string path, IniValue(image.string()));
    values.emplace_back("Wallpaper", path);
  }
  KV_TRY(StoreDesktopSettings(settings, values));
  if (running && !listening) {
    return Fail("the pcmanfm-qt desktop is still starting, so the wallpaper shows once it has started (it is stored in " +
                settings.string() + ")");
  }
  if (!running) {
    return Fail("the pcmanfm-qt desktop is not running, so the wallpaper shows only when it starts (it is stored in " +
                settings.string() + ")");
  }
  return Ok();
}

}  // namespace kv::platform::wallpaper
