#include "platform/com/remote_call.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "common/temp_dir.h"

namespace qv::platform {
namespace {

const HRESULT kBadData = HresultFromWin32(win32::ERROR_INVALID_DATA);

CallRequest SampleCall() {
  CallRequest call;
  call.method = 3;
  call.begin = true;
  call.args = {std::optional<std::string>("/home/u/a \"b\"\n.odt"), std::optional<std::string>(),
               std::uint32_t{0xFFFFFFFF}, 46000.25, true, false, std::optional<std::string>("")};
  return call;
}

std::vector<std::uint8_t> Encoded(const CallRequest& call) {
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(EncodeCall(call, bytes), S_OK);
  return bytes;
}

TEST(RemoteCallCodec, EveryArgumentTypeSurvivesTheRoundTrip) {
  const CallRequest call = SampleCall();
  CallRequest back;
  ASSERT_EQ(DecodeCall(Encoded(call), back), S_OK);
  EXPECT_EQ(back, call);
  // A null string and an empty one stay apart.
  EXPECT_FALSE(std::get<std::optional<std::string>>(back.args[1]).has_value());
  EXPECT_EQ(std::get<std::optional<std::string>>(back.args[6]), std::string());
  // Dates keep every bit, also the odd ones.
  CallRequest dates;
  dates.args = {-0.0, std::numeric_limits<double>::infinity(), 1e-300};
  ASSERT_EQ(DecodeCall(Encoded(dates), back), S_OK);
  EXPECT_TRUE(std::signbit(std::get<double>(back.args[0])));
  EXPECT_EQ(back, dates);
}

TEST(RemoteCallCodec, MalformedCallsAreRefusedWithInvalidData) {
  const std::vector<std::uint8_t> good = Encoded(SampleCall());
  CallRequest out;
  auto decode = [&](std::vector<std::uint8_t> b) { return DecodeCall(b, out); };

  EXPECT_EQ(decode({}), kBadData);
  EXPECT_EQ(decode({good.begin(), good.begin() + 15}), kBadData);  // short header
  auto b = good;
  b[0] ^= 1;  // magic
  EXPECT_EQ(decode(b), kBadData);
  b = good;
  b[8] |= 0x02;  // unknown flag
  EXPECT_EQ(decode(b), kBadData);
  b = good;
  b[12] = 8;  // more arguments announced than sent
  EXPECT_EQ(decode(b), kBadData);
  b = good;
  b[12] = static_cast<std::uint8_t>(kMaxCallArgs + 1);
  EXPECT_EQ(decode(b), kBadData);
  b = good;
  b.push_back(0);  // bytes left over
  EXPECT_EQ(decode(b), kBadData);
  b = good;
  b[16] = 9;  // unknown argument type
  EXPECT_EQ(decode(b), kBadData);
  b = good;
  b[17] = 0xFF;  // string length past the end of the record
  b[18] = 0xFF;
  b[19] = 0xFF;
  b[20] = 0xFF;
  EXPECT_EQ(decode(b), kBadData);

  CallRequest flag;
  flag.args = {true};
  b = Encoded(flag);
  b.back() = 2;  // a bool is 0 or 1
  EXPECT_EQ(decode(b), kBadData);

  b = good;
  b.resize(kMaxCallBytes + 1);
  EXPECT_EQ(decode(b), kBadData);
}

TEST(RemoteCallCodec, CallsTooBigToSendAreRefusedBeforeSending) {
  CallRequest call;
  call.args.assign(kMaxCallArgs + 1, std::uint32_t{1});
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(EncodeCall(call, bytes), E_INVALIDARG);
  call.args = {std::optional<std::string>(std::string(kMaxCallBytes, 'x'))};
  EXPECT_EQ(EncodeCall(call, bytes), E_INVALIDARG);
}

TEST(RemoteCallCodec, RepliesRoundTripAndRejectOtherShapes) {
  const CallReply reply{ReplyKind::Queued, MakeHr(0x8000000A), 4242};
  std::vector<std::uint8_t> bytes = EncodeReply(reply);
  CallReply back;
  ASSERT_EQ(DecodeReply(bytes, back), S_OK);
  EXPECT_EQ(back, reply);
  bytes[4] = 3;  // no such kind
  EXPECT_EQ(DecodeReply(bytes, back), kBadData);
  bytes = EncodeReply(reply);
  bytes.pop_back();
  EXPECT_EQ(DecodeReply(bytes, back), kBadData);
}

TEST(RemoteCallCodec, ValuesRepliesCarryOutValuesAndAreDecodedStrictly) {
  CallReply reply{ReplyKind::Values, S_FALSE, 9, SampleCall().args};
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeReply(reply, bytes), S_OK);
  CallReply back;
  ASSERT_EQ(DecodeReply(bytes, back), S_OK);
  EXPECT_EQ(back, reply);
  // The same 16 bytes without a count, a count past what follows, bytes left over.
  EXPECT_EQ(DecodeReply(std::span(bytes).first(kReplySize), back), kBadData);
  auto b = bytes;
  b[16] = static_cast<std::uint8_t>(reply.values.size() + 1);
  EXPECT_EQ(DecodeReply(b, back), kBadData);
  b = bytes;
  b.push_back(0);
  EXPECT_EQ(DecodeReply(b, back), kBadData);
  b = bytes;
  b[16] = static_cast<std::uint8_t>(kMaxReplyValues + 1);
  EXPECT_EQ(DecodeReply(b, back), kBadData);
  // A Result reply with anything after its 16 bytes is refused too.
  b = EncodeReply(CallReply{ReplyKind::Result, S_OK, 1, {}});
  b.push_back(0);
  EXPECT_EQ(DecodeReply(b, back), kBadData);

