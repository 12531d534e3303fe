// The .q6w format, history URLs, shortcut names and the private archive URLs.
#include <gtest/gtest.h>

#include <fstream>

#include "common/scope_hash.h"
#include "common/temp_dir.h"
#include "common/utf.h"
#include "platform/propset/property_set.h"
#include "provider/urlmon/history_url.h"
#include "provider/urlmon/private_urls.h"
#include "provider/urlmon/shortcut_file.h"
#include "provider/urlmon/shortcut_format.h"

namespace qv::urlmon {
namespace {
namespace fs = std::filesystem;

Shortcut Sample() {
  Shortcut s;
  s.title = "Grüße — 𝄞 page";
  s.zone = 4;
  s.url = "http://example.org/";
  s.parts.push_back({"http://quillon/c/1f-abc?http://example.org/", kKindHtml, kFlagFrames, 31,
                     "utf-8", "Content.QV/0a/index[1].htm", 4});
  s.parts.push_back({"http://example.org/frame/𝄞.html", kKindText, kFlagRobots | kFlagDownloaded,
                     0, "", "", 4});
  return s;
}

void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(ShortcutFormat, ContentsBytesRoundTripExactly) {
  const Shortcut s = Sample();
  const auto bytes = SerializeContents(s.parts);
  std::vector<PagePart> back;
  ASSERT_EQ(ParseContents(bytes, back), S_OK);
  EXPECT_EQ(back, s.parts);
  EXPECT_EQ(SerializeContents(back), bytes);
  // The documented layout: version, count, then the first part's URL in UTF-16LE with NUL.
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[4], 2);
  const auto url16 = Utf8ToUtf16LeBytes(s.parts[0].url);
  EXPECT_EQ(bytes[8], url16.size() + 2);
  const std::size_t kindAt = 12 + url16.size() + 2;
  EXPECT_EQ(bytes[kindAt], kKindHtml);
  EXPECT_EQ(bytes[kindAt + 2], kFlagFrames);
  // No charset and no copy are written as zero counts.
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 8, bytes.end()),
            std::vector<std::uint8_t>(8, 0));
}

TEST(ShortcutFormat, WholeFileRoundTripsWithItsPropertySets) {
  const Shortcut s = Sample();
  const auto bytes = SerializeShortcut(s);
  Shortcut back;
  ASSERT_EQ(ParseShortcut(bytes, back), S_OK);
  EXPECT_EQ(back, s);
  EXPECT_EQ(SerializeShortcut(back), bytes);
}

TEST(ShortcutFormat, CountsAreBoundedByTheStream) {
  auto bytes = SerializeContents(Sample().parts);
  std::vector<PagePart> back;
  PutU32(bytes, 4, 0x7FFFFFFF);  // a part count the stream cannot hold
  EXPECT_EQ(ParseContents(bytes, back), STG_E_DOCFILECORRUPT);
  bytes = SerializeContents(Sample().parts);
  PutU32(bytes, 8, 0xFFFFFFF0);  // a string longer than the stream
  EXPECT_EQ(ParseContents(bytes, back), STG_E_DOCFILECORRUPT);
  bytes = SerializeContents(Sample().parts);
  PutU32(bytes, 0, 2);  // unknown version
  EXPECT_EQ(ParseContents(bytes, back), STG_E_DOCFILECORRUPT);

  // Every truncation of a whole file is refused, never read past its end.
  const auto file = SerializeShortcut(Sample());
  for (std::size_t n = 0; n < file.size(); ++n) {
    Shortcut s;
    EXPECT_TRUE(Failed(ParseShortcut(std::span(file.data(), n), s))) << n;
  }
  auto streams = file;
  PutU32(streams, 8, 1000);  // stream count
  Shortcut s;
  EXPECT_EQ(ParseShortcut(streams, s), STG_E_DOCFILECORRUPT);
  auto magic = file;
  magic[0] = 'X';
  EXPECT_EQ(ParseShortcut(magic, s), STG_E_INVALIDHEADER);
}

