#pragma once
// What the indexer and its filter host say to each other over their socket. Every message is
// a frame: a 4-byte little-endian length (of what follows), a type byte and the payload.
//   indexer -> host   'Q' request: limits (u64 text, u64 decompressed, u32 entries, u32 depth)
//                         then the document's path.
//   host -> indexer   'C' a new text chunk, 'A' more text of the last chunk,
//                     'P' a property (u8 which, then UTF-8 text or an 8-byte DATE),
//                     'E' the end: u32 HRESULT, u8 flags (truncated, host retiring).
// The host is not trusted: the reply decoder bounds every frame, the text, the number of
// chunks and the properties, and refuses anything else.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "platform/indexing/document_text.h"

namespace qv::platform::indexing {

// The largest frame either side sends; longer text goes out in several frames.
inline constexpr std::size_t kMaxHostFrame = 1u << 20;
inline constexpr std::size_t kMaxHostPath = 4096;
inline constexpr std::size_t kMaxHostProperty = 64u << 10;

inline constexpr char kFrameRequest = 'Q';
inline constexpr char kFrameChunk = 'C';
inline constexpr char kFrameAppend = 'A';
inline constexpr char kFrameProperty = 'P';
inline constexpr char kFrameEnd = 'E';

enum class HostProperty : std::uint8_t { Title = 1, Author = 2, Created = 3, Modified = 4 };

inline constexpr std::uint8_t kEndTruncated = 0x1;
// The host ends after this reply (its CPU budget for the batch is spent); start a new one.
inline constexpr std::uint8_t kEndRetiring = 0x2;

// Appends one frame to `out`.
void AppendFrame(std::string& out, char type, std::string_view payload);

std::string EncodeRequest(std::string_view path, const ReaderLimits& limits);
// A request's payload (after the type byte); false when it is not one.
bool DecodeRequest(std::string_view payload, std::string& path, ReaderLimits& limits);

// The whole reply for one document: the text cut to limits.maxTextBytes (and then marked
// truncated) and to limits.maxEntries chunks.
std::string EncodeReply(const DocumentText& text, HRESULT status, const ReaderLimits& limits,
                        bool retiring);

// Reads one request's worth of reply frames as they arrive, in pieces of any size.
class ReplyDecoder {
 public:
  enum class State { NeedMore, Done, Bad };

  explicit ReplyDecoder(const ReaderLimits& limits) : limits_(limits) {}

  // Consumes what it can of `bytes`; Done once the end frame is read (bytes after it are
  // an error: the host speaks only when asked), Bad at the first thing out of bounds.
  State Feed(std::span<const std::uint8_t> bytes);
  State state() const { return state_; }
  // Why the reply was refused.
  const std::string& error() const { return error_; }
  // The reader's own result and whether the host retires; valid once Done.
  HRESULT status() const { return status_; }
  bool retiring() const { return retiring_; }
  DocumentText& text() { return text_; }

 private:
  State Frame(char type, std::string_view payload);
  State Refuse(std::string why);

  ReaderLimits limits_;
  State state_ = State::NeedMore;
  std::string pending_;  // an incomplete frame
  std::string error_;
  DocumentText text_;
  std::uint64_t textBytes_ = 0;
  HRESULT status_ = E_FAIL;
  bool retiring_ = false;
};

}  // namespace qv::platform::indexing
