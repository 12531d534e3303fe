#include "platform/messaging/frame.h"

#include <cstring>

namespace qv::platform {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool KnownKind(std::uint8_t k) {
  return k >= static_cast<std::uint8_t>(FrameKind::Post) &&
         k <= static_cast<std::uint8_t>(FrameKind::QueryReply);
}

// Which kinds may carry data: a sent WM_COPYDATA, and the name in a query reply.
bool DataAllowed(const Frame& f) {
  if (f.kind == FrameKind::QueryReply) return true;
  return f.kind == FrameKind::Send && (f.flags & kFrameHasCopyData) != 0;
}

const HRESULT kInvalidData = HresultFromWin32(win32::ERROR_INVALID_DATA);

}  // namespace

HRESULT EncodeFrame(const Frame& frame, std::vector<std::uint8_t>& out) {
  if (frame.data.size() > kMaxCopyDataBytes) return E_INVALIDARG;
  out.assign(kFrameHeaderSize + frame.data.size(), 0);
  std::uint8_t* p = out.data();
  Put32(p + 0, kFrameMagic);
  p[4] = static_cast<std::uint8_t>(frame.kind);
  Put16(p + 6, frame.flags);
  Put32(p + 8, frame.seq);
  Put32(p + 12, frame.message);
  Put64(p + 16, frame.target);
  Put64(p + 24, frame.wParam);
  Put64(p + 32, static_cast<std::uint64_t>(frame.lParam));
  Put64(p + 40, frame.dwData);
  Put64(p + 48, static_cast<std::uint64_t>(frame.result));
  Put32(p + 56, static_cast<std::uint32_t>(frame.status));
  Put32(p + 60, static_cast<std::uint32_t>(frame.data.size()));
  if (!frame.data.empty()) std::memcpy(p + kFrameHeaderSize, frame.data.data(), frame.data.size());
  return S_OK;
}

HRESULT DecodeFrame(std::span<const std::uint8_t> bytes, Frame& out) {
  if (bytes.size() < kFrameHeaderSize || bytes.size() > kMaxFrameSize) return kInvalidData;
  const std::uint8_t* p = bytes.data();
  if (Get32(p) != kFrameMagic || !KnownKind(p[4]) || p[5] != 0) return kInvalidData;
  out.kind = static_cast<FrameKind>(p[4]);
  out.flags = Get16(p + 6);
  if ((out.flags & ~kFrameKnownFlags) != 0) return kInvalidData;
  out.seq = Get32(p + 8);
  out.message = Get32(p + 12);
  out.target = Get64(p + 16);
  out.wParam = Get64(p + 24);
  out.lParam = static_cast<LPARAM>(Get64(p + 32));
  out.dwData = Get64(p + 40);
  out.result = static_cast<LRESULT>(Get64(p + 48));
  const std::uint32_t status = Get32(p + 56);
  if (status > static_cast<std::uint32_t>(ReplyStatus::Hung)) return kInvalidData;
  out.status = static_cast<ReplyStatus>(status);
  const std::uint32_t length = Get32(p + 60);
  if (length != bytes.size() - kFrameHeaderSize) return kInvalidData;
  if (length != 0 && !DataAllowed(out)) return kInvalidData;
  // A null lpData has no bytes behind it, and only copy data can be null.
  if ((out.flags & kFrameNullData) != 0 &&
      ((out.flags & kFrameHasCopyData) == 0 || length != 0)) {
    return kInvalidData;
  }
  // WM_COPYDATA is only ever sent, and a sent WM_COPYDATA always carries its block.
  const bool isCopyData = (out.flags & kFrameHasCopyData) != 0;
  if (isCopyData && out.kind != FrameKind::Send) return kInvalidData;
  out.data.assign(p + kFrameHeaderSize, p + bytes.size());
  return S_OK;
}

Frame FrameFromMessage(FrameKind kind, const Message& message) {
  Frame f;
  f.kind = kind;
  f.target = message.hwnd;
  f.message = message.message;
  f.wParam = message.wParam;
  f.lParam = message.lParam;
  if (message.copyData) {
    f.flags |= kFrameHasCopyData;
    if (message.copyData->nullData) f.flags |= kFrameNullData;
    f.dwData = message.copyData->dwData;
    if (!message.copyData->nullData) f.data = message.copyData->bytes;
  }
  return f;
}

Message MessageFromFrame(const Frame& frame) {
  Message m;
  m.hwnd = frame.target;
  m.message = frame.message;
  m.wParam = frame.wParam;
  m.lParam = frame.lParam;
  if ((frame.flags & kFrameHasCopyData) != 0) {
    CopyData cd;
    cd.dwData = frame.dwData;
    cd.nullData = (frame.flags & kFrameNullData) != 0;
    cd.bytes = frame.data;
    m.copyData = std::move(cd);
  }
  return m;
}

std::vector<std::uint8_t> EncodeWindowName(std::string_view className, std::string_view title) {
  std::vector<std::uint8_t> out(className.begin(), className.end());
  out.push_back(0);
  out.insert(out.end(), title.begin(), title.end());
  return out;
}

bool DecodeWindowName(std::span<const std::uint8_t> data, std::string& className,
                      std::string& title) {
  const auto* begin = reinterpret_cast<const char*>(data.data());
  const std::string_view all(begin, data.size());
  const std::size_t nul = all.find('\0');
  if (nul == std::string_view::npos || nul == 0) return false;
  const std::string_view rest = all.substr(nul + 1);
  if (rest.find('\0') != std::string_view::npos) return false;
  if (nul > kMaxClassNameBytes || rest.size() > kMaxTitleBytes) return false;
  className.assign(all.substr(0, nul));
  title.assign(rest);
  return true;
}

}  // namespace qv::platform
