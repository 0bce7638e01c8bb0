#include "kvshared/Funcs.h"

#include "UserDataFolder.h"

#include <filesystem>
#include <optional>

#include "DeferredDefaults.h"
#include "kvplatform/base/Log.h"
#include "kvplatform/base/Paths.h"
#include "kvplatform/store/Store.h"
#include "kvshared/CStatics.h"

namespace kv {
namespace {

constexpr std::string_view kSiblingDataKey = "software\\Classes\\Lexora.Data";
constexpr std::string_view kSiblingSettingsKey = "software\\Classes\\Lexora.Settings";
constexpr std::string_view kSiblingPathValue = "LexoraPath";
constexpr std::string_view kSiblingLanguageValue = "LANGUAGE";
constexpr std::string_view kDefaultLanguage = "100";
constexpr std::string_view kListEndMarker = "Not found";

// The thread's open settings key. It belongs to one store file: a test (or
// anything else) that points the thread at another store gets a fresh key.
struct SettingsKeyState {
  bool keyOpened = false;
  std::optional<platform::RegistryKey> keyHandle;
  Error failure;
  std::filesystem::path storeFile;
};

SettingsKeyState& KeyState() {
  thread_local SettingsKeyState state;
  return state;
}

std::string Joined(std::string_view a, std::string_view b) {
  std::string path(a);
  path += '\\';
  path += b;
  return path;
}

}  // namespace

// The scope lives in the library, whose copy of the store code does the
// waiting.
SettingsOperation::SettingsOperation() : operation_(std::make_unique<platform::StoreOperation>()) {}
SettingsOperation::~SettingsOperation() = default;

Result<platform::RegistryKey*> OpenSettingsKey(std::string_view AppName, std::string_view Section) {
  SettingsKeyState& state = KeyState();
  std::filesystem::path file = platform::StoreFile();
  if (state.keyOpened && state.storeFile == file) {
    if (!state.keyHandle) return std::unexpected(state.failure);
    // A store that was read-only (or on a full disk) for a while is opened
    // anew once it may be written, so the settings can be saved again.
    if (!state.keyHandle->StoreBecameWritable()) return &*state.keyHandle;
  }
  // The old key lets go of its connection before the next one opens.
  state = SettingsKeyState{};

  auto failed = [&](const Error& error) -> std::unexpected<Error> {
    platform::LogErrorOnce(error.message + "; settings are read as their defaults and none can be saved");
    // A lock held by another program passes; anything else will not, so the
    // thread does not try again.
    if (error.code != ErrorCode::Busy) {
      state.keyOpened = true;
      state.storeFile = file;
      state.failure = error;
    }
    return std::unexpected(error);
  };

  auto store = platform::Store::ForCurrentUser();
  if (!store) return failed(store.error());
  std::string path = Joined(AppName, Section);
  auto key = (*store)->OpenKey(path);
  if (!key && key.error().code == ErrorCode::NotFound) key = (*store)->CreateKey(path);
  if (!key) return failed(key.error());

  state.keyOpened = true;
  state.storeFile = file;
  state.keyHandle.emplace(std::move(*key));
  return &*state.keyHandle;
}

namespace {

struct ReadText {
  std::string text;
  bool stored;  // the text came from the store, not from the default
};

// Stores `data` as `Key` unless the store has changed from `seen` since it
// was read; inside a DeferredDefaults scope the write is collected instead.
Status StoreDefault(platform::RegistryKey& key, std::string_view Key, const std::optional<std::string>& seen,
                    std::string_view data) {
  if (DeferredDefaults* deferred = DeferredDefaults::Current()) {
    deferred->Record(Key, seen, data);
    return Ok();
  }
  KV_TRY(key.CompareAndSet(Key, seen, data));
  return Ok();
}

Result<ReadText> ReadOrDefault(std::string_view AppName, std::string_view Section, std::string_view Key,
                               std::string_view Default) {
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(AppName, Section));
  auto value = key->QueryValue(Key);
  if (!value) {
    platform::LogErrorOnce(value.error().message);
    return std::unexpected(value.error());
  }
  if (*value) return ReadText{std::move(**value), true};

  // Only a value that is really missing gets its default stored: a failed
  // read must never lead to a default written over the real value.
  if (auto stored = StoreDefault(*key, Key, std::nullopt, Default); !stored) {
    platform::LogErrorOnce(stored.error().message);
  }
  return ReadText{std::string(Default), false};
}

}  // namespace

Result<std::string> ReadRegistryValue(std::string_view AppName, std::string_view Section, std::string_view Key,
                                      std::string_view Default) {
  KV_TRY_ASSIGN(ReadText read, ReadOrDefault(AppName, Section, Key, Default));
  return std::move(read.text);
}

Result<std::optional<std::string>> QueryRegistryValue(std::string_view AppName, std::string_view Section,
                                                      std::string_view Key) {
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(AppName, Section));
  return key->QueryValue(Key);
}

Status WriteRegistryValue(std::string_view AppName, std::string_view Section, std::string_view Key,
                          std::string_view Setting) {
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(AppName, Section));
  if (!Setting.empty()) return key->SetValue(Key, Setting);
  KV_TRY_ASSIGN(platform::Transaction transaction, key->BeginTransaction());
  KV_TRY(key->DeleteValue(Key));
  KV_TRY(key->SetValue(Key, Setting));
  return transaction.Commit();
}