  // What cannot be sent is refused when encoding: too many values, too long, values on a
  // reply kind that has none.
  reply.values.assign(kMaxReplyValues + 1, std::uint32_t{1});
  EXPECT_EQ(EncodeReply(reply, bytes), E_INVALIDARG);
  reply.values = {std::optional<std::string>(std::string(kMaxCallBytes, 'x'))};
  EXPECT_EQ(EncodeReply(reply, bytes), E_INVALIDARG);
  reply.kind = ReplyKind::Result;
  reply.values = {true};
  EXPECT_EQ(EncodeReply(reply, bytes), E_INVALIDARG);
}

class RemoteCallSocket : public ::testing::Test {
 protected:
  std::filesystem::path Path() const { return dir_.path() / "svc.sock"; }
  TempDir dir_;
  SystemClock clock_;
};

TEST_F(RemoteCallSocket, ACallReachesTheServerWithTheCallersIdentity) {
  UniqueFd listen;
  ASSERT_EQ(ListenOn(Path(), listen), S_OK);
  UniqueFd client;
  ASSERT_EQ(ConnectTo(Path(), client), S_OK);
  UniqueFd served(::accept4(listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(served);
  PeerIdentity peer;
  ASSERT_TRUE(ReadPeerIdentity(served.get(), peer));
  EXPECT_EQ(peer.uid, ::getuid());
  EXPECT_EQ(peer.pid, ::getpid());

  // The server answers before the client waits; the reply stays queued on the socket.
  const CallRequest call = SampleCall();
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(EncodeCall(call, bytes), S_OK);
  ASSERT_EQ(::send(client.get(), bytes.data(), bytes.size(), 0),
            static_cast<ssize_t>(bytes.size()));
  std::vector<std::uint8_t> buf;
  ASSERT_EQ(ReadCallRecord(served.get(), buf), RecordRead::Record);
  CallRequest got;
  ASSERT_EQ(DecodeCall(buf, got), S_OK);
  EXPECT_EQ(got, call);
  ASSERT_EQ(SendReply(served.get(), {ReplyKind::Result, E_ACCESSDENIED, 7}), S_OK);
  CallReply reply;
  ASSERT_EQ(ReceiveReply(client.get(), clock_, std::chrono::seconds(5), reply), S_OK);
  EXPECT_EQ(reply.hr, E_ACCESSDENIED);
  EXPECT_EQ(reply.serverPid, 7u);

  // A reply with out values arrives whole, larger than the plain reply.
  const CallReply values{ReplyKind::Values, S_OK, 7,
                         {std::optional<std::string>(std::string(40000, 'v')), 2.5}};
  ASSERT_EQ(SendReply(served.get(), values), S_OK);
  ASSERT_EQ(ReceiveReply(client.get(), clock_, std::chrono::seconds(5), reply), S_OK);
  EXPECT_EQ(reply, values);
}

TEST_F(RemoteCallSocket, OversizedRecordsAndSilentOrVanishedServersAreErrors) {
  UniqueFd listen;
  ASSERT_EQ(ListenOn(Path(), listen), S_OK);
  UniqueFd again;
  EXPECT_EQ(ListenOn(Path(), again), HresultFromWin32(win32::ERROR_ALREADY_EXISTS));
  UniqueFd client;
  ASSERT_EQ(ConnectTo(Path(), client), S_OK);
  UniqueFd served(::accept4(listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(served);

  std::vector<std::uint8_t> huge(kMaxCallBytes + 10, 0);
  ASSERT_GT(::send(client.get(), huge.data(), huge.size(), 0), 0);
  std::vector<std::uint8_t> buf;
  EXPECT_EQ(ReadCallRecord(served.get(), buf), RecordRead::Bad);
  EXPECT_EQ(ReadCallRecord(served.get(), buf), RecordRead::Again);

  CallReply reply;
  EXPECT_EQ(SendCall(client.get(), SampleCall(), clock_, std::chrono::milliseconds(50), reply),
            HresultFromWin32(win32::ERROR_TIMEOUT));
  served.Reset();
  EXPECT_EQ(ReceiveReply(client.get(), clock_, std::chrono::seconds(5), reply),
            HresultFromWin32(win32::ERROR_BROKEN_PIPE));

  // A socket file whose server is gone reads as nobody listening, like no file at all.
  listen.Reset();
  UniqueFd late;
  EXPECT_EQ(ConnectTo(Path(), late), HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ConnectTo(dir_.path() / "none.sock", late),
            HresultFromWin32(win32::ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace qv::platform
