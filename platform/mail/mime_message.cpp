#include "platform/mail/mime_message.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/utf.h"

namespace qv::platform::mail {
namespace {

constexpr std::string_view kWhite = " \t\r\n";
constexpr std::size_t kMaxEncodedWord = 1000;

std::string_view Trim(std::string_view s) {
  const auto b = s.find_first_not_of(kWhite);
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(kWhite);
  return s.substr(b, e - b + 1);
}

// One line of the input: its text without the line end, and where the next line begins.
struct Line {
  std::string_view text;
  std::size_t next = 0;
};
Line LineAt(std::string_view in, std::size_t pos) {
  const auto nl = in.find('\n', pos);
  if (nl == std::string_view::npos) return {in.substr(pos), in.size()};
  std::size_t end = nl;
  if (end > pos && in[end - 1] == '\r') --end;
  return {in.substr(pos, end - pos), nl + 1};
}

bool ValidFieldName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126 || c == ':') return false;
  }
  return true;
}

// Reads the header block that starts at `pos`; `pos` ends at the first byte of the body.
bool ParseHeaders(std::string_view in, std::size_t& pos, bool strict,
                  std::vector<HeaderField>& out, std::string& error) {
  // An mbox separator line ("From sender date") sometimes leads a stored message.
  if (strict && in.substr(pos).starts_with("From ")) pos = LineAt(in, pos).next;
  while (pos < in.size()) {
    const std::size_t start = pos;
    Line line = LineAt(in, pos);
    if (line.text.empty()) {  // the blank line that ends the header
      pos = line.next;
      return true;
    }
    if (line.text.find('\0') != std::string_view::npos) {
      error = "the header holds a binary zero";
      return false;
    }
    if (line.text.front() == ' ' || line.text.front() == '\t') {
      if (strict) {
        error = "the header begins with a continuation line";
        return false;
      }
      pos = line.next;
      continue;
    }
    const auto colon = line.text.find(':');
    const std::string_view name =
        colon == std::string_view::npos ? std::string_view{} : Trim(line.text.substr(0, colon));
    if (!ValidFieldName(name)) {
      if (strict || out.empty()) {
        error = "malformed header line: a field needs a name and a colon";
        if (!strict) {
          // A part without a header: its body begins here.
          error.clear();
          return true;
        }
        return false;
      }
      // Lenient in parts: the header ends where the fields stop.
      return true;
    }
    HeaderField field;
    field.name = std::string(name);
    field.value = std::string(line.text.substr(colon + 1));
    pos = line.next;
    while (pos < in.size() && (in[pos] == ' ' || in[pos] == '\t')) {
      line = LineAt(in, pos);
      if (line.text.find('\0') != std::string_view::npos) {
        error = "the header holds a binary zero";
        return false;
      }
      field.value += ' ';
      field.value += Trim(line.text);
      pos = line.next;
      if (field.value.size() > kMaxHeaderFieldBytes) break;
    }
    if (field.value.size() > kMaxHeaderFieldBytes) {
      error = "the header field \"" + field.name.substr(0, 64) + "\" is longer than " +
              std::to_string(kMaxHeaderFieldBytes) + " bytes";
      return false;
    }
    field.value = std::string(Trim(field.value));
    field.raw = std::string(in.substr(start, pos - start));
    out.push_back(std::move(field));
    if (out.size() > kMaxHeaderFields) {
      error = "the header has more than " + std::to_string(kMaxHeaderFields) + " fields";
      return false;
    }
  }
  return true;  // a header without a body
}

// "type/subtype; a=b; c=\"d\"" into its lower-case value and its parameters.
void ParseStructuredValue(std::string_view value, std::string& head,
                          std::map<std::string, std::string>& params) {
  std::size_t i = 0;
  const auto semi = value.find(';');
  head = AsciiLower(Trim(value.substr(0, semi)));
  if (semi == std::string_view::npos) return;
  i = semi + 1;
  while (i < value.size()) {
    while (i < value.size() && (kWhite.find(value[i]) != std::string_view::npos || value[i] == ';'))
      ++i;
    const auto eq = value.find('=', i);
    if (eq == std::string_view::npos) return;
    std::string name = AsciiLower(Trim(value.substr(i, eq - i)));
    i = eq + 1;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    std::string v;
    if (i < value.size() && value[i] == '"') {
      ++i;
      while (i < value.size() && value[i] != '"') {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        v += value[i++];
      }
      if (i < value.size()) ++i;  // closing quote
    } else {
      const auto end = value.find(';', i);
      v = std::string(Trim(value.substr(i, end == std::string_view::npos ? end : end - i)));
      i = end == std::string_view::npos ? value.size() : end;
    }
    if (!name.empty() && !params.contains(name)) params.emplace(std::move(name), std::move(v));
  }
}

