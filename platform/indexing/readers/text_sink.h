#pragma once
// What every reader shares: the errors it fails with, and the bounded place its text goes.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/indexing/document_text.h"
#include "platform/indexing/filter.h"

namespace qv::platform::readers {

// A limit refused the document (HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)).
inline constexpr HRESULT kLimitExceeded = MakeHr(0x800700DF);
// Titles and author names longer than this are cut.
inline constexpr std::size_t kMaxPropertyBytes = 4096;

// Collects a document's text part by part (a page, a slide, a sheet, a chapter) and stops
// taking text once maxTextBytes have been kept; the cut never splits a UTF-8 sequence.
class TextSink {
 public:
  TextSink(DocumentText& out, std::uint64_t maxTextBytes) : out_(out), left_(maxTextBytes) {}
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;
  ~TextSink() { EndPart(); }

  void Append(std::string_view text);
  // A paragraph break: one newline, never two in a row, none at the start of a part.
  void Break();
  // Ends the current part; an empty part leaves no chunk.
  void EndPart();
  // Drops the current part (a parse that failed half-way and is read again another way).
  void DiscardPart();
  bool Full() const { return out_.truncated; }

 private:
  DocumentText& out_;
  std::uint64_t left_;
  std::string part_;
};

// Cuts text to at most maxBytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);
// Surrounding white space removed and inner runs of it made single blanks (titles, names).
std::string CollapseSpace(std::string_view text);
// A property value: collapsed, cut at kMaxPropertyBytes, and left unset when empty.
void SetProperty(std::optional<std::string>& to, std::string_view text);

}  // namespace qv::platform::readers
