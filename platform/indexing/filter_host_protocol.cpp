#include "platform/indexing/filter_host_protocol.h"

#include <algorithm>
#include <cstring>

namespace qv::platform::indexing {
namespace {

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint64_t GetLe(std::string_view s, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
  }
  return v;
}

// Text frames end on a whole UTF-8 sequence where one is near, so that no frame starts in
// the middle of a character.
std::size_t CutAt(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  std::size_t cut = max;
  for (int back = 0; back < 3 && cut > 0; ++back) {
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80) return cut;
    --cut;
  }
  return (static_cast<unsigned char>(text[cut]) & 0xC0) != 0x80 ? cut : max;
}

void AppendText(std::string& out, char first, std::string_view text) {
  constexpr std::size_t kPiece = kMaxHostFrame - 16;
  char type = first;
  do {
    const std::size_t n = CutAt(text, kPiece);
    AppendFrame(out, type, text.substr(0, n));
    text.remove_prefix(n);
    type = kFrameAppend;
  } while (!text.empty());
}

}  // namespace

void AppendFrame(std::string& out, char type, std::string_view payload) {
  PutU32(out, static_cast<std::uint32_t>(payload.size() + 1));
  out += type;
  out.append(payload);
}

std::string EncodeRequest(std::string_view path, const ReaderLimits& limits) {
  std::string payload;
  PutU64(payload, limits.maxTextBytes);
  PutU64(payload, limits.maxDecompressedBytes);
  PutU32(payload, limits.maxEntries);
  PutU32(payload, limits.maxDepth);
  payload.append(path);
  std::string out;
  AppendFrame(out, kFrameRequest, payload);
  return out;
}

bool DecodeRequest(std::string_view payload, std::string& path, ReaderLimits& limits) {
  constexpr std::size_t kFixed = 24;
  if (payload.size() <= kFixed || payload.size() > kFixed + kMaxHostPath) return false;
  limits.maxTextBytes = GetLe(payload, 0, 8);
  limits.maxDecompressedBytes = GetLe(payload, 8, 8);
  limits.maxEntries = static_cast<std::uint32_t>(GetLe(payload, 16, 4));
  limits.maxDepth = static_cast<std::uint32_t>(GetLe(payload, 20, 4));
  path.assign(payload.substr(kFixed));
  return path.find('\0') == std::string::npos && path.front() == '/';
}

std::string EncodeReply(const DocumentText& text, HRESULT status, const ReaderLimits& limits,
                        bool retiring) {
  std::string out;
  bool truncated = text.truncated;
  std::uint64_t left = limits.maxTextBytes;
  std::uint32_t chunks = 0;
  for (const auto& chunk : text.chunks) {
    if (chunks == limits.maxEntries || left == 0) {
      truncated = true;
      break;
    }
    std::string_view piece = chunk;
    if (piece.size() > left) {
      piece = piece.substr(0, CutAt(piece, static_cast<std::size_t>(left)));
      truncated = true;
    }
    AppendText(out, kFrameChunk, piece);
    left -= piece.size();
    ++chunks;
  }
  auto textProperty = [&](HostProperty which, const std::optional<std::string>& v) {
    if (!v) return;
    std::string payload(1, static_cast<char>(which));
    payload.append(std::string_view(*v).substr(0, CutAt(*v, kMaxHostProperty)));
    AppendFrame(out, kFrameProperty, payload);
  };
  auto dateProperty = [&](HostProperty which, const std::optional<DATE>& v) {
    if (!v) return;
    std::string payload(1, static_cast<char>(which));
    std::uint64_t bits = 0;
    std::memcpy(&bits, &*v, sizeof bits);
    PutU64(payload, bits);
    AppendFrame(out, kFrameProperty, payload);
  };
  textProperty(HostProperty::Title, text.title);
  textProperty(HostProperty::Author, text.author);
  dateProperty(HostProperty::Created, text.created);
  dateProperty(HostProperty::Modified, text.modified);
  std::string end;
  PutU32(end, static_cast<std::uint32_t>(status));
  end += static_cast<char>((truncated ? kEndTruncated : 0) | (retiring ? kEndRetiring : 0));
  AppendFrame(out, kFrameEnd, end);
  return out;
}

