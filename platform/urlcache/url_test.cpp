// URL helpers, zones and content sniffing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/urlcache/mime_sniff.h"
#include "platform/urlcache/url.h"
#include "platform/urlcache/url_zone.h"

namespace qv::platform {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Url, SchemeIsReadUpToTheColonAndLowered) {
  std::string s;
  EXPECT_EQ(GetUrlScheme("HTTP://x/", s), S_OK);
  EXPECT_EQ(s, "http");
  EXPECT_EQ(GetUrlScheme(":nothing", s), S_OK);
  EXPECT_EQ(s, "");
  EXPECT_EQ(GetUrlScheme("no scheme here", s), URL_E_INVALID_SYNTAX);
  EXPECT_EQ(GetUrlScheme("1abc:x", s), URL_E_INVALID_SYNTAX);
  EXPECT_EQ(GetUrlScheme("a b:x", s), URL_E_INVALID_SYNTAX);
}

TEST(Url, FragmentsAndComparison) {
  EXPECT_EQ(WithoutFragment("http://a/b#c#d"), "http://a/b");
  EXPECT_EQ(FragmentOf("http://a/b#c#d"), "#c#d");
  EXPECT_EQ(FragmentOf("http://a/b"), "");
  EXPECT_TRUE(UrlEquals("http://a/b/", "http://a/b", true));
  EXPECT_FALSE(UrlEquals("http://a/b/", "http://a/b", false));
  EXPECT_FALSE(UrlEquals("http://a/B", "http://a/b", true));
}

TEST(Url, FileUrlsAndPaths) {
  std::filesystem::path p;
  EXPECT_EQ(FileUrlToPath("file:///home/u/a%20b.txt", p), S_OK);
  EXPECT_EQ(p, "/home/u/a b.txt");
  EXPECT_EQ(FileUrlToPath("file://localhost/x#frag", p), S_OK);
  EXPECT_EQ(p, "/x");
  EXPECT_EQ(FileUrlToPath("file://server/share/x", p), E_INVALIDARG);
  EXPECT_EQ(FileUrlToPath("file:///a%2Fb", p), E_INVALIDARG);
  EXPECT_EQ(FileUrlToPath("file:///a%00b", p), E_INVALIDARG);
  EXPECT_EQ(FileUrlToPath("file:///a%4", p), E_INVALIDARG);
  EXPECT_EQ(PathToFileUrl("/tmp/a b#?.html"), "file:///tmp/a%20b%23%3F.html");
  EXPECT_EQ(FileUrlToPath(PathToFileUrl("/tmp/ü x"), p), S_OK);
  EXPECT_EQ(p, "/tmp/ü x");
}

TEST(Url, RelativeReferencesResolveAsRfc3986Says) {
  const std::string base = "http://a/b/c/d;p?q";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"g", "http://a/b/c/g"},       {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},     {"/g", "http://a/g"},
      {"//g", "http://g"},           {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},   {"#s", "http://a/b/c/d;p?q#s"},
      {"", "http://a/b/c/d;p?q"},    {".", "http://a/b/c/"},
      {"..", "http://a/b/"},         {"../g", "http://a/b/g"},
      {"../../g", "http://a/g"},     {"../../../g", "http://a/g"},
      {"g/../h", "http://a/b/c/h"},  {"https://x/y/../z", "https://x/z"},
  };
  for (const auto& [ref, want] : cases) {
    std::string out;
    ASSERT_EQ(CombineUrl(base, ref, out), S_OK) << ref;
    EXPECT_EQ(out, want) << ref;
  }
  std::string out;
  EXPECT_EQ(CombineUrl("no-scheme", "x", out), E_INVALIDARG);
  EXPECT_EQ(CombineUrl("http://a/b#frag", "c", out), S_OK);
  EXPECT_EQ(out, "http://a/c");
}

