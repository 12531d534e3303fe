// RTF: a reader of our own. Groups nest, control words change state, text bytes are in the
// document's code page (\ansicpg), \uN gives a Unicode character followed by \ucN fallback
// characters to skip. Destinations that hold no body text (font and colour tables, style
// sheets, pictures, objects, and anything marked \*) are skipped; the info group's title and
// author become properties, its creation and revision times the dates.
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/utf.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/indexing/readers/document_readers.h"
#include "platform/indexing/readers/text_sink.h"

namespace qv::platform::readers {
namespace {

// Control words are at most this long, their parameters at most this many digits.
constexpr std::size_t kMaxWordLetters = 32;
constexpr std::size_t kMaxParamDigits = 10;
// Bytes in the code page are decoded in batches of at most this many.
constexpr std::size_t kPendingFlush = 64 * 1024;
// \ucN beyond this is nonsense; the count is clamped so that text is not lost to it.
constexpr int kMaxUnicodeSkip = 16;

enum class Dest { Text, Info, Title, Author, Created, Modified, Skip };

struct Group {
  Dest dest = Dest::Text;
  int uc = 1;  // fallback characters after \uN
};

struct DateParts {
  int yr = 0, mo = 0, dy = 0, hr = 0, min = 0, sec = 0;
};

// One iconv conversion; closed with its owner.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Code page bytes to UTF-8. Windows-1252 (and the default) are decoded here; other code
// pages go through iconv; a code page iconv does not know reads as Windows-1252.
class CodePageDecoder {
 public:
  void SetCodePage(long cp) {
    if (cp == codePage_) return;
    codePage_ = cp;
    iconv_.reset();
  }

  std::string Decode(std::string_view bytes) {
    if (codePage_ == 65001) return indexing::DecodeText(bytes);
    if (codePage_ == 0 || codePage_ == 1252) return indexing::Latin1ToUtf8(bytes);
    if (!iconv_) {
      const std::string name =
          codePage_ == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage_);
      iconv_ = std::make_unique<IconvHandle>("UTF-8", name.c_str());
    }
    if (!iconv_->valid()) return indexing::Latin1ToUtf8(bytes);
    const iconv_t cd = iconv_->get();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    std::string in(bytes);
    char* inp = in.data();
    std::size_t inLeft = in.size();
    std::array<char, 4096> buf;
    while (inLeft > 0) {
      char* outp = buf.data();
      std::size_t outLeft = buf.size();
      const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
      out.append(buf.data(), buf.size() - outLeft);
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
        // A byte the code page does not define, or a sequence cut short: a replacement
        // character, and on with the next byte.
        AppendUtf8(out, 0xFFFD);
        ++inp;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  long codePage_ = 1252;
  std::unique_ptr<IconvHandle> iconv_;
};

bool IsSkippedDestination(std::string_view w) {
  static constexpr std::string_view kSkipped[] = {
      "fonttbl",   "colortbl",    "stylesheet", "listtable",  "listoverridetable",
      "revtbl",    "rsidtbl",     "pict",       "object",     "objdata",
      "themedata", "colorschememapping", "datastore", "latentstyles", "filetbl",
      "xmlnstbl",  "generator",   "fldinst",    "nonshppict", "private",
      "pgdsctbl",  "mmathPr",     "header",     "footer",     "headerl",
      "headerr",   "headerf",     "footerl",    "footerr",    "footerf",
  };
  return std::find(std::begin(kSkipped), std::end(kSkipped), w) != std::end(kSkipped);
}

// Characters that control words stand for.
std::optional<char32_t> SpecialCharacter(std::string_view w) {
  static constexpr std::pair<std::string_view, char32_t> kChars[] = {
      {"emdash", 0x2014},    {"endash", 0x2013},    {"bullet", 0x2022},
      {"lquote", 0x2018},    {"rquote", 0x2019},    {"ldblquote", 0x201C},
      {"rdblquote", 0x201D}, {"emspace", ' '},      {"enspace", ' '},
      {"qmspace", ' '},      {"tab", '\t'},         {"cell", '\t'},
  };
  for (const auto& [name, c] : kChars) {
    if (name == w) return c;
  }
  return std::nullopt;
}

class RtfParser {
 public:
  RtfParser(std::string_view in, const ReaderLimits& limits, DocumentText& out)
      : in_(in), limits_(limits), out_(out), sink_(out, limits.maxTextBytes) {}