TEST(ShortcutFormat, StringsMustBeTerminatedUtf16WithoutInnerNul) {
  std::vector<PagePart> parts{{"http://a/", kKindHtml, 0, 1, "", "", 0}};
  auto bytes = SerializeContents(parts);
  std::vector<PagePart> back;
  auto odd = bytes;
  odd[12 + 2 * 9] = 'x';  // overwrite the terminator
  EXPECT_EQ(ParseContents(odd, back), STG_E_DOCFILECORRUPT);
  auto inner = bytes;
  inner[12 + 2] = 0;  // a NUL inside the URL
  EXPECT_EQ(ParseContents(inner, back), STG_E_DOCFILECORRUPT);
}

TEST(ShortcutFile, CreatedOnceAndNeverReplaced) {
  TempDir dir;
  const fs::path f = dir.path() / "1a2b.q6w";
  Shortcut a = Sample(), b = Sample();
  b.title = "other";
  ASSERT_EQ(CreateShortcutFile(f, a), S_OK);
  EXPECT_EQ(CreateShortcutFile(f, b), STG_E_FILEALREADYEXISTS);
  Shortcut back;
  ASSERT_EQ(ReadShortcutFile(f, back), S_OK);
  EXPECT_EQ(back.title, a.title);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(ReadShortcutFile(dir.path() / "none.q6w", back), STG_E_FILENOTFOUND);
  EXPECT_EQ(ReadShortcutFile(dir.path() / "no" / "none.q6w", back), STG_E_PATHNOTFOUND);
}

TEST(ShortcutFile, CopyPathsOnlyBelowTheCacheFolder) {
  TempDir dir;
  const fs::path cache = dir.path() / "InternetCache";
  fs::create_directories(cache / "Content.QV" / "00");
  std::ofstream(cache / "Content.QV" / "00" / "a.htm") << "x";
  std::ofstream(dir.path() / "secret") << "s";
  fs::path out;
  EXPECT_EQ(ResolveCopyPath(cache, "Content.QV/00/a.htm", out), S_OK);
  EXPECT_EQ(out, cache / "Content.QV" / "00" / "a.htm");
  EXPECT_EQ(ResolveCopyPath(cache, (cache / "Content.QV/00/a.htm").string(), out), S_OK);
  EXPECT_EQ(ResolveCopyPath(cache, "../secret", out), E_ACCESSDENIED);
  EXPECT_EQ(ResolveCopyPath(cache, "Content.QV/../../secret", out), E_ACCESSDENIED);
  EXPECT_EQ(ResolveCopyPath(cache, (dir.path() / "secret").string(), out), E_ACCESSDENIED);
  EXPECT_EQ(ResolveCopyPath(cache, "/etc/passwd", out), E_ACCESSDENIED);
  EXPECT_EQ(ResolveCopyPath(cache, "", out), E_ACCESSDENIED);
  fs::create_symlink(dir.path() / "secret", cache / "link.htm");
  EXPECT_EQ(ResolveCopyPath(cache, "link.htm", out), E_ACCESSDENIED);
  EXPECT_EQ(StoredCopyPath(cache, cache / "Content.QV" / "00" / "a.htm"), "Content.QV/00/a.htm");
  EXPECT_EQ(StoredCopyPath(cache, "/elsewhere/x.htm"), "/elsewhere/x.htm");
}

