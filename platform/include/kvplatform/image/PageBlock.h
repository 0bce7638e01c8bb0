#pragma once

// Large, zeroed blocks of memory straight from the kernel. A block of 2 MiB
// or more is aligned to 2 MiB and asks for transparent huge pages: a
// wallpaper-sized buffer then costs a handful of page faults instead of
// some fifteen hundred, which is most of the price of touching fresh memory.

#include <cstddef>
#include <cstdint>

#include "kvplatform/base/Result.h"

namespace kv::platform {

class PageBlock {
 public:
  PageBlock() = default;
  [[nodiscard]] static Result<PageBlock> Allocate(std::size_t bytes);

  PageBlock(PageBlock&& other) noexcept;
  PageBlock& operator=(PageBlock&& other) noexcept;
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;
  ~PageBlock();

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  void Release();

  void* mapping_ = nullptr;
  std::size_t mappingBytes_ = 0;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kv::platform