  HRESULT Run() {
    if (!in_.starts_with("{\\rtf")) return FILTER_E_UNKNOWNFORMAT;
    while (pos_ < in_.size() && !sink_.Full()) {
      const char c = in_[pos_++];
      if (c == '{') {
        Flush();
        skip_ = 0;
        if (groups_.size() >= limits_.maxDepth) return kLimitExceeded;
        groups_.push_back(groups_.empty() ? Group{} : groups_.back());
      } else if (c == '}') {
        Flush();
        skip_ = 0;
        if (groups_.empty()) break;
        EndGroup();
        if (groups_.empty()) break;  // the document's own group is closed
      } else if (c == '\\') {
        ControlSequence();
      } else if (c == '\r' || c == '\n') {
        // Line ends in RTF source carry no meaning.
      } else if (groups_.empty()) {
        break;
      } else if (skip_ > 0) {
        --skip_;
      } else if (c == '\t') {
        Flush();
        Emit("\t");
      } else if (static_cast<unsigned char>(c) >= 0x20) {
        Byte(c);
      }
    }
    Flush();
    sink_.EndPart();
    while (!groups_.empty()) EndGroup();
    SetProperty(out_.title, title_);
    SetProperty(out_.author, author_);
    out_.created = MakeDate(created_);
    out_.modified = MakeDate(modified_);
    return S_OK;
  }

 private:
  Dest Current() const { return groups_.empty() ? Dest::Skip : groups_.back().dest; }

  void EndGroup() { groups_.pop_back(); }

  void Byte(char c) {
    pending_ += c;
    if (pending_.size() >= kPendingFlush) Flush();
  }

  void Flush() {
    if (pending_.empty()) return;
    const std::string text = decoder_.Decode(pending_);
    pending_.clear();
    Emit(text);
  }

  void Emit(std::string_view text) {
    switch (Current()) {
      case Dest::Text:
        sink_.Append(text);
        break;
      case Dest::Title:
        if (title_.size() < kMaxPropertyBytes) title_.append(text);
        break;
      case Dest::Author:
        if (author_.size() < kMaxPropertyBytes) author_.append(text);
        break;
      default:
        break;
    }
  }

  void EmitCodePoint(char32_t cp) {
    std::string s;
    AppendUtf8(s, cp == 0 ? 0xFFFD : cp);
    Emit(s);
  }

  void Unicode(long n) {
    if (n < 0) n += 65536;
    const auto u = static_cast<char32_t>(n & 0xFFFF);
    if (u >= 0xD800 && u <= 0xDBFF) {
      highSurrogate_ = u;
      return;
    }
    if (u >= 0xDC00 && u <= 0xDFFF && highSurrogate_) {
      EmitCodePoint(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (u - 0xDC00));
    } else {
      EmitCodePoint(u);
    }
    highSurrogate_ = 0;
  }

  void ControlSequence() {
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++pos_;
      ControlSymbol(c);
      return;
    }
    const std::size_t start = pos_;
    while (pos_ < in_.size() && pos_ - start < kMaxWordLetters &&
           std::isalpha(static_cast<unsigned char>(in_[pos_]))) {
      ++pos_;
    }
    const std::string_view word = in_.substr(start, pos_ - start);
    std::optional<long> param;
    bool negative = false;
    if (pos_ < in_.size() && in_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    const std::size_t digits = pos_;
    long value = 0;
    while (pos_ < in_.size() && pos_ - digits < kMaxParamDigits &&
           std::isdigit(static_cast<unsigned char>(in_[pos_]))) {
      value = value * 10 + (in_[pos_++] - '0');
    }
    if (pos_ > digits) param = negative ? -value : value;
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;  // the delimiter belongs to the word
    ControlWord(word, param);
  }

  void ControlSymbol(char c) {
    if (c == '\'') {
      const int hi = pos_ < in_.size() ? Hex(in_[pos_]) : -1;
      const int lo = pos_ + 1 < in_.size() ? Hex(in_[pos_ + 1]) : -1;
      if (hi < 0 || lo < 0) return;
      pos_ += 2;
      if (skip_ > 0) {
        --skip_;
        return;
      }
      Byte(static_cast<char>(hi * 16 + lo));
      return;
    }
    Flush();
    if (c == '*') {
      // An optional destination: nothing we read lives in one.
      if (!groups_.empty()) groups_.back().dest = Dest::Skip;
      return;
    }
    if (skip_ > 0) {
      --skip_;
      return;
    }
    switch (c) {
      case '\\':
      case '{':
      case '}':
        Emit(std::string_view(&c, 1));
        break;
      case '~':
        EmitCodePoint(0xA0);
        break;
      case '_':
        Emit("-");
        break;
      case '\n':
      case '\r':
        if (Current() == Dest::Text) sink_.Break();
        break;
      default:
        break;  // \- (optional hyphen), \| and \: leave nothing
    }
  }