bool DecodeTransfer(std::string_view encoding, std::string_view in, std::string& out,
                    std::string& error) {
  if (encoding == "base64") {
    if (!DecodeBase64(in, out)) {
      error = "a base64 body holds bytes outside the base64 alphabet";
      return false;
    }
    return true;
  }
  if (encoding == "quoted-printable") {
    out = DecodeQuotedPrintable(in);
    return true;
  }
  out = std::string(in);  // 7bit, 8bit, binary and unknown encodings are taken as they are
  return true;
}

bool ParsePart(std::string_view in, bool strict, int depth, std::size_t& partCount,
               MimePart& part, std::size_t* headerBytes, std::string& error);

bool SplitMultipart(std::string_view body, const std::string& boundary, int depth,
                    std::size_t& partCount, MimePart& part, std::string& error) {
  const std::string delimiter = "--" + boundary;
  std::size_t pos = 0;
  std::size_t contentStart = std::string_view::npos;
  while (pos < body.size()) {
    const std::size_t lineStart = pos;
    const Line line = LineAt(body, pos);
    pos = line.next;
    if (!line.text.starts_with(delimiter)) continue;
    const std::string_view rest = line.text.substr(delimiter.size());
    const bool closing = rest.starts_with("--");
    if (!Trim(closing ? rest.substr(2) : rest).empty()) continue;
    if (contentStart != std::string_view::npos) {
      // The line end before the delimiter belongs to the delimiter.
      std::size_t end = lineStart;
      if (end > contentStart && body[end - 1] == '\n') --end;
      if (end > contentStart && body[end - 1] == '\r') --end;
      if (++partCount > kMaxMimeParts) {
        error = "the message has more than " + std::to_string(kMaxMimeParts) + " parts";
        return false;
      }
      MimePart sub;
      if (!ParsePart(body.substr(contentStart, end - contentStart), false, depth + 1, partCount,
                     sub, nullptr, error))
        return false;
      part.parts.push_back(std::move(sub));
    }
    if (closing) return true;
    contentStart = pos;
  }
  // A message cut short: keep the last part that began.
  if (contentStart != std::string_view::npos && contentStart < body.size()) {
    if (++partCount > kMaxMimeParts) {
      error = "the message has more than " + std::to_string(kMaxMimeParts) + " parts";
      return false;
    }
    MimePart sub;
    if (!ParsePart(body.substr(contentStart), false, depth + 1, partCount, sub, nullptr, error))
      return false;
    part.parts.push_back(std::move(sub));
  }
  return true;
}

bool ParsePart(std::string_view in, bool strict, int depth, std::size_t& partCount,
               MimePart& part, std::size_t* headerBytes, std::string& error) {
  if (depth > kMaxMimeDepth) {
    error = "MIME parts are nested more than " + std::to_string(kMaxMimeDepth) + " deep";
    return false;
  }
  std::size_t pos = 0;
  if (!ParseHeaders(in, pos, strict, part.headers, error)) return false;
  if (strict && part.headers.empty()) {
    error = "not a mail message: it has no header fields";
    return false;
  }
  if (headerBytes) *headerBytes = pos;
  if (const HeaderField* ct = FindHeader(part.headers, "Content-Type")) {
    std::string type;
    ParseStructuredValue(ct->value, type, part.params);
    if (type.find('/') != std::string::npos) part.mediaType = type;
  }
  if (const HeaderField* cd = FindHeader(part.headers, "Content-Disposition")) {
    std::map<std::string, std::string> ignored;
    ParseStructuredValue(cd->value, part.disposition, ignored);
  }
  const std::string_view body = pos < in.size() ? in.substr(pos) : std::string_view{};
  if (part.IsMultipart()) {
    const auto b = part.params.find("boundary");
    if (b != part.params.end() && !b->second.empty() && b->second.size() <= 200)
      return SplitMultipart(body, b->second, depth, partCount, part, error);
    part.mediaType = "text/plain";  // a multipart without a boundary is read as text
  }
  std::string encoding;
  if (const HeaderField* cte = FindHeader(part.headers, "Content-Transfer-Encoding"))
    encoding = AsciiLower(Trim(cte->value));
  return DecodeTransfer(encoding, body, part.body, error);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Valid UTF-8 kept, each byte that does not begin a valid sequence replaced by U+FFFD.
std::string CleanUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8SequenceLength(s, i);
    if (n == 0) {
      AppendUtf8(out, 0xFFFD);
      ++i;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
  }
  return out;
}

