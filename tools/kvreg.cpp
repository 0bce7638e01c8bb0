// kvreg: reads and edits the per-user settings store from the command line.
//
//   kvreg get KEY NAME         prints the value's text
//   kvreg set KEY NAME DATA    stores DATA (creating the key)
//   kvreg delete KEY NAME      deletes one value
//   kvreg delete KEY           deletes the key with everything below it
//   kvreg list KEY             prints the key's subkeys and values
//
// Exit status: 0 done, 1 key or value missing, 2 bad usage, 3 the store
// cannot be used (damaged, unreadable or locked).

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "kvplatform/base/Log.h"
#include "kvplatform/store/Store.h"

namespace {

using kv::ErrorCode;
using kv::platform::Store;

constexpr int kExitOk = 0;
constexpr int kExitMissing = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStore = 3;

constexpr std::string_view kUsage =
    "usage: kvreg get KEY NAME\n"
    "       kvreg set KEY NAME DATA\n"
    "       kvreg delete KEY [NAME]\n"
    "       kvreg list KEY\n"
    "KEY is a path below the user's settings root, such as 'software\\Lexora\\wallpaper'\n"
    "(quote it: the shell treats backslashes specially). Names compare without regard to case.\n";

int Usage(std::string_view problem) {
  if (!problem.empty()) kv::platform::LogError(problem);
  std::fputs(kUsage.data(), stderr);
  return kExitUsage;
}

int Failed(const kv::Error& error) {
  kv::platform::LogError(error.message);
  return error.code == ErrorCode::NotFound ? kExitMissing : kExitStore;
}

// Values may hold line breaks; list shows them escaped so one value stays on one line.
std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

int Run(const std::vector<std::string_view>& args) {
  if (args.empty()) return Usage("");
  std::string_view command = args[0];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage.data(), stdout);
    return kExitOk;
  }
  auto expect = [&](size_t low, size_t high) { return args.size() - 1 >= low && args.size() - 1 <= high; };
  bool known = command == "get" || command == "set" || command == "delete" || command == "list";
  if (!known) return Usage("unknown command '" + std::string(command) + "'");
  if ((command == "get" && !expect(2, 2)) || (command == "set" && !expect(3, 3)) ||
      (command == "delete" && !expect(1, 2)) || (command == "list" && !expect(1, 1))) {
    return Usage("wrong number of arguments for '" + std::string(command) + "'");
  }
  if (kv::platform::NormalizeKeyPath(args[1]).empty()) return Usage("the key path is empty");

  auto store = Store::ForCurrentUser();
  if (!store) return Failed(store.error());

  if (command == "set") {
    auto key = (*store)->CreateKey(args[1]);
    if (!key) return Failed(key.error());
    if (auto set = key->SetValue(args[2], args[3]); !set) return Failed(set.error());
    return kExitOk;
  }
  if (command == "delete" && args.size() == 2) {
    auto deleted = (*store)->DeleteKey(args[1]);
    if (!deleted) return Failed(deleted.error());
    if (!*deleted) return Failed({ErrorCode::NotFound, "the key " + kv::platform::NormalizeKeyPath(args[1]) + " does not exist"});
    return kExitOk;
  }

  auto key = (*store)->OpenKey(args[1]);
  if (!key) return Failed(key.error());

  if (command == "get") {
    auto value = key->QueryValue(args[2]);
    if (!value) return Failed(value.error());
    if (!*value) return Failed({ErrorCode::NotFound, "the key " + key->Path() + " has no value '" + std::string(args[2]) + "'"});
    std::cout << **value << '\n';
    return kExitOk;
  }
  if (command == "delete") {
    auto deleted = key->DeleteValue(args[2]);
    if (!deleted) return Failed(deleted.error());
    if (!*deleted) return Failed({ErrorCode::NotFound, "the key " + key->Path() + " has no value '" + std::string(args[2]) + "'"});
    return kExitOk;
  }
  // list
  auto subkeys = key->ListSubkeys();
  if (!subkeys) return Failed(subkeys.error());
  auto values = key->ListValues();
  if (!values) return Failed(values.error());
  std::cout << key->Path() << '\n';
  for (const std::string& subkey : *subkeys) std::cout << "    [" << subkey << "]\n";
  for (const auto& value : *values) std::cout << "    " << value.name << " = " << Escaped(value.data) << '\n';
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  kv::platform::SetLogProgramName("kvreg");
  std::vector<std::string_view> args(argv + 1, argv + argc);
  return Run(args);
}
