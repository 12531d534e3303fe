// The framing: native-endian lengths, the bound checked before anything is read, and the
// ways a connection can end.
#include "mail/thunderbird/native_messaging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace qv::mail::tb {
namespace {

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(fds), 0); }
  ~Pipe() {
    CloseWrite();
    if (fds[0] >= 0) ::close(fds[0]);
  }
  void CloseWrite() {
    if (fds[1] >= 0) ::close(fds[1]);
    fds[1] = -1;
  }
  void Write(std::string_view bytes) {
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(NativeMessaging, FramesRoundTripWithTheLengthInNativeOrder) {
  const std::string frame = EncodeFrame("{\"a\":1}");
  ASSERT_EQ(frame.size(), 11u);
  std::uint32_t length = 0;
  std::memcpy(&length, frame.data(), 4);
  EXPECT_EQ(length, 7u);

  std::size_t used = 0;
  std::string out;
  const std::string two = frame + EncodeFrame("");
  ASSERT_EQ(ParseFrame(Bytes(two), 100, used, out), FrameResult::Message);
  EXPECT_EQ(out, "{\"a\":1}");
  EXPECT_EQ(used, 11u);
  ASSERT_EQ(ParseFrame(Bytes(two).subspan(used), 100, used, out), FrameResult::Message);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ParseFrame({}, 100, used, out), FrameResult::End);
  EXPECT_EQ(ParseFrame(Bytes(frame).first(3), 100, used, out), FrameResult::NeedMore);
  EXPECT_EQ(ParseFrame(Bytes(frame).first(10), 100, used, out), FrameResult::NeedMore);
  EXPECT_EQ(ParseFrame(Bytes(frame), 6, used, out), FrameResult::TooLarge);
}

TEST(NativeMessaging, ReadingStopsCleanlyOnlyBetweenMessages) {
  {
    Pipe p;
    p.Write(EncodeFrame("one") + EncodeFrame("two"));
    p.CloseWrite();
    std::string out;
    ASSERT_EQ(ReadFrame(p.fds[0], 100, out), FrameResult::Message);
    EXPECT_EQ(out, "one");
    ASSERT_EQ(ReadFrame(p.fds[0], 100, out), FrameResult::Message);
    EXPECT_EQ(out, "two");
    EXPECT_EQ(ReadFrame(p.fds[0], 100, out), FrameResult::End);
  }
  {
    Pipe p;  // ends inside the length
    p.Write(std::string("\x05\x00", 2));
    p.CloseWrite();
    std::string out;
    EXPECT_EQ(ReadFrame(p.fds[0], 100, out), FrameResult::Truncated);
  }
  {
    Pipe p;  // ends inside the body
    p.Write(EncodeFrame("twelve bytes").substr(0, 10));
    p.CloseWrite();
    std::string out;
    EXPECT_EQ(ReadFrame(p.fds[0], 100, out), FrameResult::Truncated);
  }
}

TEST(NativeMessaging, AnOverlongLengthIsRefusedWithoutWaitingForItsBody) {
  Pipe p;
  const std::uint32_t huge = 0xFFFFFFF0u;
  std::string head(4, '\0');
  std::memcpy(head.data(), &huge, 4);
  p.Write(head);  // the writer stays open: reading the body would block for ever
  std::string out;
  EXPECT_EQ(ReadFrame(p.fds[0], kMaxIncomingMessage, out), FrameResult::TooLarge);
  EXPECT_TRUE(out.empty());
}

TEST(NativeMessaging, WritesAreWholeFramesAndBounded) {
  Pipe p;
  ASSERT_EQ(WriteFrame(p.fds[1], "{\"ok\":true}"), S_OK);
  std::string out;
  ASSERT_EQ(ReadFrame(p.fds[0], 100, out), FrameResult::Message);
  EXPECT_EQ(out, "{\"ok\":true}");
  EXPECT_EQ(WriteFrame(p.fds[1], std::string(kMaxOutgoingMessage + 1, 'x')), E_INVALIDARG);
}

}  // namespace
}  // namespace qv::mail::tb
