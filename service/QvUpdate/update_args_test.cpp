#include "service/QvUpdate/update_args.h"

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qv::update {
namespace {

// A valid command line (38000.5 and 38000.75 as dates); tests change one argument at a time.
std::vector<std::string> Good() {
  return {"QvUpdate", "\"/home/u/report.txt\"", "5", "1", "40e28e10", "0", "40e28e18", "0",
          "4b0", "3e8", "abcd1234", "1"};
}

HRESULT Parse(const std::vector<std::string>& args, UpdateArgs* out = nullptr) {
  std::vector<std::string_view> views(args.begin(), args.end());
  UpdateArgs a;
  const HRESULT hr = ParseUpdateArgs(views, a);
  if (out) *out = a;
  return hr;
}

TEST(UpdateArgsTest, RebuildsEveryValueExactly) {
  UpdateArgs a;
  auto args = Good();
  args.push_back("{3108EFA7-0C78-4930-8542-237B2C341ED2}");
  args.push_back("ignored");
  ASSERT_EQ(Parse(args, &a), S_OK);
  EXPECT_EQ(a.file, "/home/u/report.txt");
  EXPECT_EQ(a.units, 5u);
  EXPECT_EQ(a.visits, 1u);
  EXPECT_EQ(a.start, 38000.5);  // exactly, from its bit pattern
  EXPECT_EQ(a.finish, 38000.75);
  EXPECT_EQ(a.workingTime, 1200u);
  EXPECT_EQ(a.activeTime, 1000u);
  EXPECT_EQ(a.scope, 0xABCD1234u);
  EXPECT_EQ(a.retry, 1u);
  EXPECT_EQ(a.searchKey, "{3108EFA7-0C78-4930-8542-237B2C341ED2}");
  // Without a twelfth argument the key is null, not empty.
  ASSERT_EQ(Parse(Good(), &a), S_OK);
  EXPECT_FALSE(a.searchKey.has_value());
}

TEST(UpdateArgsTest, RefusesMissingArgumentsZeroRetryAndZeroDates) {
  auto args = Good();
  args.pop_back();  // ten numbers after the file only: eleven arguments in all
  EXPECT_EQ(Parse(args), E_INVALIDARG);
  EXPECT_EQ(Parse({}), E_INVALIDARG);
  args = Good();
  args[11] = "0";
  EXPECT_EQ(Parse(args), E_INVALIDARG);
  args = Good();
  args[4] = "0";
  args[5] = "0";
  EXPECT_EQ(Parse(args), E_INVALIDARG);
  args = Good();
  args[6] = "80000000";  // -0.0 is zero too
  args[7] = "0";
  EXPECT_EQ(Parse(args), E_INVALIDARG);
}

TEST(UpdateArgsTest, DatesMustBeCalendarDates) {
  const auto halves = [](double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    return std::pair{static_cast<std::uint32_t>(bits >> 32), static_cast<std::uint32_t>(bits)};
  };
  for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity(), 1e300, -1e7}) {
    const auto [hi, lo] = halves(bad);
    EXPECT_FALSE(DateFromHalves(hi, lo).has_value()) << bad;
  }
  const auto [hi, lo] = halves(-1.5);  // before 1899 is still a date
  EXPECT_EQ(DateFromHalves(hi, lo), -1.5);
}

TEST(UpdateArgsTest, NumbersAreOneToEightHexDigitsAndNothingElse) {
  EXPECT_EQ(ParseHexArg("ffffffff"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHexArg("00000001"), 1u);
  EXPECT_EQ(ParseHexArg("AbC"), 0xABCu);
  // Nine digits were once cut to the last eight; a prefix of the caller's own doubled it.
  for (std::string_view bad : {"", "100000000", "0x5", "0X5", "-1", "+1", " 5", "5 ", "g",
                               "12\n", "000000000"}) {
    EXPECT_FALSE(ParseHexArg(bad).has_value()) << bad;
    auto args = Good();
    args[2] = std::string(bad);
    EXPECT_EQ(Parse(args), E_INVALIDARG) << bad;
  }
}

TEST(UpdateArgsTest, OnlyAMatchingQuotePairIsStripped) {
  EXPECT_EQ(ParseNameArg("\"/a b\""), "/a b");
  EXPECT_EQ(ParseNameArg("/plain"), "/plain");
  // A leading quote alone used to cost the name its first and last characters.
  EXPECT_EQ(ParseNameArg("\"/a"), "\"/a");
  EXPECT_EQ(ParseNameArg("/a\""), "/a\"");
  // A name that itself starts and ends with a quote arrives quoted once more.
  EXPECT_EQ(ParseNameArg("\"\"/x\"\""), "\"/x\"");
  EXPECT_EQ(ParseNameArg("\""), "\"");
  EXPECT_FALSE(ParseNameArg("\"\"").has_value());
  EXPECT_FALSE(ParseNameArg("").has_value());
  auto args = Good();
  args.push_back("\"\"");  // an empty quoted search key
  EXPECT_EQ(Parse(args), E_INVALIDARG);
}

TEST(UpdateArgsTest, NamesAreCountedInCharactersUpTo259) {
  EXPECT_TRUE(ParseNameArg("\"" + std::string(259, 'a') + "\"").has_value());
  EXPECT_FALSE(ParseNameArg("\"" + std::string(260, 'a') + "\"").has_value());
  // 259 characters of two bytes each: within the limit, though 518 bytes long.
  std::string wide;
  for (int i = 0; i < 259; ++i) wide += "\xc3\xa9";
  EXPECT_TRUE(ParseNameArg(wide).has_value());
  EXPECT_FALSE(ParseNameArg(wide + "\xc3\xa9").has_value());
  auto args = Good();
  args.push_back(std::string(260, 'k'));
  EXPECT_EQ(Parse(args), E_INVALIDARG);
}

}  // namespace
}  // namespace qv::update
