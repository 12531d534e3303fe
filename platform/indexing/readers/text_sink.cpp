#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

void TextSink::Append(std::string_view text) {
  if (text.empty() || out_.truncated) return;
  if (text.size() > left_) {
    text = CutUtf8(text, static_cast<std::size_t>(left_));
    out_.truncated = true;
  }
  part_.append(text);
  left_ -= text.size();
}

void TextSink::Break() {
  if (part_.empty() || part_.back() == '\n') return;
  Append("\n");
}

void TextSink::EndPart() {
  while (!part_.empty() && (part_.back() == '\n' || part_.back() == ' ')) part_.pop_back();
  if (!part_.empty()) out_.chunks.push_back(std::move(part_));
  part_.clear();
}

void TextSink::DiscardPart() {
  left_ += part_.size();
  part_.clear();
}

std::string CollapseSpace(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

void SetProperty(std::optional<std::string>& to, std::string_view text) {
  std::string value = CollapseSpace(text);
  value.resize(CutUtf8(value, kMaxPropertyBytes).size());
  if (value.empty()) return;
  to = std::move(value);
}

}  // namespace qv::platform::readers
