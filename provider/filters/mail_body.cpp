#include "provider/filters/mail_body.h"

#include <array>
#include <cctype>

#include "common/utf.h"
#include "platform/indexing/builtin_filters.h"
#include "provider/filters/charset.h"
#include "provider/filters/filter_constants.h"

namespace qv::filters {
namespace {

enum class Mode { Text, Html };

// Destinations whose content is never text of the document.
constexpr std::array<std::string_view, 24> kSkippedDestinations = {
    "fonttbl",   "colortbl",  "stylesheet",       "info",       "pict",      "object",
    "header",    "footer",    "headerl",          "headerr",    "footerl",   "footerr",
    "listtable", "rsidtbl",   "listoverridetable", "generator", "xmlnstbl",  "themedata",
    "fldinst",   "datastore", "latentstyles",     "colorschememapping", "pntxta", "pntxtb"};

bool IsSkippedDestination(std::string_view word) {
  for (auto d : kSkippedDestinations) {
    if (d == word) return true;
  }
  return false;
}

struct GroupState {
  bool skip = false;     // nothing of this group is text
  bool htmlTag = false;  // text of this group is HTML markup
  bool htmlRtf = false;  // RTF-only text, left out of the HTML
  int uc = 1;            // fallback characters after \u
};

class RtfReader {
 public:
  RtfReader(std::string_view rtf, Mode mode) : s_(rtf), mode_(mode) {}

  std::string Run() {
    stack_.reserve(kMaxRtfDepth);
    stack_.push_back({});
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == '{') {
        ++i_;
        if (stack_.size() < static_cast<std::size_t>(kMaxRtfDepth)) {
          stack_.push_back(stack_.back());
        } else {
          ++overflow_;  // deeper groups share the deepest one's state
        }
        groupStart_ = true;
        starred_ = false;
        continue;
      }
      if (c == '}') {
        ++i_;
        if (overflow_ > 0) {
          --overflow_;
        } else if (stack_.size() > 1) {
          Flush();
          stack_.pop_back();
        }
        groupStart_ = starred_ = false;
        continue;
      }
      if (c == '\\') {
        ControlSequence();
        continue;
      }
      ++i_;
      if (c == '\r' || c == '\n') continue;
      groupStart_ = false;
      Byte(static_cast<unsigned char>(c));
    }
    Flush();
    return std::move(out_);
  }

  bool sawFromHtml() const { return fromHtml_; }

 private:
  GroupState& state() { return stack_.back(); }

  bool Emitting() {
    const GroupState& g = state();
    if (g.skip) return false;
    if (mode_ == Mode::Html) return g.htmlTag || !g.htmlRtf;
    return true;
  }

  void Byte(unsigned char b) {
    if (skipFallback_ > 0) {
      --skipFallback_;
      return;
    }
    if (Emitting()) pending_ += static_cast<char>(b);
  }

  void Emit(std::string_view utf8) {
    if (!Emitting()) return;
    Flush();
    out_.append(utf8);
  }

  // Bytes in the document's code page to UTF-8.
  void Flush() {
    if (pending_.empty()) return;
    std::string text;
    if (codePage_ == 65001 && Utf8Valid(pending_)) {
      text = pending_;
    } else if (!ConvertToUtf8(pending_, CharsetOfCodePage(codePage_), text)) {
      text = platform::indexing::Latin1ToUtf8(pending_);
    }
    out_ += text;
    pending_.clear();
  }

  static bool Utf8Valid(const std::string& s) {
    bool ok = true;
    Utf8ToUtf16(s, &ok);
    return ok;
  }

