#include "platform/messaging/frame.h"

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

Frame CopyDataFrame(std::size_t bytes) {
  Frame f;
  f.kind = FrameKind::Send;
  f.flags = kFrameHasCopyData | kFrameAbortIfHung;
  f.seq = 7;
  f.message = 0x4A;
  f.target = 0x1234'0000'0042ull;
  f.wParam = 0xFFFF'FFFF'FFFF'FFFFull;
  f.lParam = -5;
  f.dwData = 0x0011'0002;
  f.data.assign(bytes, 0xAB);
  return f;
}

TEST(Frame, RoundTripsEveryFieldAndTheCopyDataLimits) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, kMaxCopyDataBytes}) {
    const Frame f = CopyDataFrame(size);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(EncodeFrame(f, bytes), S_OK);
    EXPECT_EQ(bytes.size(), kFrameHeaderSize + size);
    Frame back;
    ASSERT_EQ(DecodeFrame(bytes, back), S_OK) << size;
    EXPECT_EQ(back, f);
  }
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(EncodeFrame(CopyDataFrame(kMaxCopyDataBytes + 1), bytes), E_INVALIDARG);
}

TEST(Frame, MessageConversionKeepsNullDataApartFromEmptyData) {
  Message m{5, 0x4A, 9, 0, CopyData{3, {}, true}};
  Frame f = FrameFromMessage(FrameKind::Send, m);
  EXPECT_EQ(f.flags & kFrameNullData, kFrameNullData);
  Message back = MessageFromFrame(f);
  ASSERT_TRUE(back.copyData);
  EXPECT_TRUE(back.copyData->nullData);

  m.copyData = CopyData{3, {}, false};
  back = MessageFromFrame(FrameFromMessage(FrameKind::Send, m));
  ASSERT_TRUE(back.copyData);
  EXPECT_FALSE(back.copyData->nullData);
  EXPECT_TRUE(back.copyData->bytes.empty());
}

TEST(Frame, RejectsMalformedRecords) {
  std::vector<std::uint8_t> good;
  ASSERT_EQ(EncodeFrame(CopyDataFrame(4), good), S_OK);
  const HRESULT bad = HresultFromWin32(win32::ERROR_INVALID_DATA);
  Frame out;

  auto mutate = [&](auto change) {
    std::vector<std::uint8_t> b = good;
    change(b);
    return DecodeFrame(b, out);
  };
  EXPECT_EQ(mutate([](auto& b) { b.resize(kFrameHeaderSize - 1); }), bad);    // short header
  EXPECT_EQ(mutate([](auto& b) { b[0] ^= 1; }), bad);                          // magic
  EXPECT_EQ(mutate([](auto& b) { b[4] = 0; }), bad);                           // kind 0
  EXPECT_EQ(mutate([](auto& b) { b[4] = 6; }), bad);                           // kind 6
  EXPECT_EQ(mutate([](auto& b) { b[5] = 1; }), bad);                           // reserved
  EXPECT_EQ(mutate([](auto& b) { b[7] = 0x80; }), bad);                        // unknown flag
  EXPECT_EQ(mutate([](auto& b) { b[56] = 3; }), bad);                          // status
  EXPECT_EQ(mutate([](auto& b) { b.push_back(0); }), bad);                     // length mismatch
  EXPECT_EQ(mutate([](auto& b) { b[60] = 0xFF; b[63] = 0xFF; }), bad);         // huge length
  EXPECT_EQ(mutate([](auto& b) { b[4] = 1; }), bad);                           // posted copy data
  EXPECT_EQ(mutate([](auto& b) { b[6] = kFrameNullData | kFrameHasCopyData; }), bad);  // null with bytes
  EXPECT_EQ(mutate([](auto& b) { b[6] = 0; }), bad);                           // bytes without copy data
  std::vector<std::uint8_t> huge(kMaxFrameSize + 1, 0);
  EXPECT_EQ(DecodeFrame(huge, out), bad);
  EXPECT_EQ(DecodeFrame(good, out), S_OK);
}

TEST(Frame, WindowNamesNeedAClassAndNoStrayNul) {
  std::string cls, title;
  EXPECT_TRUE(DecodeWindowName(EncodeWindowName("QvTracerWindow", "QvTracer"), cls, title));
  EXPECT_EQ(cls, "QvTracerWindow");
  EXPECT_EQ(title, "QvTracer");
  EXPECT_TRUE(DecodeWindowName(EncodeWindowName("C", ""), cls, title));
  EXPECT_EQ(title, "");
  EXPECT_FALSE(DecodeWindowName(EncodeWindowName("", "t"), cls, title));
  EXPECT_FALSE(DecodeWindowName(EncodeWindowName("C", std::string("a\0b", 3)), cls, title));
  const std::vector<std::uint8_t> noNul = {'a', 'b'};
  EXPECT_FALSE(DecodeWindowName(noNul, cls, title));
}

}  // namespace
}  // namespace qv::platform