ReplyDecoder::State ReplyDecoder::Refuse(std::string why) {
  error_ = std::move(why);
  pending_.clear();
  pending_.shrink_to_fit();
  return state_ = State::Bad;
}

ReplyDecoder::State ReplyDecoder::Feed(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty() && state_ == State::NeedMore) {
    // Gather the 4-byte header, then the frame it announces, never more than one frame.
    std::size_t want = 4;
    if (pending_.size() >= 4) {
      const std::uint64_t length = GetLe(pending_, 0, 4);
      if (length == 0 || length > kMaxHostFrame) return Refuse("a frame of a size out of bounds");
      want = 4 + static_cast<std::size_t>(length);
    }
    const std::size_t take = std::min(want - pending_.size(), bytes.size());
    pending_.append(reinterpret_cast<const char*>(bytes.data()), take);
    bytes = bytes.subspan(take);
    if (pending_.size() < want) continue;
    if (want == 4) {
      // A header in hand: refuse a size out of bounds before waiting for its frame.
      const std::uint64_t length = GetLe(pending_, 0, 4);
      if (length == 0 || length > kMaxHostFrame) return Refuse("a frame of a size out of bounds");
      continue;
    }
    const std::string_view frame(pending_);
    const State s = Frame(frame[4], frame.substr(5));
    pending_.clear();
    if (s == State::Bad) return s;
  }
  if (state_ == State::Done && !bytes.empty()) return Refuse("bytes after the end of the reply");
  return state_;
}

ReplyDecoder::State ReplyDecoder::Frame(char type, std::string_view payload) {
  switch (type) {
    case kFrameChunk:
    case kFrameAppend: {
      if (type == kFrameChunk) {
        if (text_.chunks.size() >= limits_.maxEntries) return Refuse("too many text chunks");
        text_.chunks.emplace_back();
      } else if (text_.chunks.empty()) {
        return Refuse("more text before any chunk");
      }
      textBytes_ += payload.size();
      if (textBytes_ > limits_.maxTextBytes) return Refuse("more text than the limit");
      text_.chunks.back().append(payload);
      return State::NeedMore;
    }
    case kFrameProperty: {
      if (payload.empty()) return Refuse("an empty property");
      const auto which = static_cast<HostProperty>(payload[0]);
      const std::string_view value = payload.substr(1);
      switch (which) {
        case HostProperty::Title:
        case HostProperty::Author: {
          if (value.size() > kMaxHostProperty) return Refuse("a property longer than the limit");
          auto& slot = which == HostProperty::Title ? text_.title : text_.author;
          if (slot) return Refuse("a property given twice");
          slot = std::string(value);
          return State::NeedMore;
        }
        case HostProperty::Created:
        case HostProperty::Modified: {
          if (value.size() != 8) return Refuse("a date of the wrong size");
          const std::uint64_t bits = GetLe(value, 0, 8);
          DATE d = 0;
          std::memcpy(&d, &bits, sizeof d);
          auto& slot = which == HostProperty::Created ? text_.created : text_.modified;
          if (slot) return Refuse("a property given twice");
          if (d == d) slot = d;  // a NaN is no date
          return State::NeedMore;
        }
      }
      return Refuse("an unknown property");
    }
    case kFrameEnd: {
      if (payload.size() != 5) return Refuse("an end frame of the wrong size");
      status_ = static_cast<HRESULT>(static_cast<std::uint32_t>(GetLe(payload, 0, 4)));
      const auto flags = static_cast<std::uint8_t>(payload[4]);
      text_.truncated = (flags & kEndTruncated) != 0;
      retiring_ = (flags & kEndRetiring) != 0;
      return state_ = State::Done;
    }
    default:
      return Refuse("an unknown frame type");
  }
}

}  // namespace qv::platform::indexing
