#include "kvplatform/Log.h"

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

void WriteLine(std::string_view message) {
  std::string line = ProgramName();
  line += ": ";
  line += message;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void SetLogProgramName(std::string_view name) {
  std::lock_guard lock(LogMutex());
  ProgramName() = std::string(name);
}

void LogError(std::string_view message) {
  std::lock_guard lock(LogMutex());
  WriteLine(message);
}

void LogErrorOnce(std::string_view message) {
  std::lock_guard lock(LogMutex());
  static std::set<std::string, std::less<>> written;
  if (written.contains(message)) return;
  written.emplace(message);
  WriteLine(message);
}

}  // namespace kv::platform
