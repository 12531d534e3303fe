#include "platform/propset/property_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "platform/propset/code_page.h"

namespace qv::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr Guid kRankingFmtid =
    MakeGuid(0x48CA09C3, 0x119B, 0x8534, 0x9A, 0x91, 0x87, 0x84, 0x80, 0x40, 0xE3, 0x51);
constexpr Guid kOtherGuid =
    MakeGuid(0x00112233, 0x4455, 0x6677, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF);
constexpr std::size_t kSection = 48;  // where our streams put their one section

void Append(Bytes& b, std::initializer_list<int> v) {
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
}
void AppendU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetU32(const Bytes& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | b.at(at + i);
  return v;
}

Bytes StreamHeader(const Guid& clsid, const Guid& fmtid) {
  Bytes b;
  Append(b, {0xFE, 0xFF, 0x00, 0x00});  // byte order, version 0
  AppendU32(b, 0);                      // system identifier
  const auto c = GuidToBytes(clsid);
  b.insert(b.end(), c.begin(), c.end());
  AppendU32(b, 1);
  const auto f = GuidToBytes(fmtid);
  b.insert(b.end(), f.begin(), f.end());
  AppendU32(b, 48);
  return b;
}

PropertySet Parsed(const Bytes& bytes) {
  PropertySet set;
  EXPECT_EQ(ParsePropertySet(bytes, set), S_OK);
  return set;
}

// ---- exact layout ------------------------------------------------------------------------

