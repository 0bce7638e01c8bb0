#include "kvplatform/image/PageBlock.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kv::platform {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;

#if defined(__SANITIZE_ADDRESS__)
#define KV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef KV_ADDRESS_SANITIZER
#define KV_ADDRESS_SANITIZER 0
#endif

std::size_t RoundUp(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

Result<PageBlock> PageBlock::Allocate(std::size_t bytes) {
  PageBlock block;
  if (bytes == 0) return block;
#if KV_ADDRESS_SANITIZER
  // Under AddressSanitizer a block comes from its allocator, which guards
  // both ends: a read past the end of a file's bytes is reported instead of
  // landing in the rest of a page. (It is also far cheaper than a mapping
  // per block, which the fuzz targets pay for every input.)
  block.data_ = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
  if (block.data_ == nullptr) return Fail("cannot get " + std::to_string(bytes / 1024) + " KiB of memory");
  block.size_ = bytes;
  return block;
#endif
  bool huge = bytes >= kHugePage;
  std::size_t length = RoundUp(bytes, huge ? kHugePage : kPage);
  // One spare huge page lets the block start on a 2 MiB boundary.
  std::size_t mapped = huge ? length + kHugePage : length;
  void* mapping = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    return Fail("cannot get " + std::to_string(bytes / 1024) + " KiB of memory: " + std::strerror(errno));
  }
  auto* base = static_cast<std::uint8_t*>(mapping);
  std::uint8_t* data = base;
  if (huge) {
    auto address = reinterpret_cast<std::uintptr_t>(base);
    data = base + (RoundUp(address, kHugePage) - address);
    // Huge pages are a preference, not a need: without them the block
    // simply costs more faults.
    (void)::madvise(data, length, MADV_HUGEPAGE);
  }
  block.mapping_ = mapping;
  block.mappingBytes_ = mapped;
  block.data_ = data;
  block.size_ = bytes;
  return block;
}

PageBlock::PageBlock(PageBlock&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)),
      mappingBytes_(std::exchange(other.mappingBytes_, 0)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept {
  if (this != &other) {
    Release();
    mapping_ = std::exchange(other.mapping_, nullptr);
    mappingBytes_ = std::exchange(other.mappingBytes_, 0);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

PageBlock::~PageBlock() { Release(); }

void PageBlock::Release() {
  if (mapping_) ::munmap(mapping_, mappingBytes_);
  if (!mapping_ && data_) std::free(data_);  // from the sanitizer's allocator
  mapping_ = nullptr;
  data_ = nullptr;
  size_ = mappingBytes_ = 0;
}

}  // namespace kv::platform
