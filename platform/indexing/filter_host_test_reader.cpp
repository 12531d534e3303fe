// For the filter host tests: a host whose reader misbehaves on command. The file's first
// word says what it does: "echo" hands back the rest of the file as text with a title,
// "unknown" does not know the format, "loop" spins, "sleep" waits without end, "alloc"
// allocates without end, "crash" dies of SIGSEGV, "write" writes a file, "exit" leaves, and
// "flood" writes text frames to the channel without end.
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/indexing/filter.h"
#include "platform/indexing/filter_host_protocol.h"
#include "platform/indexing/filter_host_worker.h"

namespace {

using qv::platform::DocumentText;
using qv::platform::ReaderLimits;

// The host moves the channel to the lowest descriptor above standard error.
constexpr int kChannel = 3;

qv::HRESULT Misbehave(const std::filesystem::path& file, const ReaderLimits&, DocumentText& out) {
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const std::string word = text.substr(0, text.find_first_of(" \n"));
  if (word == "echo") {
    out.chunks.push_back(text.substr(text.find(' ') + 1));
    out.title = "Echoed";
    out.author = "Tester";
    out.modified = 45000.25;
    return qv::S_OK;
  }
  if (word == "loop") {
    for (;;) asm volatile("");
  }
  if (word == "sleep") {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  if (word == "alloc") {
    // Bounded so that a host without a memory cap cannot take the machine.
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 512; ++i) {
      blocks.push_back(std::make_unique<char[]>(16u << 20));
      for (std::size_t at = 0; at < (16u << 20); at += 4096) blocks.back()[at] = 1;
    }
    return qv::S_OK;
  }
  if (word == "crash") ::raise(SIGSEGV);
  if (word == "write") {
    std::ofstream(file.string() + ".out") << std::string(1 << 20, 'x');
    return qv::S_OK;
  }
  if (word == "exit") ::_exit(3);
  if (word == "flood") {
    std::string frame;
    qv::platform::indexing::AppendFrame(frame, qv::platform::indexing::kFrameChunk,
                                        std::string(1 << 19, 'a'));
    for (int i = 0; i < 4096; ++i) {
      if (::write(kChannel, frame.data(), frame.size()) <= 0) break;
    }
    ::_exit(0);
  }
  return qv::platform::FILTER_E_UNKNOWNFORMAT;
}

}  // namespace

int main(int argc, char** argv) {
  return qv::platform::indexing::FilterHostMain(argc, argv, Misbehave);
}
