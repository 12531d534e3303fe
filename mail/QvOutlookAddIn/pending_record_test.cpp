#include "mail/QvOutlookAddIn/pending_record.h"

#include <gtest/gtest.h>

#include <set>

#include "mail/QvOutlookAddIn/compressed_rtf.h"
#include "mail/QvOutlookAddIn/shortcut_name.h"
#include "mail/QvOutlookAddIn/url_hash.h"

namespace qv::mail::addin {
namespace {

ranking::RankingSet SampleSet() {
  ranking::RankingSet s;
  s.scope = 0x11223344;
  s.workingTime = 120;
  s.activeTime = 300;
  s.visits = 7;
  s.firstVisitStart = 46000.25;
  s.last = {46001.5, 60, 12};
  s.blended = {46000.75, 3600, 99};
  return s;
}

TEST(PendingRecord, LaysOutTheElevenValuesLittleEndianAndReadsThemBack) {
  const PendingRecord r = EncodePendingRecord(SampleSet());
  EXPECT_EQ(r[0], 0x44);
  EXPECT_EQ(r[3], 0x11);
  EXPECT_EQ(r[12], 7);   // Visits
  EXPECT_EQ(r[32], 60);  // LastVisitT
  EXPECT_EQ(r[52], 99);  // BlendedN
  // 46000.25 as an IEEE double is 0x40E6760800000000: its top byte is last.
  EXPECT_EQ(r[23], 0x40);
  EXPECT_EQ(r[22], 0xE6);
  ranking::RankingSet back;
  ASSERT_EQ(DecodePendingRecord(r, back), S_OK);
  EXPECT_EQ(back, SampleSet());
}

TEST(PendingRecord, AnythingButOneWholeRecordIsAFailedRead) {
  const PendingRecord r = EncodePendingRecord(SampleSet());
  ranking::RankingSet out;
  out.visits = 5;
  EXPECT_TRUE(Failed(DecodePendingRecord(std::span(r).first(55), out)));
  EXPECT_TRUE(Failed(DecodePendingRecord({}, out)));
  std::vector<std::uint8_t> longer(r.begin(), r.end());
  longer.push_back(0);
  EXPECT_TRUE(Failed(DecodePendingRecord(longer, out)));
  EXPECT_EQ(out.visits, 5u);  // untouched by a failed read
}

TEST(RankingProperties, TheItemKeepsTheSetAsElevenTypedNamedProperties) {
  platform::mail::Message m;
  SetRankingProperties(m, SampleSet());
  ASSERT_EQ(m.named.size(), kRankingPropertyCount);
  const auto scope = m.named.at(RankingNamedId(ranking::kPidScope));
  EXPECT_EQ(std::get<std::int32_t>(scope), 0x11223344);
  EXPECT_TRUE(std::holds_alternative<double>(m.named.at(RankingNamedId(ranking::kPidBlendedEnd))));
  EXPECT_EQ(RankingNamedId(ranking::kPidBlendedN).set, ranking::kRankingFmtid);
  EXPECT_FALSE(m.named.contains(RankingNamedId(ranking::kPidSearchKey)));

  ranking::RankingSet back;
  ASSERT_EQ(GetRankingProperties(m, back), S_OK);
  EXPECT_EQ(back, SampleSet());

  // One missing or of the wrong type: the item has no ranking set.
  auto missing = m;
  missing.named.erase(RankingNamedId(ranking::kPidLastVisitN));
  EXPECT_EQ(GetRankingProperties(missing, back), S_FALSE);
  auto wrongType = m;
  wrongType.named[RankingNamedId(ranking::kPidFirstVisitStart)] = std::int32_t{1};
  EXPECT_EQ(GetRankingProperties(wrongType, back), S_FALSE);
}

TEST(ShortcutName, KeyNamesTheFileInUpperCaseHexAndTheBucketByItsHash) {
  const std::vector<std::uint8_t> key = {0x01, 0xAB, 0xFF};
  std::string name, bucket;
  ASSERT_EQ(ShortcutName(key, name), S_OK);
  EXPECT_EQ(name, "01ABFF.q6e");
  ASSERT_EQ(ShortcutBucket(key, bucket), S_OK);
  char expected[3];
  std::snprintf(expected, sizeof expected, "%02x", UrlHashByte("01ABFF"));
  EXPECT_EQ(bucket, expected);
  std::filesystem::path path;
  ASSERT_EQ(ShortcutPath("/s", key, path), S_OK);
  EXPECT_EQ(path, std::filesystem::path("/s") / expected / "01ABFF.q6e");
}

TEST(ShortcutName, KeysOf64BytesOrMoreAndEmptyKeysAreRefused) {
  std::string name;
  std::filesystem::path path;
  EXPECT_EQ(ShortcutName(std::vector<std::uint8_t>(63, 0xAA), name), S_OK);
  EXPECT_EQ(name.size(), 126u + 4u);
  EXPECT_EQ(ShortcutName(std::vector<std::uint8_t>(64, 0xAA), name), E_INVALIDARG);
  EXPECT_EQ(ShortcutPath("/s", std::vector<std::uint8_t>(64, 0xAA), path), E_INVALIDARG);
  EXPECT_EQ(ShortcutName({}, name), E_INVALIDARG);
}

TEST(ShortcutName, BucketsSpreadAndDependOnEveryCharacter) {
  std::set<std::uint8_t> buckets;
  for (int i = 0; i < 512; ++i) {
    const std::vector<std::uint8_t> key = {static_cast<std::uint8_t>(i >> 8),
                                           static_cast<std::uint8_t>(i)};
    buckets.insert(UrlHashByte(HexUpper(key)));
  }
  EXPECT_GT(buckets.size(), 200u);
  EXPECT_NE(UrlHashByte("01ABFF"), UrlHashByte("01ABFE"));
  EXPECT_NE(UrlHashByte("AB01FF"), UrlHashByte("01ABFF"));
}

TEST(DecodeHex, RefusesOddCountsBadDigitsAndOverLongTextRatherThanCutting) {
  std::vector<std::uint8_t> out;
  ASSERT_EQ(DecodeHex("01abFF", 8, out), S_OK);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x01, 0xAB, 0xFF}));
  EXPECT_EQ(DecodeHex("01A", 8, out), E_INVALIDARG);
  EXPECT_EQ(DecodeHex("0G", 8, out), E_INVALIDARG);
  EXPECT_EQ(DecodeHex("0102", 1, out), E_INVALIDARG);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(DecodeHex("0102", 2, out), S_OK);
}

