#include "hooks/QvHooks/visit_client.h"

#include <gtest/gtest.h>

#include "hooks/QvHooks/test_tracer.h"
#include "platform/messaging/inproc_transport.h"

namespace qv::hooks {
namespace {

using namespace qv::platform;
using std::chrono::milliseconds;

struct VisitFixture : ::testing::Test {
  SystemClock clock;
  std::shared_ptr<InProcessTransport> transport = std::make_shared<InProcessTransport>(clock);
  WindowStation station{transport, clock};
  VisitClient client{&station, [](std::uint64_t w) { return w == 100 || w == 200; },
                     milliseconds(300)};
};

TEST_F(VisitFixture, WithoutATracerEveryCallReturnsSFalse) {
  EXPECT_EQ(client.IsRunning(), S_FALSE);
  EXPECT_EQ(client.Start(100, u"http://a/", KIV_VF_TRACK), S_FALSE);
  EXPECT_EQ(client.Update(100, nullptr, 0), S_FALSE);
  EXPECT_EQ(client.End(100, u"http://a/", 0), S_FALSE);
  VisitClient noStation(nullptr);
  EXPECT_EQ(noStation.IsRunning(), S_FALSE);
  EXPECT_EQ(noStation.Start(1, u"x", 1), S_FALSE);
}

TEST_F(VisitFixture, ArgumentChecksComeFirstAndSendNothing) {
  TestTracer tracer(station, clock);
  EXPECT_EQ(client.Start(100, nullptr, KIV_VF_TRACK), E_INVALIDARG);
  EXPECT_EQ(client.Start(300, u"x", KIV_VF_TRACK), E_INVALIDARG);  // not a window
  EXPECT_EQ(client.Start(0, u"x", KIV_VF_TRACK), E_INVALIDARG);
  EXPECT_EQ(client.End(0, u"x", 0), E_INVALIDARG);
  EXPECT_EQ(client.End(300, u"x", 0), S_OK);  // end checks only for 0
  const auto got = tracer.WaitFor(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(VisitOperation(got[0].copyData->dwData), KIV_VISIT_END);
}

TEST_F(VisitFixture, EachCallIsOneCopyDataToTheEventWindow) {
  TestTracer tracer(station, clock);
  EXPECT_EQ(client.IsRunning(), S_OK);
  EXPECT_EQ(client.Start(100, u"http://x/\nframe", KIV_VF_TRACK | KIV_VF_NOJOURNAL), S_OK);
  EXPECT_EQ(client.Update(200, nullptr, 0x12345), S_OK);
  EXPECT_EQ(client.End(100, u"a", KIV_VF_NORANK), S_OK);
  const auto got = tracer.WaitFor(3);
  ASSERT_EQ(got.size(), 3u);
  for (const Message& m : got) {
    EXPECT_EQ(m.hwnd, tracer.eventWindow());
    EXPECT_EQ(m.message, WM_COPYDATA);
    ASSERT_TRUE(m.copyData);
    EXPECT_FALSE(m.copyData->nullData);
  }
  EXPECT_EQ(got[0].wParam, 100u);
  EXPECT_EQ(got[0].copyData->dwData, (std::uint64_t{0x21} << 16) | KIV_VISIT_START);
  EXPECT_EQ(got[0].copyData->bytes.size(), (15u + 1) * 2);
  EXPECT_EQ(got[0].copyData->bytes[18], '\n');
  // Only the low 16 bits of the flags travel; a null item is an empty string (cbData 2).
  EXPECT_EQ(got[1].copyData->dwData, (std::uint64_t{0x2345} << 16) | KIV_VISIT_UPDATE);
  EXPECT_EQ(got[1].copyData->bytes, (std::vector<std::uint8_t>{0, 0}));
  // One character and its NUL: cbData 4.
  EXPECT_EQ(got[2].copyData->bytes, (std::vector<std::uint8_t>{'a', 0, 0, 0}));
  EXPECT_EQ(got[2].copyData->dwData, (std::uint64_t{KIV_VF_NORANK} << 16) | KIV_VISIT_END);
}

TEST_F(VisitFixture, ItemsLongerThanTheTracerReadsAreRefusedBeforeSending) {
  TestTracer tracer(station, clock);
  const std::u16string longest(kMaxVisitItemChars, u'x');
  const std::u16string tooLong(kMaxVisitItemChars + 1, u'x');
  EXPECT_EQ(client.Start(100, tooLong.c_str(), KIV_VF_TRACK), E_INVALIDARG);
  EXPECT_EQ(client.Update(100, tooLong.c_str(), 0), E_INVALIDARG);
  EXPECT_EQ(client.End(100, tooLong.c_str(), 0), E_INVALIDARG);
  EXPECT_EQ(client.Start(100, longest.c_str(), KIV_VF_TRACK), S_OK);
  const auto got = tracer.WaitFor(1);
  ASSERT_EQ(got.size(), 1u);
  // The longest accepted block is still one the tracer reads (at most 0xFFFD bytes).
  EXPECT_LE(got[0].copyData->bytes.size(), kMaxVisitDataBytes);
  EXPECT_EQ(got[0].copyData->bytes.size(), (kMaxVisitItemChars + 1) * 2);
}

TEST_F(VisitFixture, HungTracerGivesTimeoutWithinTheLimit) {
  TestTracer tracer(station, clock);
  tracer.Hold(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.Start(100, u"x", KIV_VF_TRACK), HresultFromWin32(win32::ERROR_TIMEOUT));
  EXPECT_EQ(HresultFromWin32(win32::ERROR_TIMEOUT), static_cast<HRESULT>(0x800705B4));
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(kVisitSendTimeoutMs));
  tracer.Hold(false);
}

TEST_F(VisitFixture, TopLevelWindowOfTheEventClassDoesNotCount) {
  MessageLoop loop(clock);
  std::unique_ptr<Window> impostor;
  ASSERT_EQ(station.CreateWindow(loop, {std::string(kTracerEventWindowClass), "", false},
                                 [](const Message&) -> LRESULT { return 1; }, impostor),
            S_OK);
  EXPECT_EQ(client.IsRunning(), S_FALSE);
  EXPECT_EQ(client.Start(100, u"x", 1), S_FALSE);
}

}  // namespace
}  // namespace qv::hooks
