#include "mail/ranking_endpoint.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/temp_dir.h"

namespace qv::mail {
namespace {

using namespace std::chrono_literals;
using platform::CallArg;

OtlItemValues SampleItem() {
  OtlItemValues v;
  v.state = kItemHasRanking;
  v.pst = 4;
  v.searchKey = "{6681E2F0-F78D-4345-AD66-73787A427FF7}";
  v.set = {11, 120, 60, 3, 45000.5, {45001.25, 30, 200}, {45002.75, 90, 400}};
  v.parentFolder = "Inbox";
  v.prefix = "RE: ";
  v.subject = "Quarterly numbers";
  v.to = "ann@example.org";
  v.from = "bob@example.org";
  v.cc = "";
  v.bcc = "carl@example.org";
  v.itemType = "IPM.Note";
  v.messageFlags = 0x21;
  v.date1 = 45000.0;
  v.date2 = 45003.0;
  return v;
}

// The add-in's object as a test wants it: remembers what it was asked.
class FakeRanking final : public OtlRanking {
 public:
  HRESULT ReadItem(std::string_view id, OtlItemValues& out) override {
    if (id != "outlook:00AB") return HresultFromWin32(win32::ERROR_NOT_FOUND);
    out = SampleItem();
    return S_OK;
  }
  HRESULT WriteItem(std::string_view id, const ranking::RankingSet& set) override {
    written.emplace_back(std::string(id), set);
    return id == "outlook:untracked" ? S_FALSE : S_OK;
  }
  HRESULT GetMsgFile(std::string_view id, std::string_view section, std::uint32_t size,
                     std::string_view prefix, std::string& files, std::string& text,
                     std::uint32_t& kind) override {
    files = std::string(id) + "|" + std::string(section) + "|" + std::to_string(size) + "|" +
            std::string(prefix);
    text = "utf-8";
    kind = kBodyText;
    return S_OK;
  }
  std::vector<std::pair<std::string, ranking::RankingSet>> written;
};

TEST(ItemValues, RoundTripAsOutValuesAndRefuseAnyOtherShape) {
  const OtlItemValues item = SampleItem();
  std::vector<CallArg> args = ItemValuesToArgs(item);
  ASSERT_EQ(args.size(), kItemValueCount);
  OtlItemValues back;
  ASSERT_TRUE(ItemValuesFromArgs(args, back));
  EXPECT_EQ(back, item);

  OtlItemValues untouched = SampleItem();
  untouched.subject = "kept";
  auto shorter = args;
  shorter.pop_back();
  EXPECT_FALSE(ItemValuesFromArgs(shorter, untouched));
  auto longer = args;
  longer.resize(longer.size() + 1);  // one more (null) string
  EXPECT_FALSE(ItemValuesFromArgs(longer, untouched));
  auto swapped = args;
  swapped[0] = swapped[3];  // wrong type: a number where a string belongs is checked too
  swapped[2] = CallArg(std::uint32_t{7});
  EXPECT_FALSE(ItemValuesFromArgs(swapped, untouched));
  EXPECT_EQ(untouched.subject, "kept");  // a refused reply changes nothing
}

class RankingEndpointTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::RunningObjects> Table() const {
    return std::make_shared<platform::RunningObjects>(
        platform::RunningObjectsOptions{dir_.path() / "rot", ::getuid(), {}});
  }
  TempDir dir_;
  SystemClock clock_;
};

TEST_F(RankingEndpointTest, TheAddInsObjectServedByAnotherProcessIsReadWrittenAndAskedForBodies) {
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(done[1]);
    auto fake = std::make_shared<FakeRanking>();
    std::unique_ptr<platform::Registration> reg;
    const char ok = Succeeded(PublishOtlRanking(*Table(), "0:4d2", fake, reg)) ? '1' : '0';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
    char c = 0;
    [[maybe_unused]] const ssize_t n = ::read(done[0], &c, 1);  // until the parent is done
    // The child reports what reached its object through its exit code.
    const bool wrote = fake->written.size() == 2 && fake->written[0].first == "outlook:00AB" &&
                       fake->written[0].second == SampleItem().set;
    reg.reset();
    ::_exit(wrote ? 0 : 3);
  }
  ::close(ready[1]);
  ::close(done[0]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, '1');

  RemoteOtlRanking remote(Table(), OtlRankingName("0:4d2"), clock_, 20s);
  OtlItemValues item;
  EXPECT_EQ(remote.ReadItem("outlook:00AB", item), S_OK);
  EXPECT_EQ(item, SampleItem());
  EXPECT_EQ(remote.ReadItem("outlook:none", item), HresultFromWin32(win32::ERROR_NOT_FOUND));
  EXPECT_EQ(remote.WriteItem("outlook:00AB", SampleItem().set), S_OK);
  EXPECT_EQ(remote.WriteItem("outlook:untracked", {}), S_FALSE);
  std::string files, text;
  std::uint32_t kind = 99;
  EXPECT_EQ(remote.GetMsgFile("outlook:00AB", "qv-mail-1", 4096, "msg", files, text, kind),
            S_OK);
  EXPECT_EQ(files, "outlook:00AB|qv-mail-1|4096|msg");
  EXPECT_EQ(text, "utf-8");
  EXPECT_EQ(kind, kBodyText);

  ::close(done[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  // The add-in gone: not available, at once.
  EXPECT_EQ(remote.ReadItem("outlook:00AB", item), platform::MK_E_UNAVAILABLE);
}

// An add-in that hangs until its caller gives up.
class HungRanking final : public OtlRanking {
 public:
  explicit HungRanking(std::stop_token release) : release_(std::move(release)) {}
  HRESULT ReadItem(std::string_view, OtlItemValues&) override {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    cv.wait(lock, release_, [] { return false; });
    return S_OK;
  }
  HRESULT WriteItem(std::string_view, const ranking::RankingSet&) override { return S_OK; }
  HRESULT GetMsgFile(std::string_view, std::string_view, std::uint32_t, std::string_view,
                     std::string&, std::string&, std::uint32_t&) override {
    return S_OK;
  }

 private:
  std::stop_token release_;
};

TEST_F(RankingEndpointTest, AHungAddInCostsTheLimitOrUntilTheCallerCancels) {
  std::stop_source release;
  std::unique_ptr<platform::Registration> reg;
  ASSERT_EQ(PublishOtlRanking(*Table(), "0:1", std::make_shared<HungRanking>(release.get_token()),
                              reg),
            S_OK);
  RemoteOtlRanking remote(Table(), OtlRankingName("0:1"), clock_, 50ms);
  OtlItemValues item;
  EXPECT_EQ(remote.ReadItem("outlook:1", item), E_ABORT);
  std::stop_source cancel;
  cancel.request_stop();
  RemoteOtlRanking patient(Table(), OtlRankingName("0:1"), clock_, 60s);
  EXPECT_EQ(patient.ReadItem("outlook:1", item, cancel.get_token()),
            platform::RPC_E_CALL_CANCELED);
  release.request_stop();  // lets the served calls end, so the registration can go
}

}  // namespace
}  // namespace qv::mail