class Iconv {
 public:
  explicit Iconv(const std::string& from) : cd_(::iconv_open("UTF-8", from.c_str())) {}
  ~Iconv() {
    if (ok()) ::iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  std::string Convert(std::string_view in) {
    std::string out;
    std::array<char, 4096> buf;
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    while (left > 0) {
      char* dst = buf.data();
      std::size_t room = buf.size();
      const std::size_t r = ::iconv(cd_, &src, &left, &dst, &room);
      out.append(buf.data(), dst - buf.data());
      if (r != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      AppendUtf8(out, 0xFFFD);  // EILSEQ, or a sequence cut off at the end (EINVAL)
      if (errno != EILSEQ) break;
      ++src;
      --left;
    }
    return CleanUtf8(out);
  }

 private:
  iconv_t cd_;
};

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// One "=?charset?enc?text?=" word at `pos`: its charset and decoded bytes, and its end.
bool ReadEncodedWord(std::string_view s, std::size_t pos, std::string& charset,
                     std::string& bytes, std::size_t& end) {
  // Words are short (75 bytes by the rule); looking further would make a header full of
  // unclosed "=?" quadratic.
  const std::string_view w = s.substr(pos, kMaxEncodedWord);
  if (!w.starts_with("=?")) return false;
  const auto q1 = w.find('?', 2);
  if (q1 == std::string_view::npos || q1 + 2 >= w.size() || w[q1 + 2] != '?') return false;
  const char enc = AsciiLowerChar(w[q1 + 1]);
  const auto close = w.find("?=", q1 + 3);
  if (close == std::string_view::npos) return false;
  const std::string_view text = w.substr(q1 + 3, close - q1 - 3);
  if (text.find_first_of(" \t") != std::string_view::npos) return false;
  charset = std::string(w.substr(2, q1 - 2));
  if (const auto star = charset.find('*'); star != std::string::npos) charset.resize(star);
  if (enc == 'b') {
    if (!DecodeBase64(text, bytes)) return false;
  } else if (enc == 'q') {
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '_') {
        bytes += ' ';
      } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                 HexValue(text[i + 2]) >= 0) {
        bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
      } else {
        bytes += text[i];
      }
    }
  } else {
    return false;
  }
  end = pos + close + 2;
  return true;
}

const std::map<std::string_view, int>& ZoneOffsets() {
  static const std::map<std::string_view, int> zones = {
      {"UT", 0},      {"GMT", 0},     {"Z", 0},       {"EST", -300}, {"EDT", -240},
      {"CST", -360},  {"CDT", -300},  {"MST", -420},  {"MDT", -360}, {"PST", -480},
      {"PDT", -420}};
  return zones;
}

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kWeekdays = {"Thu", "Fri", "Sat", "Sun",
                                                       "Mon", "Tue", "Wed"};  // from 1970-01-01

bool ReadInt(std::string_view s, int& out) {
  if (s.empty() || s.size() > 9) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc{} && r.ptr == s.data() + s.size();
}

}  // namespace

const HeaderField* FindHeader(const std::vector<HeaderField>& headers, std::string_view name) {
  for (const auto& h : headers)
    if (EqualsNoCase(h.name, name)) return &h;
  return nullptr;
}

bool ParseMimeMessage(std::string_view input, MimeMessage& out, std::string& error) {
  out = MimeMessage{};
  error.clear();
  if (input.size() > kMaxMessageBytes) {
    error = "the message is larger than " + std::to_string(kMaxMessageBytes >> 20) + " MiB";
    return false;
  }
  std::size_t partCount = 1;
  return ParsePart(input, true, 0, partCount, out.root, &out.headerBytes, error);
}

bool DecodeBase64(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size() / 4 * 3);
  std::uint32_t acc = 0;
  int bits = 0;
  for (const char c : in) {
    if (c == '=') break;
    if (kWhite.find(c) != std::string_view::npos) continue;
    const auto v = kBase64.find(c);
    if (v == std::string_view::npos) return false;
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return true;
}

std::string EncodeBase64(std::string_view in, std::size_t lineLength) {
  std::string out;
  std::size_t column = 0;
  for (std::size_t i = 0; i < in.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<std::uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<std::uint8_t>(in[i + 2]);
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? kBase64[v & 63] : '=';
    column += 4;
    if (lineLength != 0 && column >= lineLength && i + 3 < in.size()) {
      out += '\n';
      column = 0;
    }
  }
  return out;
}

