#include "kvplatform/base/Log.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

extern "C" char* program_invocation_short_name;

namespace kv::platform {
namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& ProgramName() {
  static std::string name = program_invocation_short_name ? program_invocation_short_name : "kvillo";
  return name;
}

// A message quotes what it is about (a setting's value, a file's line),
// and that can be megabytes: the line stays readable and the log small.
std::string Shortened(std::string_view message) {
  if (message.size() <= kMaxLogMessageBytes) return std::string(message);
  std::size_t cut = kMaxLogMessageBytes;
  // Never split a UTF-8 sequence: back up to the start of a character.
  while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
  return std::string(message.substr(0, cut)) + "... (" + std::to_string(message.size() - cut) + " more bytes)";
}

void WriteLine(const std::string& message) {
  std::string line = ProgramName();
  line += ": ";
  line += message;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// Set only in a child that has no other thread, so it needs no lock.
LogSink& Diverted() {
  static LogSink sink = nullptr;
  return sink;
}

}  // namespace

void DivertLog(LogSink sink) { Diverted() = sink; }

void SetLogProgramName(std::string_view name) {
  std::lock_guard lock(LogMutex());
  ProgramName() = std::string(name);
}

void LogError(std::string_view message) {
  if (Diverted()) return Diverted()(message, false);
  std::string line = Shortened(message);
  std::lock_guard lock(LogMutex());
  WriteLine(line);
}

void LogErrorOnce(std::string_view message) {
  if (Diverted()) return Diverted()(message, true);
  std::string line = Shortened(message);
  std::lock_guard lock(LogMutex());
  static std::set<std::string, std::less<>> written;
  if (written.contains(line)) return;
  // Messages quote changing things (a file's size, a setting's value), so a
  // resident process would remember ever more of them: past a bound it
  // starts afresh, and an old message may then be written once more.
  constexpr std::size_t kRemembered = 1024;
  if (written.size() >= kRemembered) written.clear();
  written.emplace(line);
  WriteLine(line);
}

}  // namespace kv::platform
