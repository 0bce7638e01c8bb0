#include "SwaySession.h"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>

#include "TempHome.h"
#include "kvplatform/image/Picture.h"

namespace kvtest {
namespace fs = std::filesystem;

namespace {

constexpr const char* kUser = "kvtest";

// The user a root test runs sway as, made when missing; of tests racing to make it, the losers' useradd fails.
std::optional<passwd> SessionUser() {
  if (const passwd* entry = getpwnam(kUser)) return *entry;
  Run("/usr/sbin/useradd", {"--system", "--no-create-home", "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin", kUser},
      {}, std::chrono::seconds(60));
  if (const passwd* entry = getpwnam(kUser)) return *entry;
  return std::nullopt;
}

std::vector<std::string> OutputNamesIn(const std::string& json) {
  static const std::regex kName("\"name\"\\s*:\\s*\"([^\"]+)\"");
  std::vector<std::string> names;
  for (std::sregex_iterator it(json.begin(), json.end(), kName), end; it != end; ++it) names.push_back((*it)[1]);
  return names;
}

}  // namespace

std::optional<std::string> SwaySession::Unavailable() {
  for (const char* program : {"/usr/bin/sway", "/usr/bin/swaymsg", "/usr/bin/setpriv"}) {
    if (!fs::exists(program)) return std::string(program) + " is not installed (dev.sh installs it)";
  }
  if (geteuid() == 0 && !SessionUser()) return std::string("sway refuses root and the user ") + kUser + " could not be made";
  return std::nullopt;
}

SwaySession::SwaySession(const std::vector<OutputLayout>& outputs) {
  if (outputs.empty()) throw std::invalid_argument("a sway session needs at least one output");
  if (auto missing = Unavailable()) throw std::runtime_error(*missing);
  if (geteuid() == 0) {
    passwd user = *SessionUser();
    uid_ = user.pw_uid, gid_ = user.pw_gid;
  }
  std::string pattern = (fs::temp_directory_path() / "kvsway-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  runtimeDir_ = pattern;
  fs::permissions(runtimeDir_, fs::perms::owner_all, fs::perm_options::replace);
  // No X server, bar or background of its own: the tests see exactly the outputs and wallpapers they set up.
  WriteFile(runtimeDir_ / "config", "xwayland disable\n");
  GiveToUser(runtimeDir_);
  // No GPU here: pixman renders in memory.
  Environment env = {{"WLR_BACKENDS", "headless"}, {"WLR_LIBINPUT_NO_DEVICES", "1"}, {"WLR_RENDERER", "pixman"},
                     {"XDG_RUNTIME_DIR", runtimeDir_.string()}, {"XDG_CONFIG_HOME", runtimeDir_.string()},
                     {"HOME", runtimeDir_.string()}, {"SWAYSOCK", IpcSocket().string()},
                     {"WAYLAND_DISPLAY", std::nullopt}, {"DISPLAY", std::nullopt}};
  auto args = AsUser("/usr/bin/sway", {"-c", (runtimeDir_ / "config").string()});
  sway_ = std::make_unique<Child>(args.front(), std::vector<std::string>(args.begin() + 1, args.end()), env);
  auto fail = [&](const std::string& what) {
    throw std::runtime_error("headless sway " + what + "; its log:\n" + sway_->ErrSoFar());
  };
  bool up = WaitFor([&] {
    if (!sway_->Running()) return true;
    for (const auto& entry : fs::directory_iterator(runtimeDir_)) {
      std::string name = entry.path().filename().string();
      if (name.starts_with("wayland-") && !name.ends_with(".lock")) waylandDisplay_ = name;
    }
    return !waylandDisplay_.empty() && Swaymsg({"-t", "get_version"}).exitCode == 0;
  }, std::chrono::seconds(60));
  if (!sway_->Running()) fail("ended at start");
  if (!up) fail("did not answer within 60 s");
  // The headless back end starts with one output of its own: more are made as needed (none can be switched off).
  std::vector<std::string> names = OutputNamesIn(Swaymsg({"-t", "get_outputs", "-r"}).out);
  for (size_t i = names.size(); i < outputs.size(); ++i) {
    if (Swaymsg({"create_output"}).exitCode != 0) fail("could not make an output");
  }
  names = OutputNamesIn(Swaymsg({"-t", "get_outputs", "-r"}).out);
  if (names.size() < outputs.size()) fail("has fewer outputs than were made");
  for (size_t i = 0; i < outputs.size(); ++i) {
    const OutputLayout& o = outputs[i];
    auto outcome = Swaymsg({"output", names[i], "mode", std::to_string(o.width) + "x" + std::to_string(o.height), "pos",
                            std::to_string(o.x), std::to_string(o.y)});
    if (outcome.exitCode != 0) fail("refused " + names[i] + ": " + outcome.out + outcome.err);
  }
}

SwaySession::~SwaySession() {
  if (sway_) {
    Resume();
    sway_->Signal(SIGTERM);
    sway_->Wait(std::chrono::seconds(30));
    sway_.reset();  // kills what is left of its process group
  }
  std::error_code ignored;
  fs::remove_all(runtimeDir_, ignored);
}

SwaySession::Environment SwaySession::SessionEnvironment() const {
  return {{"WAYLAND_DISPLAY", waylandDisplay_}, {"SWAYSOCK", IpcSocket().string()},
          {"XDG_RUNTIME_DIR", runtimeDir_.string()}, {"XDG_CURRENT_DESKTOP", "sway"},
          {"DISPLAY", std::nullopt}, {"HYPRLAND_INSTANCE_SIGNATURE", std::nullopt}};
}

void SwaySession::Export() const {
  for (const auto& [n, v] : SessionEnvironment()) v ? setenv(n.c_str(), v->c_str(), 1) : unsetenv(n.c_str());
}

std::vector<std::string> SwaySession::AsUser(const fs::path& program, const std::vector<std::string>& args) const {
  std::vector<std::string> command;
  if (uid_) {
    // A crashing test takes its session with it: the parent-death signal is set after the change of user.
    command = {"/usr/bin/setpriv", "--reuid=" + std::to_string(*uid_), "--regid=" + std::to_string(*gid_),
               "--clear-groups", "--pdeathsig=SIGKILL", "--"};
  }
  command.push_back(program.string());
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

ProcessResult SwaySession::Run(const fs::path& program, const std::vector<std::string>& args, const Environment& env,
                               std::chrono::milliseconds timeout) const {
  Environment merged = SessionEnvironment();
  for (const auto& [name, value] : env) merged[name] = value;
  auto command = AsUser(program, args);
  return kvtest::Run(command.front(), std::vector<std::string>(command.begin() + 1, command.end()), merged, timeout);
}

ProcessResult SwaySession::Swaymsg(const std::vector<std::string>& args) const {
  return Run("/usr/bin/swaymsg", args, {}, std::chrono::seconds(30));
}

void SwaySession::GiveToUser(const fs::path& folder) const {
  if (!uid_) return;
  auto give = [&](const fs::path& path) {
    if (lchown(path.c_str(), *uid_, *gid_) != 0) throw std::runtime_error("cannot hand " + path.string() + " over");
  };
  give(folder);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) give(entry.path());
}

void SwaySession::Pause() const { kill(sway_->Pid(), SIGSTOP); }
void SwaySession::Resume() const { kill(sway_->Pid(), SIGCONT); }

Image SwaySession::Screenshot(const std::string& output) const {
  const fs::path file = runtimeDir_ / "screenshot.png";  // written as the session's user, in its folder
  fs::remove(file);
  auto picture = Run("/usr/bin/grim", {"-t", "png", "-o", output, file.string()}).exitCode == 0
                     ? kv::platform::LoadPicture(file, 0) : kv::Fail("no screenshot");
  Image image{picture ? picture->Width() : 0, picture ? picture->Height() : 0, {}};
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const kv::platform::ColorRef c = picture->PixelAt(x, y);
      image.rgb.insert(image.rgb.end(), {kv::platform::RedOf(c), kv::platform::GreenOf(c), kv::platform::BlueOf(c)});
    }
  }
  return image;
}

}  // namespace kvtest