  void ControlSequence() {
    ++i_;  // the backslash
    if (i_ >= s_.size()) return;
    const char c = s_[i_];
    if (std::isalpha(static_cast<unsigned char>(c))) {
      std::size_t start = i_;
      while (i_ < s_.size() && i_ - start < 32 && std::isalpha(static_cast<unsigned char>(s_[i_]))) ++i_;
      const std::string_view word = s_.substr(start, i_ - start);
      bool hasParam = false;
      bool negative = false;
      long param = 0;
      if (i_ < s_.size() && s_[i_] == '-') {
        negative = true;
        ++i_;
      }
      std::size_t digits = 0;
      while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
        if (digits++ < 10) param = param * 10 + (s_[i_] - '0');
        hasParam = true;
        ++i_;
      }
      if (negative) param = -param;
      if (i_ < s_.size() && s_[i_] == ' ') ++i_;  // the delimiter belongs to the word
      Word(word, hasParam, param);
      return;
    }
    ++i_;
    switch (c) {
      case '\'': {
        int value = 0;
        int n = 0;
        while (n < 2 && i_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[i_]))) {
          const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(s_[i_])));
          value = value * 16 + (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : h - 'a' + 10);
          ++i_;
          ++n;
        }
        groupStart_ = false;
        if (n > 0) Byte(static_cast<unsigned char>(value));
        return;
      }
      case '*':
        starred_ = true;
        return;
      case '\\': case '{': case '}':
        groupStart_ = false;
        Byte(static_cast<unsigned char>(c));
        return;
      case '~':
        groupStart_ = false;
        Emit("\xC2\xA0");
        return;
      case '_':
        groupStart_ = false;
        Emit("-");
        return;
      case '\r': case '\n':
        groupStart_ = false;
        LineEnd();
        return;
      default:
        return;  // \- optional hyphen, \: index entry and the like
    }
  }

  void LineEnd() { Emit(mode_ == Mode::Html ? "\r\n" : "\n"); }

  void Word(std::string_view w, bool hasParam, long param) {
    const bool atStart = groupStart_;
    const bool starred = starred_;
    groupStart_ = starred_ = false;
    if (w == "fromhtml") {
      fromHtml_ = true;
      return;
    }
    if (w == "ansicpg" && hasParam && param > 0 && param < 70000) {
      Flush();
      codePage_ = static_cast<std::uint32_t>(param);
      return;
    }
    if (atStart) {
      if (mode_ == Mode::Html && starred && (w == "htmltag")) {
        state().htmlTag = true;
        state().htmlRtf = false;
        return;
      }
      if (starred || IsSkippedDestination(w) || w == "pntext") {
        state().skip = true;
        return;
      }
    }
    if (w == "htmlrtf") {
      if (mode_ == Mode::Html) {
        Flush();
        state().htmlRtf = !hasParam || param != 0;
      }
      return;
    }
    if (w == "uc" && hasParam && param >= 0 && param < 16) {
      state().uc = static_cast<int>(param);
      return;
    }
    if (w == "u" && hasParam) {
      std::uint32_t cp = static_cast<std::uint32_t>(param < 0 ? param + 65536 : param) & 0xFFFF;
      if (cp >= 0xD800 && cp < 0xDC00) {
        highSurrogate_ = cp;
      } else {
        if (cp >= 0xDC00 && cp < 0xE000 && highSurrogate_) {
          cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (cp - 0xDC00);
        } else if (cp >= 0xD800 && cp < 0xE000) {
          cp = 0xFFFD;
        }
        highSurrogate_ = 0;
        std::string u;
        AppendUtf8(u, cp == 0 ? 0xFFFD : cp);
        Emit(u);
      }
      skipFallback_ = state().uc;
      return;
    }
    if (w == "par" || w == "line" || w == "page" || w == "row" || w == "column" ||
        w == "sect") {
      if (mode_ == Mode::Html && w != "par" && w != "line") return;
      LineEnd();
      return;
    }
    if (w == "tab") {
      Emit("\t");
      return;
    }
    if (w == "cell") {
      if (mode_ == Mode::Text) Emit("\t");
      return;
    }
  }

  std::string_view s_;
  Mode mode_;
  std::size_t i_ = 0;
  std::vector<GroupState> stack_;
  int overflow_ = 0;
  bool groupStart_ = false;
  bool starred_ = false;
  bool fromHtml_ = false;
  int skipFallback_ = 0;
  std::uint32_t highSurrogate_ = 0;
  std::uint32_t codePage_ = 1252;
  std::string pending_;
  std::string out_;
};

}  // namespace

bool IsRtf(std::string_view body) { return body.substr(0, 5) == "{\\rtf"; }

bool RtfToHtml(std::string_view rtf, std::string& html) {
  // The marker sits in the header, before any text.
  const auto head = rtf.substr(0, 1024);
  if (!IsRtf(rtf) || head.find("\\fromhtml") == std::string_view::npos) return false;
  RtfReader reader(rtf, Mode::Html);
  html = reader.Run();
  return reader.sawFromHtml();
}

std::string RtfToText(std::string_view rtf) { return RtfReader(rtf, Mode::Text).Run(); }

std::string WrapTextAsHtml(std::string_view text, std::string_view charset) {
  std::string out = "<HTML><BODY>";
  if (!charset.empty()) {
    out += "<meta http-equiv=\"Content-Type\" content=\"text/html;charset=";
    out += charset;
    out += "\">";
  }
  out.reserve(out.size() + text.size() + text.size() / 8 + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "<BR>";
        break;
      case '\n': out += "<BR>"; break;
      default: out += c;
    }
  }
  out += "</BODY></HTML>";
  return out;
}

bool MailBodyToHtml(std::string_view body, BodyKind kind, std::string_view charset,
                    std::string& html) {
  if (IsRtf(body)) {
    if (RtfToHtml(body, html)) return true;
    html = WrapTextAsHtml(RtfToText(body), "utf-8");
    return true;
  }
  switch (kind) {
    case BodyKind::Html: html = std::string(body); return true;
    case BodyKind::Text: html = WrapTextAsHtml(body, charset); return true;
    case BodyKind::Rtf: return false;  // said to be RTF, but it is not
  }
  return false;
}

}  // namespace qv::filters
