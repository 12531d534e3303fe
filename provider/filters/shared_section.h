#pragma once
// A named shared memory section through which another process of the user hands over bytes
// (a POSIX shared memory object, 0600, so that only the user's own processes can map it). The
// creator owns the name: it is removed when the creator's section goes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"

namespace qv::filters {

class SharedSection {
 public:
  SharedSection() = default;
  ~SharedSection();
  SharedSection(SharedSection&& other) noexcept;
  SharedSection& operator=(SharedSection&& other) noexcept;

  // A new section of `size` bytes, zero-filled. HRESULT of Win32 error 183 when a section of
  // that name exists already.
  static HRESULT Create(std::string_view name, std::size_t size, SharedSection& out);
  // The existing section `name`, mapped for reading and writing over `size` bytes (the writer's
  // side). Fails when the section is smaller.
  static HRESULT Open(std::string_view name, std::size_t size, SharedSection& out);

  std::span<std::uint8_t> bytes() const { return {data_, size_}; }

 private:
  void Close();
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::string shmName_;  // set only for the creator, who removes it
};

// The shared memory object's name for a section name such as "Global\{GUID}": per user, with
// the characters a shared memory name cannot hold replaced.
std::string SharedMemoryName(std::string_view sectionName);

}  // namespace qv::filters