Result<bool> DeleteRegistryValue(std::string_view AppName, std::string_view Section, std::string_view Key) {
  KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(AppName, Section));
  return key->DeleteValue(Key);
}

bool IsLexoraInstalled() {
  auto store = platform::Store::ForCurrentUser();
  if (!store) return false;
  auto exists = (*store)->KeyExists(kSiblingDataKey);
  return exists && *exists;
}

Result<std::string> GetLibraryFolder() {
  // The address of this very function lies in libkvshared.so.
  KV_TRY_ASSIGN(std::filesystem::path folder, platform::ModuleFolderOf(reinterpret_cast<const void*>(&GetLibraryFolder)));
  return folder.string();
}

Result<std::string> GetApplicationPath() {
  if (IsLexoraInstalled()) {
    auto failure = [](std::string why) {
      return Fail(ErrorCode::NotFound, "the Lexora application is installed (the key " + std::string(kSiblingDataKey) +
                                           " exists) but its data folder cannot be read: " + why);
    };
    KV_TRY_ASSIGN(auto store, platform::Store::ForCurrentUser());
    auto key = store->OpenKey(kSiblingSettingsKey);
    if (!key) return failure("the key " + std::string(kSiblingSettingsKey) + " is missing");
    auto path = key->QueryValue(kSiblingPathValue);
    if (!path) return failure(path.error().message);
    if (!*path) return failure("the key " + std::string(kSiblingSettingsKey) + " has no value \"LexoraPath\"");
    return std::move(**path);
  }
  KV_TRY_ASSIGN(std::string libraryFolder, GetLibraryFolder());
  std::string folder = libraryFolder;
  // The first run chooses the data folder. A folder the user cannot add
  // files to (an install under /usr) is replaced by one of the user's own
  // that links to the samples; when that cannot be made, nothing is stored,
  // so the next run tries again.
  auto known = QueryRegistryValue(CStatics::REGAPPLICATION, CStatics::REGSECTION, "Path");
  if (known && !*known && !CanAddToDataFolder(libraryFolder)) {
    auto own = MakeUserDataFolder(libraryFolder);
    if (!own) {
      platform::LogErrorOnce("the data folder " + libraryFolder + " cannot take files of your own, and " +
                             own.error().message + "; the samples are used as they are");
      return libraryFolder;
    }
    folder = std::move(*own);
  }
  auto stored = ReadRegistryValue(CStatics::REGAPPLICATION, CStatics::REGSECTION, "Path", folder);
  return stored ? std::move(*stored) : folder;
}

std::string ReadSiblingLanguage() {
  auto store = platform::Store::ForCurrentUser();
  if (!store) return std::string(kDefaultLanguage);
  auto key = (*store)->CreateKey(CStatics::REGAPPLICATION);
  if (!key) return std::string(kDefaultLanguage);
  auto language = key->QueryValue(kSiblingLanguageValue);
  if (!language || !*language) return std::string(kDefaultLanguage);
  return std::move(**language);
}

Result<std::vector<std::string>> ReadNameList(std::string_view Stem, std::string_view Default) {
  std::vector<std::string> list(1);
  size_t count = 0;
  bool firstStored = false;  // whether Stem0 held the end marker itself
  while (true) {
    KV_TRY_ASSIGN(ReadText read, ReadOrDefault(CStatics::REGAPPLICATION, CStatics::REGSECTION,
                                               std::string(Stem) + std::to_string(count), kListEndMarker));
    if (count == 0) firstStored = read.stored;
    if (read.text == kListEndMarker) break;
    list.resize(count + 1);
    list[count] = std::move(read.text);
    ++count;
  }
  if (count == 0) {
    // The default replaces the marker that the read left (or found) there.
    KV_TRY_ASSIGN(platform::RegistryKey * key, OpenSettingsKey(CStatics::REGAPPLICATION, CStatics::REGSECTION));
    std::optional<std::string> seen = std::string(kListEndMarker);
    if (!firstStored && DeferredDefaults::Current()) seen.reset();  // the marker itself is still only collected
    if (auto written = StoreDefault(*key, std::string(Stem) + "0", seen, Default); !written) {
      platform::LogErrorOnce(written.error().message);
    }
    list[0] = std::string(Default);
  }
  return list;
}

Status WriteNameList(std::string_view Stem, const std::vector<std::string>& Names) {
  for (size_t index = 0;; ++index) {
    KV_TRY_ASSIGN(bool deleted,
                  DeleteRegistryValue(CStatics::REGAPPLICATION, CStatics::REGSECTION, std::string(Stem) + std::to_string(index)));
    if (!deleted) break;
  }
  for (size_t index = 0; index < Names.size(); ++index) {
    KV_TRY(WriteRegistryValue(CStatics::REGAPPLICATION, CStatics::REGSECTION, std::string(Stem) + std::to_string(index),
                              Names[index]));
  }
  return Ok();
}

Status CopyNameList(const std::vector<std::string>& Source, std::vector<std::string>& Target) {
  if (Source.empty()) return Fail(ErrorCode::InvalidArgument, "the list has no elements (the settings were not loaded)");
  Target = Source;
  return Ok();
}

}  // namespace kv