std::vector<std::uint8_t> Header(std::uint32_t comp, std::uint32_t raw, std::string_view type) {
  std::vector<std::uint8_t> b;
  for (std::uint32_t v : {comp, raw}) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  b.insert(b.end(), type.begin(), type.end());
  b.insert(b.end(), 4, 0);  // checksum, not checked
  return b;
}

TEST(CompressedRtf, ReadsStoredCompressedAndPlainForms) {
  std::string out;
  auto stored = Header(12 + 5, 5, "MELA");
  for (char c : std::string_view("{\\rtf")) stored.push_back(static_cast<std::uint8_t>(c));
  ASSERT_EQ(DecompressRtf(stored, out), S_OK);
  EXPECT_EQ(out, "{\\rtf");

  // One reference into the primed dictionary ("{\rtf1" at 0, 6 bytes), a literal, then the
  // end marker pointing at the write position (207 + 7 = 214).
  auto lz = Header(12 + 7, 7, "LZFu");
  lz.insert(lz.end(), {0x05, 0x00, 0x04, 'X', 0x0D, 0x60});
  lz.push_back(0);  // padding after the end marker is ignored
  ASSERT_EQ(DecompressRtf(lz, out), S_OK);
  EXPECT_EQ(out, "{\\rtf1X");

  const std::string plain = "{\\rtf1 hello}";
  ASSERT_EQ(DecompressRtf(std::span(reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()), out), S_OK);
  EXPECT_EQ(out, plain);
}

TEST(CompressedRtf, RefusesGarbageAndStreamsThatEndEarlyOrOverrun) {
  std::string out;
  EXPECT_EQ(DecompressRtf(Header(12, 0, "ABCD"), out), STG_E_INVALIDHEADER);
  EXPECT_EQ(DecompressRtf(std::vector<std::uint8_t>(8, 0), out), STG_E_INVALIDHEADER);
  auto cut = Header(12 + 2, 7, "LZFu");
  for (std::uint8_t b : {0x01, 0x00}) cut.push_back(b);  // token missing its second byte
  EXPECT_EQ(DecompressRtf(cut, out), STG_E_DOCFILECORRUPT);
  auto stored = Header(12 + 2, 100, "MELA");  // says 100 raw bytes, holds 2
  stored.push_back('{');
  stored.push_back('x');
  EXPECT_EQ(DecompressRtf(stored, out), STG_E_DOCFILECORRUPT);
  auto tooMuch = Header(12 + 3, 2, "LZFu");  // copies 6 bytes into a 2-byte body
  for (std::uint8_t b : {0x01, 0x00, 0x04}) tooMuch.push_back(b);
  EXPECT_EQ(DecompressRtf(tooMuch, out), STG_E_DOCFILECORRUPT);
}

}  // namespace
}  // namespace qv::mail::addin
