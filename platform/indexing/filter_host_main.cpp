// qvfilterhost: reads documents of binary formats for the indexer in a process of their own,
// under CPU, memory and file limits. The indexer starts it with a socket as standard input.
#include "common/hresult.h"
#include "platform/indexing/filter.h"
#include "platform/indexing/filter_host_worker.h"

namespace {

// The document readers plug in here. Until a format has one, the host answers that it does
// not know the format, and the indexer treats the file as it did before the host existed.
qv::HRESULT ReadDocument(const std::filesystem::path&, const qv::platform::ReaderLimits&,
                         qv::platform::DocumentText&) {
  return qv::platform::FILTER_E_UNKNOWNFORMAT;
}

}  // namespace

int main(int argc, char** argv) {
  return qv::platform::indexing::FilterHostMain(argc, argv, ReadDocument);
}
