#pragma once
// A window message as the message loops and transports carry it.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qv::platform {

// A window handle. Across processes it names one window of one process: the process id in
// the high 32 bits and a number unique within the process below. 0 is "no window".
using Hwnd = std::uint64_t;
using WPARAM = std::uint64_t;
using LPARAM = std::int64_t;
using LRESULT = std::int64_t;

// The payload of WM_COPYDATA: dwData and the bytes behind lpData (cbData is bytes.size()).
// `nullData` stands for a null lpData, which the receiver must tell apart from an empty block.
struct CopyData {
  std::uint64_t dwData = 0;
  std::vector<std::uint8_t> bytes;
  bool nullData = false;
};

struct Message {
  Hwnd hwnd = 0;
  std::uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::optional<CopyData> copyData;  // set for WM_COPYDATA only
};

// A window procedure; runs on the thread of the message loop that owns the window. For a
// sent message its result is the reply; for a posted one it is ignored.
using WindowProc = std::function<LRESULT(const Message&)>;

}  // namespace qv::platform