std::string DecodeQuotedPrintable(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '=') {
      out += in[i];
      continue;
    }
    if (i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2]));
      i += 2;
      continue;
    }
    // A soft line break: "=" with optional trailing white space before the line end.
    std::size_t j = i + 1;
    while (j < in.size() && (in[j] == ' ' || in[j] == '\t')) ++j;
    if (j < in.size() && in[j] == '\r') ++j;
    if (j < in.size() && in[j] == '\n') {
      i = j;
      continue;
    }
    if (j == in.size()) break;
    out += '=';  // malformed: kept as it stands
  }
  return out;
}

std::string ToUtf8(std::string_view text, std::string_view charset) {
  const std::string cs = AsciiLower(Trim(charset));
  if (cs.empty() || cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii")
    return CleanUtf8(text);
  if (cs.size() > 64) return CleanUtf8(text);
  Iconv conv(cs);
  if (!conv.ok()) return CleanUtf8(text);
  return conv.Convert(text);
}

std::string DecodeEncodedWords(std::string_view text) {
  std::string out;
  std::string pendingCharset, pendingBytes;  // adjacent words of one charset decode together
  auto flush = [&] {
    if (!pendingBytes.empty()) out += ToUtf8(pendingBytes, pendingCharset);
    pendingBytes.clear();
  };
  std::string plain;  // the text since the last encoded word
  bool afterWord = false;
  std::size_t i = 0;
  while (i < text.size()) {
    std::string charset, bytes;
    std::size_t end = 0;
    if (text[i] == '=' && ReadEncodedWord(text, i, charset, bytes, end)) {
      // White space between two encoded words is dropped; other text between them is kept.
      if (!(afterWord && Trim(plain).empty())) {
        flush();
        out += CleanUtf8(plain);
      }
      plain.clear();
      if (!EqualsNoCase(charset, pendingCharset)) flush();
      pendingCharset = charset;
      pendingBytes += bytes;
      afterWord = true;
      i = end;
      continue;
    }
    plain += text[i++];
  }
  flush();
  out += CleanUtf8(plain);
  return out;
}

std::string EncodeHeaderText(std::string_view utf8) {
  bool plain = utf8.find("=?") == std::string_view::npos;
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u > 126) plain = false;
  }
  if (plain) return std::string(utf8);
  const std::string clean = CleanUtf8(utf8);
  std::string out;
  std::size_t i = 0;
  while (i < clean.size()) {
    std::size_t n = 0;
    while (i + n < clean.size() && n < 45) {
      const std::size_t len = Utf8SequenceLength(clean, i + n);
      if (n + len > 45 && n > 0) break;
      n += len == 0 ? 1 : len;
    }
    if (!out.empty()) out += "\n ";
    out += "=?UTF-8?B?" + EncodeBase64(clean.substr(i, n), 0) + "?=";
    i += n;
  }
  return out;
}

std::vector<MailAddress> ParseAddressList(std::string_view value) {
  std::vector<MailAddress> out;
  std::string phrase, angle, comment;
  bool hasAngle = false;
  auto finish = [&] {
    MailAddress a;
    const std::string p(Trim(phrase));
    if (hasAngle) {
      std::string addr(Trim(angle));
      if (const auto colon = addr.find(':'); colon != std::string::npos && addr.starts_with('@'))
        addr = addr.substr(colon + 1);  // an obsolete route
      a.address = addr;
      a.name = DecodeEncodedWords(p.empty() ? std::string(Trim(comment)) : p);
    } else {
      std::string addr;
      for (const char c : p)
        if (c != ' ' && c != '\t') addr += c;
      a.address = addr;
      a.name = DecodeEncodedWords(Trim(comment));
    }
    if (!a.address.empty() || !a.name.empty() || hasAngle) out.push_back(std::move(a));
    phrase.clear();
    angle.clear();
    comment.clear();
    hasAngle = false;
  };
  int commentDepth = 0;
  bool inQuote = false, inAngle = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (inQuote) {
      if (c == '\\' && i + 1 < value.size()) {
        phrase += value[++i];
      } else if (c == '"') {
        inQuote = false;
      } else {
        phrase += c;
      }
    } else if (commentDepth > 0) {
      if (c == '\\' && i + 1 < value.size()) {
        comment += value[++i];
      } else if (c == '(') {
        ++commentDepth;
        comment += c;
      } else if (c == ')') {
        if (--commentDepth > 0) comment += c;
      } else {
        comment += c;
      }
    } else if (inAngle) {
      if (c == '>') {
        inAngle = false;
      } else {
        angle += c;
      }
    } else if (c == '"') {
      inQuote = true;
    } else if (c == '(') {
      commentDepth = 1;
      if (!comment.empty()) comment += ' ';
    } else if (c == '<') {
      inAngle = true;
      hasAngle = true;
      angle.clear();
    } else if (c == ',' || c == ';') {
      finish();
    } else if (c == ':' && !hasAngle) {
      phrase.clear();  // a group's name: its members follow
      comment.clear();
    } else {
      phrase += c;
    }
  }
  finish();
  return out;
}

