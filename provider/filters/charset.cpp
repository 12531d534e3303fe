#include "provider/filters/charset.h"

#include <iconv.h>

#include <cerrno>

namespace qv::filters {
namespace {

// iconv_t as a resource.
class Converter {
 public:
  explicit Converter(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

bool ConvertToUtf8(std::string_view bytes, std::string_view charset, std::string& out) {
  out.clear();
  if (charset.empty() || charset.size() > 64) return false;
  Converter conv{std::string(charset)};
  if (!conv.ok()) return false;
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buf[16384];
  for (;;) {
    char* to = buf;
    std::size_t toLeft = sizeof buf;
    const std::size_t rc = iconv(conv.get(), inLeft ? &in : nullptr, &inLeft, &to, &toLeft);
    out.append(buf, static_cast<std::size_t>(to - buf));
    if (rc != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) continue;
    if (errno == EILSEQ || errno == EINVAL) {
      // A byte the charset does not have: mark it and go on, as a reader would.
      if (inLeft == 0) break;
      out += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
      continue;
    }
    return false;
  }
  return true;
}

std::string CharsetOfCodePage(std::uint32_t codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "US-ASCII";
    case 932: return "SHIFT_JIS";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 20866: return "KOI8-R";
    case 10000: return "MACINTOSH";
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28605) {
    return "ISO-8859-" + std::to_string(codePage - 28590);
  }
  if (codePage >= 1250 && codePage <= 1258) return "WINDOWS-" + std::to_string(codePage);
  if (codePage >= 437 && codePage <= 874) return "CP" + std::to_string(codePage);
  return "WINDOWS-1252";
}

}  // namespace qv::filters
