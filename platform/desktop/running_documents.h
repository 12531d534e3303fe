#pragma once
// The RunningDocuments port: the documents that applications hold open right now, one entry
// per instance. On the Linux desktop a document is a file that the process of a window (or
// a process started under it, such as an editor in a terminal) holds open; a simulated
// source drives tests and the demo.
#include <cstdint>
#include <string>
#include <vector>

#include "common/hresult.h"

namespace qv::platform {

struct RunningDocument {
  std::uint32_t key = 0;  // never 0; equal for equal paths
  std::string path;       // absolute
};

class RunningDocuments {
 public:
  virtual ~RunningDocuments() = default;
  // Every instance, in no particular order. On failure nothing is to be trusted: the caller
  // keeps what it knew.
  virtual HRESULT Enumerate(std::vector<RunningDocument>& out) = 0;
};

// The key of a path: a 32-bit FNV-1a hash, 1 where that would be 0.
std::uint32_t DocumentKey(std::string_view path);

}  // namespace qv::platform
