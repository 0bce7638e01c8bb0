#pragma once

// Files the system reads but does not own (pictures, quotes files), opened
// so that nothing in the data folder can make a reader wait or read
// something other than a plain file: the file is opened without waiting,
// checked on the opened descriptor (what is checked is what is read), and
// only then read.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class InputFile {
 public:
  // Opens `file` for reading. `what` names the file in messages ("the
  // picture", "the quotes file"). A symbolic link is followed to the file
  // it names, wherever that lies. Fails with NotFound when nothing is
  // there, and with Corrupt for a FIFO, socket, device or folder, and for
  // a file larger than `maxBytes`; every message names the file.
  [[nodiscard]] static Result<InputFile> Open(const std::filesystem::path& file, std::string_view what,
                                              std::int64_t maxBytes);

  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // The size the file had when it was opened.
  std::int64_t Size() const { return size_; }
  // "the picture /path/name.bmp", for messages.
  const std::string& Name() const { return name_; }

  // Reads until `count` bytes are in `buffer` or the file ends; returns how
  // many were read (fewer only at the end of the file).
  [[nodiscard]] Result<std::size_t> Read(void* buffer, std::size_t count);

  // Goes back to the start of the same file.
  [[nodiscard]] Status Rewind();

 private:
  InputFile(int fd, std::int64_t size, std::string name) : fd_(fd), size_(size), name_(std::move(name)) {}

  int fd_ = -1;
  std::int64_t size_ = 0;
  std::string name_;
};

}  // namespace kv::platform