  void ControlWord(std::string_view w, std::optional<long> param) {
    if (w == "bin") {
      // Binary data follows; it is never text, and it may contain braces.
      Flush();
      const auto n = static_cast<std::size_t>(std::max(0L, param.value_or(0)));
      pos_ += std::min(n, in_.size() - pos_);
      return;
    }
    if (w == "u" && param) {
      Flush();
      if (skip_ > 0) {
        --skip_;
        return;
      }
      Unicode(*param);
      skip_ = groups_.empty() ? 1 : groups_.back().uc;
      return;
    }
    Flush();
    if (skip_ > 0) {
      --skip_;
      return;
    }
    if (groups_.empty()) return;
    Group& g = groups_.back();
    if (w == "uc") {
      g.uc = static_cast<int>(std::clamp(param.value_or(1), 0L, long{kMaxUnicodeSkip}));
    } else if (w == "ansicpg" && param) {
      decoder_.SetCodePage(*param);
    } else if (w == "ansi") {
      decoder_.SetCodePage(1252);
    } else if (w == "mac") {
      decoder_.SetCodePage(10000);
    } else if (w == "pc") {
      decoder_.SetCodePage(437);
    } else if (w == "pca") {
      decoder_.SetCodePage(850);
    } else if (g.dest == Dest::Skip) {
      // Nothing inside a skipped destination matters.
    } else if (w == "info") {
      g.dest = Dest::Info;
    } else if (g.dest == Dest::Info && (w == "title" || w == "author" || w == "creatim" ||
                                        w == "revtim")) {
      g.dest = w == "title"     ? Dest::Title
               : w == "author"  ? Dest::Author
               : w == "creatim" ? Dest::Created
                                : Dest::Modified;
    } else if (IsSkippedDestination(w)) {
      g.dest = Dest::Skip;
    } else if (g.dest == Dest::Created || g.dest == Dest::Modified) {
      DateParts& d = g.dest == Dest::Created ? created_ : modified_;
      const int v = static_cast<int>(std::clamp(param.value_or(0), 0L, 100000L));
      if (w == "yr") d.yr = v;
      else if (w == "mo") d.mo = v;
      else if (w == "dy") d.dy = v;
      else if (w == "hr") d.hr = v;
      else if (w == "min") d.min = v;
      else if (w == "sec") d.sec = v;
    } else if (w == "par" || w == "line" || w == "sect" || w == "page" || w == "row") {
      if (g.dest == Dest::Text) sink_.Break();
    } else if (auto ch = SpecialCharacter(w)) {
      EmitCodePoint(*ch);
    }
  }

  static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // The info group's times are in the writer's local time, which the file does not name;
  // they are kept as if UTC.
  static std::optional<DATE> MakeDate(const DateParts& d) {
    if (d.yr < 100 || d.yr > 9999 || d.mo < 1 || d.mo > 12 || d.dy < 1 || d.dy > 31 ||
        d.hr > 23 || d.min > 59 || d.sec > 59) {
      return std::nullopt;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", d.yr, d.mo, d.dy, d.hr,
                  d.min, d.sec);
    return ParseIsoDate(buf);
  }

  std::string_view in_;
  const ReaderLimits& limits_;
  DocumentText& out_;
  TextSink sink_;
  std::size_t pos_ = 0;
  std::vector<Group> groups_;
  int skip_ = 0;  // fallback characters still to skip after \uN
  char32_t highSurrogate_ = 0;
  std::string pending_;
  CodePageDecoder decoder_;
  std::string title_, author_;
  DateParts created_, modified_;
};

}  // namespace

HRESULT ReadRtf(std::string_view bytes, const ReaderLimits& limits, DocumentText& out) {
  out = DocumentText{};
  RtfParser parser(bytes, limits, out);
  return parser.Run();
}

}  // namespace qv::platform::readers
