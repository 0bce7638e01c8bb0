// The answers of face-name lookups, kept between processes. Loading the
// font configuration parses every one of its files, which costs a
// short-lived program more than all its drawing; a kept answer costs a
// small file and a stat() of each folder and file the answer came from.
//
// An answer is kept together with what it depends on: fontconfig's version,
// the environment that steers it, and the identity (device, inode, size,
// modification and change time) of every configuration file, configuration
// folder, font folder and cache folder it used. A font installed or removed
// changes its folder's times, an edited or added configuration file its
// own or its folder's; any difference throws every kept answer away.

#include <fontconfig/fontconfig.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

#include "FontInternal.h"
#include "kvplatform/base/Paths.h"

namespace kv::platform {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kHeader = "kvillo font matches 1";

// What in the environment changes where fontconfig looks and what it
// prefers (the language comes from the locale).
constexpr const char* kEnvironment[] = {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME",
                                        "XDG_CONFIG_HOME", "XDG_DATA_HOME",   "XDG_CACHE_HOME",     "LC_ALL",
                                        "LC_CTYPE",        "LANG",            "LANGUAGE",           "FC_LANG"};

struct Entry {
  std::string program, name, family;
  std::int32_t weight = 0;
  std::string file;
  int index = 0;
  bool substituted = false;
};

struct Kept {
  std::string fingerprint;                               // version and environment
  std::vector<std::pair<std::string, std::string>> stamps;  // path, identity
  std::vector<Entry> entries;
};

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(Unescape(std::string_view(line).substr(start, tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

std::int64_t Nanoseconds(const timespec& time) { return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }

fs::path CacheFile() { return CacheHome() / "kvillo" / "font-matches"; }

std::string ProgramName() { return program_invocation_short_name ? program_invocation_short_name : ""; }

std::string Fingerprint() {
  std::string text = "fontconfig " + std::to_string(FcGetVersion());
  for (const char* name : kEnvironment) {
    const char* value = std::getenv(name);
    text += std::string("\n") + name + (value ? "=" + Escape(value) : std::string(" unset"));
  }
  return text;
}

// When this process began loading the configuration.
timespec loadStart{};

// A file's or folder's identity; "-" when it does not exist. `changed`
// receives its latest modification or change time.
std::string Identity(const std::string& path, std::int64_t* changed = nullptr) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "-";
  char text[160];
  std::snprintf(text, sizeof text, "%llu:%llu:%lld:%lld.%ld:%lld.%ld", static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino), static_cast<long long>(info.st_size),
                static_cast<long long>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec,
                static_cast<long long>(info.st_ctim.tv_sec), info.st_ctim.tv_nsec);
  if (changed) *changed = std::max(Nanoseconds(info.st_mtim), Nanoseconds(info.st_ctim));
  return text;
}

// Everything the loaded configuration was made from, with the user's own
// configuration files whether they exist or not (creating one changes the
// answer too).
std::vector<std::pair<std::string, std::string>> CurrentStamps(std::int64_t& latest) {
  std::vector<std::string> paths;
  auto add = [&](FcStrList* list) {
    if (!list) return;
    while (FcChar8* path = FcStrListNext(list)) paths.emplace_back(reinterpret_cast<const char*>(path));
    FcStrListDone(list);
  };
  add(FcConfigGetConfigFiles(nullptr));
  for (std::size_t i = 0, n = paths.size(); i < n; ++i) paths.push_back(fs::path(paths[i]).parent_path().string());
  add(FcConfigGetConfigDirs(nullptr));
  add(FcConfigGetFontDirs(nullptr));
  add(FcConfigGetCacheDirs(nullptr));
  const fs::path user = ConfigHome() / "fontconfig";
  for (const fs::path& path : {user, user / "fonts.conf", user / "conf.d", HomeDirectory() / ".fonts.conf",
                               HomeDirectory() / ".fonts.conf.d"}) {
    paths.push_back(path.string());
  }
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  std::vector<std::pair<std::string, std::string>> stamps;
  latest = 0;
  for (std::string& path : paths) {
    std::int64_t changed = 0;
    std::string identity = Identity(path, &changed);
    latest = std::max(latest, changed);
    stamps.emplace_back(std::move(path), std::move(identity));
  }
  return stamps;
}

// The kept answers as the file holds them; empty when it is missing,
// unreadable or incomplete.
Kept ReadKept() {
  Kept kept;
  std::ifstream in(CacheFile());
  std::string line;
  if (!in || !std::getline(in, line) || line != kHeader) return {};
  bool complete = false;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Fields(line);
    if (f[0] == "env" && f.size() == 2) {
      kept.fingerprint += (kept.fingerprint.empty() ? "" : "\n") + f[1];
    } else if (f[0] == "stamp" && f.size() == 3) {
      kept.stamps.emplace_back(f[1], f[2]);
    } else if (f[0] == "match" && f.size() == 8) {
      Entry entry{f[1], f[2], f[7], std::atoi(f[3].c_str()), f[4], std::atoi(f[5].c_str()), f[6] == "1"};
      kept.entries.push_back(std::move(entry));
    } else if (f[0] == "end") {
      complete = true;
      break;
    } else {
      return {};
    }
  }
  return complete ? kept : Kept{};
}

// Writes beside the file and renames over it, so a reader sees the old
// answers or the new ones, never a mixture. A cache needs no flush to the
// disk: a file lost or cut short is read as empty.
void WriteKept(const Kept& kept) {
  const fs::path file = CacheFile();
  if (!EnsureDirectory(file.parent_path(), 0700)) return;
  std::ostringstream out;
  out << kHeader << '\n';
  std::istringstream fingerprint(kept.fingerprint);
  for (std::string line; std::getline(fingerprint, line);) out << "env\t" << Escape(line) << '\n';
  for (const auto& [path, identity] : kept.stamps) out << "stamp\t" << Escape(path) << '\t' << identity << '\n';
  for (const Entry& e : kept.entries) {
    out << "match\t" << Escape(e.program) << '\t' << Escape(e.name) << '\t' << e.weight << '\t' << Escape(e.file)
        << '\t' << e.index << '\t' << (e.substituted ? 1 : 0) << '\t' << Escape(e.family) << '\n';
  }
  out << "end\n";
  // A name of this writer's own, so that two writers never share one.
  static std::atomic<unsigned> written{0};
  const fs::path temporary = file.string() + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(written++);
  {
    std::ofstream stream(temporary, std::ios::trunc);
    stream << out.str();
    if (!stream.flush()) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return;
    }
  }
  if (::rename(temporary.c_str(), file.c_str()) != 0) ::unlink(temporary.c_str());
}