TEST(UrlZone, NetworkHostsAndLocalSchemes) {
  UrlZone z{};
  EXPECT_EQ(MapUrlToZone("https://www.example.org/x", z), S_OK);
  EXPECT_EQ(z, UrlZone::Internet);
  EXPECT_EQ(MapUrlToZone("http://intranet/x", z), S_OK);
  EXPECT_EQ(z, UrlZone::Intranet);
  EXPECT_EQ(MapUrlToZone("http://127.0.0.1:8080/", z), S_OK);
  EXPECT_EQ(z, UrlZone::Intranet);
  EXPECT_EQ(MapUrlToZone("file:///etc/hosts", z), S_OK);
  EXPECT_EQ(z, UrlZone::LocalMachine);
  EXPECT_EQ(MapUrlToZone("data:,hello", z), S_OK);
  EXPECT_EQ(z, UrlZone::LocalMachine);
  EXPECT_EQ(MapUrlToZone("http:///nohost", z), E_INVALIDARG);
  EXPECT_EQ(MapUrlToZone(":x", z), E_INVALIDARG);
  EXPECT_EQ(MapUrlToZone("garbage", z), URL_E_INVALID_SYNTAX);
}

TEST(MimeSniff, RecognisesMarkupTextAndBinaries) {
  EXPECT_EQ(FindMimeFromData(Bytes("\xEF\xBB\xBF  \n<!DOCTYPE html><p>x")), "text/html");
  EXPECT_EQ(FindMimeFromData(Bytes("<HTML><BODY>")), "text/html");
  EXPECT_EQ(FindMimeFromData(Bytes("<?xml version=\"1.0\"?><rss/>")), "text/xml");
  EXPECT_EQ(FindMimeFromData(Bytes("<?xml version=\"1.0\"?><html xmlns=''>")), "text/html");
  EXPECT_EQ(FindMimeFromData(Bytes("<pre>")), "text/plain");  // not "<p"
  EXPECT_EQ(FindMimeFromData(Bytes("plain words\r\n")), "text/plain");
  EXPECT_EQ(FindMimeFromData(Bytes("GIF89a....")), "image/gif");
  EXPECT_EQ(FindMimeFromData(Bytes("%PDF-1.4")), "application/pdf");
  EXPECT_EQ(FindMimeFromData(Bytes(std::string_view("a\0b", 3))), "application/octet-stream");
  EXPECT_EQ(FindMimeFromData({}), "text/plain");
}

TEST(MimeSniff, HtmlCharsetFromMetaWithinTheFirstKilobyte) {
  EXPECT_EQ(FindHtmlCharset(Bytes("<head><META CHARSET='iso-8859-2'>")), "iso-8859-2");
  EXPECT_EQ(FindHtmlCharset(Bytes("<meta http-equiv=\"Content-Type\" "
                                  "content=\"text/html; charset=windows-1250\">")),
            "windows-1250");
  EXPECT_EQ(FindHtmlCharset(Bytes("<meta name=\"x\" content=\"charset=no\">")), "");
  std::string late(1100, ' ');
  late += "<meta charset=utf-8>";
  EXPECT_EQ(FindHtmlCharset(Bytes(late)), "");
}

TEST(MimeSniff, HeadersAndContentType) {
  const std::string h =
      "HTTP/1.1 200 OK\r\ncontent-type: text/HTML; Charset=\"UTF-8\"\r\nVary: x\r\n\r\n";
  EXPECT_EQ(HeaderValue(h, "Content-Type"), "text/HTML; Charset=\"UTF-8\"");
  EXPECT_EQ(HeaderValue(h, "Pragma"), "");
  const ContentType ct = ParseContentType(HeaderValue(h, "content-type"));
  EXPECT_EQ(ct.type, "text/html");
  EXPECT_EQ(ct.charset, "UTF-8");
  EXPECT_EQ(ParseContentType("text/plain").charset, "");
}

}  // namespace
}  // namespace qv::platform
