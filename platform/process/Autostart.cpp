#include "kvplatform/process/Autostart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kvplatform/base/Paths.h"

namespace kv::platform {
namespace fs = std::filesystem;

namespace {

// Characters that make an Exec argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`=";

// Values of a desktop entry escape \s \n \t \r and \\ ; Exec quoting comes
// on top of that, so its backslashes are doubled in the file.
std::string EscapeValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeValue(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    switch (next) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += '\\', out += next;
    }
  }
  return out;
}

}  // namespace

fs::path AutostartFile(std::string_view name) { return ConfigHome() / "autostart" / (std::string(name) + ".desktop"); }

// A "%" starts a field code that the desktop replaces (%f, %k, ...), inside
// quotes as well; a literal one is written twice.
std::string QuoteExec(const std::vector<std::string>& command) {
  std::string exec;
  for (const std::string& argument : command) {
    if (!exec.empty()) exec += ' ';
    bool plain = !argument.empty() && argument.find_first_of(kReserved) == std::string::npos;
    if (!plain) exec += '"';
    for (char c : argument) {
      if (!plain && (c == '"' || c == '`' || c == '$' || c == '\\')) exec += '\\';
      if (c == '%') exec += '%';
      exec += c;
    }
    if (!plain) exec += '"';
  }
  return exec;
}

std::optional<std::vector<std::string>> UnquoteExec(std::string_view exec) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
      current += c;
      inArgument = true;
      ++i;
    } else if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        current += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (inArgument) arguments.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else if (c == '"') {
      quoted = inArgument = true;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quoted) return std::nullopt;  // an unterminated quote is no command
  if (inArgument) arguments.push_back(std::move(current));
  return arguments;
}

Result<std::optional<std::vector<std::string>>> ReadAutostartEntry(std::string_view name) {
  fs::path file = AutostartFile(name);
  std::ifstream in(file);
  if (!in) {
    if (errno == ENOENT || !fs::exists(file)) return std::optional<std::vector<std::string>>();
    return Fail("cannot read the log-on entry " + file.string() + ": " + std::strerror(errno));
  }
  std::string line, exec;
  bool inEntryGroup = false, hidden = false, haveExec = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inEntryGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntryGroup) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    std::string value = line.substr(equals + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    if (key == "Exec") {
      exec = UnescapeValue(value);
      haveExec = true;
    } else if (key == "Hidden") {
      hidden = value == "true";
    }
  }
  if (hidden || !haveExec) return std::optional<std::vector<std::string>>();
  auto command = UnquoteExec(exec);
  if (!command || command->empty()) return std::optional<std::vector<std::string>>();
  return std::optional<std::vector<std::string>>(std::move(*command));
}

Status WriteAutostartEntry(std::string_view name, std::string_view comment, const std::vector<std::string>& command) {
  fs::path file = AutostartFile(name);
  KV_TRY(EnsureDirectory(file.parent_path(), 0755));
  std::ostringstream entry;
  entry << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << EscapeValue(name) << "\n"
        << "Comment=" << EscapeValue(comment) << "\n"
        << "Exec=" << EscapeValue(QuoteExec(command)) << "\n"
        << "Terminal=false\n"
        << "NoDisplay=true\n"
        << "X-GNOME-Autostart-enabled=true\n";
  std::string text = entry.str();

  // Written beside the entry and renamed over it: the desktop reading the
  // folder at log-on sees the old entry or the new one, never half of one.
  fs::path temporary = file;
  temporary += ".tmp-" + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail("cannot write the log-on entry " + file.string() + ": " + std::strerror(errno));
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  int error = errno;
  close(fd);
  if (!written || rename(temporary.c_str(), file.c_str()) != 0) {
    if (written) error = errno;
    unlink(temporary.c_str());
    return Fail("cannot write the log-on entry " + file.string() + ": " + std::strerror(error));
  }
  return Ok();
}

Result<bool> DeleteAutostartEntry(std::string_view name) {
  fs::path file = AutostartFile(name);
  if (unlink(file.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  return Fail("cannot remove the log-on entry " + file.string() + ": " + std::strerror(errno));
}

}  // namespace kv::platform