bool SameKey(const Entry& e, std::string_view name, std::int32_t weight) {
  return e.program == ProgramName() && e.name == name && e.weight == weight;
}

}  // namespace

std::optional<KeptMatch> FindKeptMatch(std::string_view name, std::int32_t weight) {
  Kept kept = ReadKept();
  if (kept.stamps.empty() || kept.fingerprint != Fingerprint()) return std::nullopt;
  auto entry = std::find_if(kept.entries.begin(), kept.entries.end(),
                            [&](const Entry& e) { return SameKey(e, name, weight); });
  if (entry == kept.entries.end()) return std::nullopt;
  for (const auto& [path, identity] : kept.stamps) {
    if (Identity(path) != identity) return std::nullopt;
  }
  KeptMatch match;
  match.choice.file = entry->file;
  match.choice.index = entry->index;
  match.choice.family = entry->family;
  match.substituted = entry->substituted;
  return match;
}

void NoteFontConfigLoading() { ::clock_gettime(CLOCK_REALTIME, &loadStart); }

void KeepMatch(std::string_view name, std::int32_t weight, const KeptMatch& match) {
  std::int64_t latest = 0;
  std::vector<std::pair<std::string, std::string>> stamps = CurrentStamps(latest);
  // Something that changed while the configuration loaded may or may not
  // be in the answer; such an answer is not kept. File times run up to a
  // clock tick behind, hence the margin.
  constexpr std::int64_t kClockTick = 20'000'000;
  if (latest >= Nanoseconds(loadStart) - kClockTick) return;
  Kept kept = ReadKept();
  std::string fingerprint = Fingerprint();
  if (kept.fingerprint != fingerprint || kept.stamps != stamps) kept = Kept{std::move(fingerprint), std::move(stamps), {}};
  std::erase_if(kept.entries, [&](const Entry& e) { return SameKey(e, name, weight); });
  // A bound on the answers kept: one per face and weight the user chose.
  if (kept.entries.size() >= 256) kept.entries.erase(kept.entries.begin());
  kept.entries.push_back({ProgramName(), std::string(name), match.choice.family, weight, match.choice.file.string(),
                          match.choice.index, match.substituted});
  WriteKept(kept);
}

}  // namespace kv::platform