std::string FormatAddress(const MailAddress& address) {
  if (address.name.empty()) return address.address.empty() ? "<>" : address.address;
  std::string name;
  bool ascii = true;
  for (const char c : address.name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u > 126) ascii = false;
  }
  if (ascii && address.name.find("=?") == std::string::npos) {
    name = "\"";
    for (const char c : address.name) {
      if (c == '"' || c == '\\') name += '\\';
      name += c;
    }
    name += '"';
  } else {
    name = EncodeHeaderText(address.name);
  }
  return name + " <" + address.address + ">";
}

std::optional<DATE> ParseMailDate(std::string_view value) {
  std::string_view s = Trim(value);
  if (const auto comma = s.find(','); comma != std::string_view::npos) s = Trim(s.substr(comma + 1));
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  while (i < s.size() && tokens.size() < 8) {
    while (i < s.size() && (kWhite.find(s[i]) != std::string_view::npos)) ++i;
    if (i >= s.size() || s[i] == '(') break;
    const auto end = s.find_first_of(" \t\r\n(", i);
    tokens.push_back(s.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
    i = end == std::string_view::npos ? s.size() : end;
  }
  if (tokens.size() < 4) return std::nullopt;
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (!ReadInt(tokens[0], day) || day < 1 || day > 31) return std::nullopt;
  int month = -1;
  for (std::size_t m = 0; m < kMonths.size(); ++m)
    if (EqualsNoCase(tokens[1], kMonths[m])) month = static_cast<int>(m) + 1;
  if (month < 0 || !ReadInt(tokens[2], year) || year < 0) return std::nullopt;
  if (tokens[2].size() <= 2) year += year < 50 ? 2000 : 1900;
  else if (tokens[2].size() == 3) year += 1900;
  if (year > 9999) return std::nullopt;
  const std::string_view time = tokens[3];
  const auto c1 = time.find(':');
  if (c1 == std::string_view::npos) return std::nullopt;
  const auto c2 = time.find(':', c1 + 1);
  if (!ReadInt(time.substr(0, c1), hour) ||
      !ReadInt(time.substr(c1 + 1, c2 == std::string_view::npos ? c2 : c2 - c1 - 1), minute))
    return std::nullopt;
  if (c2 != std::string_view::npos && !ReadInt(time.substr(c2 + 1), second)) return std::nullopt;
  if (hour > 23 || minute > 59 || second > 60) return std::nullopt;
  int offsetMinutes = 0;
  if (tokens.size() >= 5) {
    const std::string_view zone = tokens[4];
    if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')) {
      int hhmm = 0;
      if (!ReadInt(zone.substr(1), hhmm)) return std::nullopt;
      offsetMinutes = (hhmm / 100) * 60 + hhmm % 100;
      if (zone[0] == '-') offsetMinutes = -offsetMinutes;
    } else {
      const auto z = ZoneOffsets().find(zone);
      if (z != ZoneOffsets().end()) offsetMinutes = z->second;  // other names count as UTC
    }
  }
  const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month),
                                          static_cast<unsigned>(day));
  const double unix = static_cast<double>(days) * 86400.0 + hour * 3600.0 + minute * 60.0 +
                      second - offsetMinutes * 60.0;
  const DATE d = UnixSecondsToDate(unix);
  if (!IsValidDate(d)) return std::nullopt;
  return d;
}

std::string FormatMailDate(DATE utc) {
  if (!IsValidDate(utc)) utc = kDateUnixEpochDays;
  const auto unix = static_cast<std::int64_t>(std::llround(DateToUnixSeconds(utc)));
  std::int64_t days = unix / 86400;
  std::int64_t rest = unix % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  const auto weekday = static_cast<std::size_t>(((days % 7) + 7) % 7);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02u %s %04lld %02lld:%02lld:%02lld +0000",
                std::string(kWeekdays[weekday]).c_str(), d, std::string(kMonths[m - 1]).c_str(),
                static_cast<long long>(y), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return buf;
}

const MimePart* FindBodyPart(const MimePart& root, std::string_view mediaType) {
  if (root.IsMultipart()) {
    for (const auto& p : root.parts)
      if (const MimePart* found = FindBodyPart(p, mediaType)) return found;
    return nullptr;
  }
  if (root.disposition == "attachment") return nullptr;
  return root.mediaType == mediaType ? &root : nullptr;
}

}  // namespace qv::platform::mail