TEST(PropertySetLayout, ByteCodePageStreamMatchesHandComputedBytes) {
  PropertySet set;
  set.fmtid = kRankingFmtid;
  set.clsid = kRankingFmtid;
  set.codePage = kCodePageWindows1252;
  set.names = {{0, "Ab"}, {5, "x"}};
  set.values[2] = PropVariant::Lpstr("abcde");
  set.values[3] = PropVariant::Lpwstr("hi");
  set.values[4] = PropVariant::UI4(0x01020304);

  Bytes want;
  Append(want, {0xFE, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  const std::initializer_list<int> ranking = {0xC3, 0x09, 0xCA, 0x48, 0x9B, 0x11, 0x34, 0x85,
                                              0x9A, 0x91, 0x87, 0x84, 0x80, 0x40, 0xE3, 0x51};
  Append(want, ranking);                  // CLSID
  Append(want, {0x01, 0x00, 0x00, 0x00}); // one section
  Append(want, ranking);                  // FMTID0
  Append(want, {0x30, 0x00, 0x00, 0x00}); // Offset0 = 48
  ASSERT_EQ(want.size(), kSection);
  // Section: size 0x7C, five properties, table in value order.
  Append(want, {0x7C, 0, 0, 0, 0x05, 0, 0, 0});
  Append(want, {0x01, 0, 0, 0, 0x30, 0, 0, 0});
  Append(want, {0x00, 0, 0, 0, 0x38, 0, 0, 0});
  Append(want, {0x02, 0, 0, 0, 0x54, 0, 0, 0});
  Append(want, {0x03, 0, 0, 0, 0x64, 0, 0, 0});
  Append(want, {0x04, 0, 0, 0, 0x74, 0, 0, 0});
  // 0x30 code page: VT_I2 1252, padded.
  Append(want, {0x02, 0x00, 0x00, 0x00, 0xE4, 0x04, 0x00, 0x00});
  // 0x38 dictionary: two entries packed without per-entry padding, then padded to 28 bytes.
  Append(want, {0x02, 0, 0, 0});
  Append(want, {0x00, 0, 0, 0, 0x03, 0, 0, 0, 'A', 'b', 0x00});
  Append(want, {0x05, 0, 0, 0, 0x02, 0, 0, 0, 'x', 0x00});
  Append(want, {0x00, 0x00, 0x00});
  // 0x54 VT_LPSTR: size counts bytes with the terminator; padded to 4.
  Append(want, {0x1E, 0x00, 0x00, 0x00, 0x06, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 0, 0, 0});
  // 0x64 VT_LPWSTR: length counts characters with the terminator; padded to 4.
  Append(want, {0x1F, 0x00, 0x00, 0x00, 0x03, 0, 0, 0, 'h', 0, 'i', 0, 0, 0, 0, 0});
  // 0x74 VT_UI4.
  Append(want, {0x13, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01});
  ASSERT_EQ(want.size(), kSection + 0x7C);

  EXPECT_EQ(SerializePropertySet(set), want);
  EXPECT_EQ(Parsed(want), set);
}

TEST(PropertySetLayout, UnicodeCodePagePadsEachDictionaryNameAndCountsStringBytes) {
  PropertySet set;
  set.fmtid = kOtherGuid;
  set.codePage = kCodePageUnicode;
  set.names = {{0, "Ab"}, {5, "x"}};
  set.values[2] = PropVariant::Lpstr("ab");

  Bytes want = StreamHeader(Guid{}, kOtherGuid);
  Append(want, {0x58, 0, 0, 0, 0x03, 0, 0, 0});  // size 88, three properties
  Append(want, {0x01, 0, 0, 0, 0x20, 0, 0, 0});
  Append(want, {0x00, 0, 0, 0, 0x28, 0, 0, 0});
  Append(want, {0x02, 0, 0, 0, 0x48, 0, 0, 0});
  Append(want, {0x02, 0x00, 0x00, 0x00, 0xB0, 0x04, 0x00, 0x00});  // code page 1200
  Append(want, {0x02, 0, 0, 0});
  // "Ab": 3 characters, 6 bytes, padded to 8; "x": 2 characters, 4 bytes.
  Append(want, {0x00, 0, 0, 0, 0x03, 0, 0, 0, 'A', 0, 'b', 0, 0, 0, 0, 0});
  Append(want, {0x05, 0, 0, 0, 0x02, 0, 0, 0, 'x', 0, 0, 0});
  // VT_LPSTR in code page 1200: UTF-16, size in bytes with the terminator (6), padded.
  Append(want, {0x1E, 0x00, 0x00, 0x00, 0x06, 0, 0, 0, 'a', 0, 'b', 0, 0, 0, 0, 0});
  ASSERT_EQ(want.size(), kSection + 0x58);

  EXPECT_EQ(SerializePropertySet(set), want);
  EXPECT_EQ(Parsed(want), set);
}

TEST(PropertySetLayout, SetWithoutNamesHasNoDictionaryAndFixedWidthValuesAreLittleEndian) {
  PropertySet set;
  set.fmtid = kOtherGuid;
  set.values[2] = PropVariant::Clsid(kOtherGuid);
  set.values[7] = PropVariant::Date(1.5);
  set.values[9] = PropVariant::I2(-2);
  set.values[10] = PropVariant::FileTimeValue(0x0102030405060708ull);
  set.values[11] = PropVariant::Blob({0xAA, 0xBB, 0xCC, 0xDD, 0xEE});
  set.values[12] = PropVariant::I4(-1);

  const Bytes got = SerializePropertySet(set);
  ASSERT_EQ(GetU32(got, kSection + 4), 7u);
  const std::size_t values = kSection + 8 + 7 * 8;
  Bytes want;
  Append(want, {0x02, 0, 0, 0, 0xE9, 0xFD, 0, 0});  // code page 65001
  Append(want, {0x48, 0, 0, 0, 0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
  Append(want, {0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F});  // 1.5 as IEEE double
  Append(want, {0x02, 0, 0, 0, 0xFE, 0xFF, 0, 0});
  Append(want, {0x40, 0, 0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01});
  Append(want, {0x41, 0, 0, 0, 0x05, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0, 0, 0});
  Append(want, {0x03, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(Bytes(got.begin() + values, got.end()), want);
  EXPECT_EQ(GetU32(got, kSection), got.size() - kSection);
}

// ---- round trips -------------------------------------------------------------------------

PropertySet EveryType(std::uint16_t codePage) {
  PropertySet set;
  set.fmtid = kRankingFmtid;
  set.clsid = kOtherGuid;
  set.codePage = codePage;
  set.names = {{0, "Quillon Vesper Ranking"}, {2, "key"}, {40, ""}};
  set.values[2] = PropVariant::Clsid(kOtherGuid);
  set.values[3] = PropVariant::UI4(std::numeric_limits<std::uint32_t>::max());
  set.values[4] = PropVariant::I4(std::numeric_limits<std::int32_t>::min());
  set.values[5] = PropVariant::I2(std::numeric_limits<std::int16_t>::min());
  set.values[6] = PropVariant::Date(45678.123456789);
  set.values[7] = PropVariant::Date(0.0);
  set.values[8] = PropVariant::FileTimeValue(std::numeric_limits<FileTime>::max());
  set.values[9] = PropVariant::Blob({});
  set.values[10] = PropVariant::Blob({1, 2, 3, 4, 5, 6, 7});
  set.values[11] = PropVariant::Lpstr("");
  set.values[12] = PropVariant::Lpwstr("");
  set.values[13] = PropVariant::Lpstr("plain text");
  set.values[14] = PropVariant::Lpwstr("gr\xC3\xBC\xC3\x9F dich \xF0\x9F\x98\x80 \xE6\x97\xA5");
  set.values[0x7FFFFFFF] = PropVariant::UI4(1);
  set.values[0x80000000] = PropVariant::UI4(1033);  // the locale's PROPID
  return set;
}

TEST(PropertySetRoundTrip, EveryTypeSurvivesInEveryCodePage) {
  for (std::uint16_t cp : {kCodePageUtf8, kCodePageUnicode, kCodePageWindows1252,
                           kCodePageLatin1, std::uint16_t{932}}) {
    SCOPED_TRACE(cp);
    const PropertySet set = EveryType(cp);
    const Bytes bytes = SerializePropertySet(set);
    PropertySet back;
    ASSERT_EQ(ParsePropertySet(bytes, back), S_OK);
    EXPECT_EQ(back, set);
    EXPECT_EQ(SerializePropertySet(back), bytes);
  }
}

TEST(PropertySetRoundTrip, NonAsciiTextInEachCodePage) {
  const std::string text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";  // "café € 😀"
  const auto lpstrBack = [&](std::uint16_t cp) {
    PropertySet set;
    set.codePage = cp;
    set.names[2] = text;
    set.values[2] = PropVariant::Lpstr(text);
    const PropertySet back = Parsed(SerializePropertySet(set));
    EXPECT_EQ(back.names.at(2), back.values.at(2).str);
    return back.values.at(2).str;
  };
  EXPECT_EQ(lpstrBack(kCodePageUtf8), text);
  EXPECT_EQ(lpstrBack(kCodePageUnicode), text);
  // Windows-1252 has é and €, not the emoji; Latin-1 has only é.
  EXPECT_EQ(lpstrBack(kCodePageWindows1252), "caf\xC3\xA9 \xE2\x82\xAC ?");
  EXPECT_EQ(lpstrBack(kCodePageLatin1), "caf\xC3\xA9 ? ?");
}

// A file name need not be UTF-8; stored as Unicode text it must still come back exactly.
TEST(PropertySetRoundTrip, UnicodeTextKeepsBytesThatAreNotUtf8) {
  const std::string name = "/home/u/caf\xE9 \xFF\xC3 \xC3\xA9.txt";
  PropertySet set;
  set.codePage = kCodePageUnicode;
  set.names[2] = name;
  set.values[2] = PropVariant::Lpwstr(name);
  set.values[3] = PropVariant::Lpstr(name);
  const PropertySet back = Parsed(SerializePropertySet(set));
  EXPECT_EQ(back.values.at(2).str, name);
  EXPECT_EQ(back.values.at(3).str, name);
  EXPECT_EQ(back.names.at(2), name);
}

TEST(PropertySetRoundTrip, Windows1252BytesAllSurviveAsText) {
  std::vector<std::uint8_t> all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
  const std::string text = DecodeCodePageText(kCodePageWindows1252, all);
  EXPECT_EQ(EncodeCodePageText(kCodePageWindows1252, text), all);
  EXPECT_EQ(DecodeCodePageText(kCodePageWindows1252, Bytes{0x80}), "\xE2\x82\xAC");
}

TEST(PropertySetRoundTrip, StringsEndAtTheirFirstNul) {
  PropertySet set;
  set.values[2] = PropVariant::Lpstr(std::string("ab\0cd", 5));
  set.values[3] = PropVariant::Lpwstr(std::string("ef\0gh", 5));
  const PropertySet back = Parsed(SerializePropertySet(set));
  EXPECT_EQ(back.values.at(2).str, "ab");
  EXPECT_EQ(back.values.at(3).str, "ef");
}

TEST(PropertySetRoundTrip, ValuesUnderReservedPropidsAreNotWritten) {
  PropertySet set;
  set.values[PID_DICTIONARY] = PropVariant::UI4(1);
  set.values[PID_CODEPAGE] = PropVariant::UI4(2);
  set.values[2] = PropVariant::UI4(3);
  const PropertySet back = Parsed(SerializePropertySet(set));
  EXPECT_EQ(back.values.size(), 1u);
  EXPECT_EQ(back.codePage, kCodePageUtf8);
}

// A hand-made stream whose PROPID 2 holds VT_I8 (20), a type we do not interpret, and whose
// PROPID 3 holds a vector of UI4 (0x1013).
Bytes StreamWithUnknownTypes() {
  Bytes b = StreamHeader(kOtherGuid, kRankingFmtid);
  Append(b, {0x44, 0, 0, 0, 0x03, 0, 0, 0});  // size 68, three properties
  Append(b, {0x01, 0, 0, 0, 0x20, 0, 0, 0});
  Append(b, {0x02, 0, 0, 0, 0x28, 0, 0, 0});
  Append(b, {0x03, 0, 0, 0, 0x34, 0, 0, 0});
  Append(b, {0x02, 0, 0, 0, 0xE9, 0xFD, 0, 0});
  Append(b, {0x14, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8});
  Append(b, {0x13, 0x10, 0, 0, 0x02, 0, 0, 0, 9, 0, 0, 0, 10, 0, 0, 0});
  return b;
}

TEST(PropertySetRoundTrip, UnknownTypesKeepTheirBytes) {
  const Bytes bytes = StreamWithUnknownTypes();
  const PropertySet set = Parsed(bytes);
  ASSERT_EQ(set.values.size(), 2u);
  EXPECT_EQ(set.values.at(2).vt, 20);
  EXPECT_EQ(set.values.at(2).blob, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(set.values.at(3).vt, 0x1013);
  EXPECT_EQ(set.values.at(3).blob.size(), 12u);
  EXPECT_EQ(SerializePropertySet(set), bytes);
}

TEST(PropertySetRoundTrip, ReadsForeignButValidLayouts) {
  // Version 1, a second section, values out of PROPID order with a gap, trailing bytes.
  Bytes b;
  Append(b, {0xFE, 0xFF, 0x01, 0x00, 0x05, 0x01, 0x02, 0x00});
  b.resize(24, 0);
  AppendU32(b, 2);
  const auto f = GuidToBytes(kRankingFmtid);
  b.insert(b.end(), f.begin(), f.end());
  AppendU32(b, 68);
  b.insert(b.end(), f.begin(), f.end());
  AppendU32(b, 0);  // second section: not read
  ASSERT_EQ(b.size(), 68u);
  Append(b, {0x30, 0, 0, 0, 0x02, 0, 0, 0});
  Append(b, {0x07, 0, 0, 0, 0x1C, 0, 0, 0});
  Append(b, {0x01, 0, 0, 0, 0x28, 0, 0, 0});
  Append(b, {0xEE, 0xEE, 0xEE, 0xEE});  // gap
  Append(b, {0x13, 0, 0, 0, 0x2A, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE});  // bounded by the next
  Append(b, {0x02, 0, 0, 0, 0xE4, 0x04, 0, 0});
  Append(b, {0xDE, 0xAD});  // after the section
  const PropertySet set = Parsed(b);
  EXPECT_EQ(set.codePage, kCodePageWindows1252);
  ASSERT_EQ(set.values.count(7), 1u);
  EXPECT_EQ(set.values.at(7).ui4, 0x2Au);
}

// ---- malformed streams -------------------------------------------------------------------

TEST(PropertySetParse, EveryTruncationIsAnErrorAndLeavesTheOutputAlone) {
  const Bytes bytes = SerializePropertySet(EveryType(kCodePageUnicode));
  PropertySet sentinel;
  sentinel.codePage = 7;
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    PropertySet out = sentinel;
    // A fresh copy, so that tools like ASan see any read past the end.
    const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    const HRESULT hr = ParsePropertySet(prefix, out);
    ASSERT_TRUE(hr == STG_E_INVALIDHEADER || hr == STG_E_DOCFILECORRUPT) << n;
    ASSERT_EQ(out, sentinel) << n;
  }
}

TEST(PropertySetParse, BadHeadersAreInvalidHeader) {
  const Bytes good = SerializePropertySet(EveryType(kCodePageUtf8));
  const auto parse = [](const Bytes& b) {
    PropertySet out;
    return ParsePropertySet(b, out);
  };
  Bytes b = good;
  b[0] = 0xFF, b[1] = 0xFE;  // big-endian mark
  EXPECT_EQ(parse(b), STG_E_INVALIDHEADER);
  b = good;
  b[2] = 2;  // version 2
  EXPECT_EQ(parse(b), STG_E_INVALIDHEADER);
  for (std::uint32_t sections : {0u, 3u, 0xFFFFFFFFu}) {
    b = good;
    PutU32(b, 24, sections);
    EXPECT_EQ(parse(b), STG_E_INVALIDHEADER) << sections;
  }
  for (std::uint32_t offset : {0u, 20u, 44u, 50u, static_cast<std::uint32_t>(good.size()),
                               0xFFFFFFFCu}) {
    b = good;
    PutU32(b, 44, offset);  // Offset0 inside the header, misaligned, or past the end
    EXPECT_EQ(parse(b), STG_E_INVALIDHEADER) << offset;
  }
}

TEST(PropertySetParse, BadSectionCountsAndSizesAreCorrupt) {
  const Bytes good = SerializePropertySet(EveryType(kCodePageUtf8));
  const auto parse = [](const Bytes& b) {
    PropertySet out;
    return ParsePropertySet(b, out);
  };
  const std::uint32_t size = GetU32(good, kSection);
  for (std::uint32_t bad : {0u, 4u, size + 4, size - 2, 0xFFFFFFFCu}) {
    Bytes b = good;
    PutU32(b, kSection, bad);
    EXPECT_EQ(parse(b), STG_E_DOCFILECORRUPT) << bad;
  }
  for (std::uint32_t bad : {kMaxPropertiesPerSet + 1, 0x20000000u, 0xFFFFFFFFu, size / 8}) {
    Bytes b = good;
    PutU32(b, kSection + 4, bad);
    EXPECT_EQ(parse(b), STG_E_DOCFILECORRUPT) << bad;
  }
  Bytes huge(kMaxPropertySetStream + 1, 0);
  std::copy(good.begin(), good.end(), huge.begin());
  EXPECT_NE(parse(huge), S_OK);
}

TEST(PropertySetParse, BadTablesAreCorrupt) {
  PropertySet small;
  small.names[0] = "n";
  small.values[2] = PropVariant::UI4(5);
  small.values[3] = PropVariant::Lpstr("abcdefg");
  const Bytes good = SerializePropertySet(small);
  // Table: [1 @0x28] [0 @0x30] [2 @0x40] [3 @0x48], section size 0x58.
  ASSERT_EQ(GetU32(good, kSection + 8 + 3 * 8 + 4), 0x48u);
  ASSERT_EQ(GetU32(good, kSection), 0x58u);
  const auto corrupt = [&](std::initializer_list<std::pair<std::size_t, std::uint32_t>> edits) {
    Bytes b = good;
    for (const auto& [at, v] : edits) PutU32(b, kSection + at, v);
    PropertySet out;
    return ParsePropertySet(b, out) == STG_E_DOCFILECORRUPT;
  };
  constexpr std::size_t kPid2Offset = 8 + 2 * 8 + 4;
  EXPECT_TRUE(corrupt({{8 + 2 * 8, 3}}));             // duplicate PROPID 3
  EXPECT_TRUE(corrupt({{8 + 2 * 8, 1}}));             // duplicate code page
  EXPECT_TRUE(corrupt({{kPid2Offset, 0x10}}));        // offset inside the table
  EXPECT_TRUE(corrupt({{kPid2Offset, 0}}));           // offset at the section header
  EXPECT_TRUE(corrupt({{kPid2Offset, 0x42}}));        // misaligned
  EXPECT_TRUE(corrupt({{kPid2Offset, 0x48}}));        // same offset as PROPID 3
  EXPECT_TRUE(corrupt({{kPid2Offset, 0x58}}));        // at the section's end
  EXPECT_TRUE(corrupt({{kPid2Offset, 0xFFFFFFFC}}));
  EXPECT_TRUE(corrupt({{kPid2Offset + 8, 0x44}}));    // PROPID 3 starts inside PROPID 2
  EXPECT_TRUE(corrupt({{8, 9}}));                     // no code page
  EXPECT_TRUE(corrupt({{0x28, VT_UI4}}));             // code page of the wrong type
  // Typed values whose sizes reach past the next value or overflow 32-bit arithmetic.
  EXPECT_TRUE(corrupt({{0x4C, 9}}));                  // LPSTR runs past the section
  EXPECT_TRUE(corrupt({{0x4C, 0xFFFFFFFF}}));
  EXPECT_TRUE(corrupt({{0x48, VT_LPWSTR}}));
  EXPECT_TRUE(corrupt({{0x48, VT_LPWSTR}, {0x4C, 0x80000002}}));  // x 2 wraps in 32 bits
  EXPECT_TRUE(corrupt({{0x48, VT_BLOB}, {0x4C, 9}}));
  EXPECT_FALSE(corrupt({{0x48, VT_BLOB}, {0x4C, 8}}));  // exactly fills its room
  EXPECT_TRUE(corrupt({{0x40, VT_DATE}}));            // 8 bytes where the next value starts
  EXPECT_TRUE(corrupt({{0x40, VT_CLSID}}));
  EXPECT_TRUE(corrupt({{0x40, VT_FILETIME}}));
  // The dictionary: too many entries, an empty name, a name past its end.
  EXPECT_TRUE(corrupt({{0x30, 2}}));
  EXPECT_TRUE(corrupt({{0x30, 0xFFFFFFFF}}));
  EXPECT_TRUE(corrupt({{0x38, 0}}));
  EXPECT_TRUE(corrupt({{0x38, 0xFFFFFFFF}}));
  EXPECT_FALSE(corrupt({{0x38, 1}}));  // a shorter name is still a name
}

TEST(PropertySetParse, RepeatedDictionaryPropidIsCorrupt) {
  PropertySet set;
  set.names = {{4, "a"}, {5, "b"}};
  Bytes b = SerializePropertySet(set);
  // Dictionary at section offset 0x20: count, then entry {4, 2, "a\0"}, entry {5, 2, "b\0"}.
  ASSERT_EQ(GetU32(b, kSection + 0x24 + 10), 5u);
  PutU32(b, kSection + 0x24 + 10, 4);
  PropertySet out;
  EXPECT_EQ(ParsePropertySet(b, out), STG_E_DOCFILECORRUPT);
}

TEST(PropertySetParse, OddUnicodeLpstrSizeIsCorrupt) {
  PropertySet set;
  set.codePage = kCodePageUnicode;
  set.values[2] = PropVariant::Lpstr("ab");
  Bytes b = SerializePropertySet(set);
  ASSERT_EQ(GetU32(b, kSection + 0x20 + 4), 6u);
  PutU32(b, kSection + 0x20 + 4, 5);
  PropertySet out;
  EXPECT_EQ(ParsePropertySet(b, out), STG_E_DOCFILECORRUPT);
}

TEST(PropertySetParse, NanDateKeepsItsBits) {
  PropertySet set;
  set.values[7] = PropVariant::Date(std::numeric_limits<double>::quiet_NaN());
  const Bytes bytes = SerializePropertySet(set);
  const PropertySet back = Parsed(bytes);
  EXPECT_TRUE(std::isnan(back.values.at(7).date));
  EXPECT_EQ(SerializePropertySet(back), bytes);
}

}  // namespace
}  // namespace qv::platform
