// qvfilterhost: reads documents of binary formats for the indexer in a process of their own,
// under CPU, memory and file limits. The indexer starts it with a socket as standard input.
#include "platform/indexing/filter_host_worker.h"
#include "platform/indexing/readers/document_readers.h"

int main(int argc, char** argv) {
  return qv::platform::indexing::FilterHostMain(argc, argv, qv::platform::readers::ReadDocument);
}