TEST(HistoryUrl, BucketAndHashAreReadFromTheHexDigits) {
  HistoryUrl h;
  ASSERT_EQ(ParseHistoryUrl("history:0A1B2C3D4", h), S_OK);
  EXPECT_EQ(h.name.bucket, 10u);
  EXPECT_EQ(h.name.hash, 0x1B2C3D4u);
  EXPECT_FALSE(h.partUrl);
  ASSERT_EQ(ParseHistoryUrl("HISTORY:0fFFFFFFFF?url=http://a/f.html#top", h), S_OK);
  EXPECT_EQ(h.name.bucket, 15u);
  EXPECT_EQ(h.name.hash, 0xFFFFFFFFu);
  EXPECT_EQ(h.partUrl, "http://a/f.html");
  EXPECT_EQ(h.fragment, "#top");
  for (const char* bad : {"history:0", "history:A", "history:0A", "history:ZZ1", "history:G01",
                          "history:0A123456789", "history:0A1?url=", "history:0A1?uri=x",
                          "history:0A1/x", "histor:0A1", "history0A1", ""}) {
    EXPECT_EQ(ParseHistoryUrl(bad, h), INET_E_INVALID_URL) << bad;
  }
  EXPECT_EQ(ParseHistoryUrl("history:001?url=" + std::string(2083, 'a'), h), S_OK);
  EXPECT_EQ(ParseHistoryUrl("history:001?url=" + std::string(2084, 'a'), h), INET_E_INVALID_URL);
  EXPECT_EQ(FormatHistoryUrl(ShortcutName{10, 0x1B2C3D4}), "history:0A1B2C3D4");
  EXPECT_EQ(FormatHistoryUrl(HistoryUrl{{3, 0xabc}, "http://x/", "#f"}),
            "history:03ABC?url=http://x/#f");
}

TEST(HistoryUrl, NameHashesEveryUrlInOrderAndPicksTheBucket) {
  const std::vector<std::string> one{"http://example.org/"};
  const ShortcutName n = NameOfUrls(one);
  EXPECT_EQ(n.hash, ScopeHash(one[0]));
  EXPECT_EQ(n.bucket, (one[0].size() + n.hash) & 15u);  // ASCII: bytes / 2 = characters
  const std::vector<std::string> two{"http://a/", "http://a/f"};
  EXPECT_EQ(NameOfUrls(two).hash, ScopeHash("http://a/http://a/f"));
  const std::vector<std::string> swapped{"http://a/f", "http://a/"};
  EXPECT_NE(NameOfUrls(swapped).hash, NameOfUrls(two).hash);
  const fs::path p = ShortcutPath("/w", ShortcutName{10, 0x1B2C3D4});
  EXPECT_EQ(p, fs::path("/w/a/1b2c3d4.q6w"));
}

TEST(PrivateUrls, WrapUnwrapAndVersionRecords) {
  std::string u;
  ASSERT_EQ(VersionIndexUrl("http://a/b?c", u), S_OK);
  EXPECT_EQ(u, "http://quillon/v?http://a/b?c");
  ASSERT_EQ(ContentUrl("http://a/b?c", 0x1f, 0xabc, u), S_OK);
  EXPECT_EQ(u, "http://quillon/c/1f-abc?http://a/b?c");
  EXPECT_TRUE(IsPrivateUrl("HTTP://Quillon/c/1-2?x"));
  EXPECT_EQ(UnwrapPrivateUrl(u), "http://a/b?c");
  EXPECT_EQ(UnwrapPrivateUrl("http://a/b?c"), "http://a/b?c");
  EXPECT_EQ(VersionIndexUrl(u, u), E_INVALIDARG);
  EXPECT_EQ(ContentUrl(std::string(2070, 'a'), 1, 1, u), E_POINTER);

  const std::vector<VersionRecord> recs{{100, 5, 7}, {200, 6, 8}, {300, 9, 9}};
  auto bytes = SerializeVersionIndex(recs);
  bytes.push_back(1);  // a partial record is ignored
  EXPECT_EQ(ParseVersionIndex(bytes), recs);
  EXPECT_TRUE(ParseVersionIndex(std::vector<std::uint8_t>(15, 0)).empty());
  EXPECT_EQ(LastRecordAtOrBefore(recs, 250)->byteCount, 6u);
  EXPECT_EQ(LastRecordAtOrBefore(recs, 200)->byteCount, 6u);
  EXPECT_EQ(LastRecordAtOrBefore(recs, 99), nullptr);
}

}  // namespace
}  // namespace qv::urlmon
