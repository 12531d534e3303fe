// The zip and XML glue of the OpenDocument, Office Open XML and EPUB readers. Input that
// starts as a zip archive is read as it is; any other input is cut into members at lines
// "--name" and packed into an archive first, so that the XML inside reaches the readers
// whole (a mutated deflate stream would rarely get past its checksum).
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/indexing/readers/document_readers.h"

namespace {

struct ZipDiscard {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct SourceFree {
  void operator()(zip_source_t* s) const { zip_source_free(s); }
};

std::vector<std::pair<std::string, std::string>> Members(std::string_view in) {
  std::vector<std::pair<std::string, std::string>> members;
  while (in.starts_with("--")) {
    const auto eol = in.find('\n');
    if (eol == std::string_view::npos) break;
    std::string name(in.substr(2, eol - 2));
    in.remove_prefix(eol + 1);
    const auto next = in.find("\n--");
    const std::string_view body = in.substr(0, next);
    members.emplace_back(std::move(name), std::string(body));
    in.remove_prefix(next == std::string_view::npos ? in.size() : next + 1);
  }
  return members;
}

std::string Pack(const std::vector<std::pair<std::string, std::string>>& members) {
  zip_error_t err;
  zip_error_init(&err);
  std::unique_ptr<zip_source_t, SourceFree> src(zip_source_buffer_create(nullptr, 0, 0, &err));
  zip_error_fini(&err);
  if (!src) return {};
  zip_source_keep(src.get());
  std::unique_ptr<zip_t, ZipDiscard> z(zip_open_from_source(src.get(), ZIP_TRUNCATE, nullptr));
  if (!z) return {};
  for (const auto& [name, data] : members) {
    zip_source_t* s = zip_source_buffer(z.get(), data.data(), data.size(), 0);
    if (!s) return {};
    if (zip_file_add(z.get(), name.c_str(), s, ZIP_FL_OVERWRITE) < 0) {
      zip_source_free(s);
      return {};
    }
    zip_set_file_compression(z.get(), zip_get_num_entries(z.get(), 0) - 1, ZIP_CM_STORE, 0);
  }
  if (zip_close(z.get()) != 0) return {};
  z.release();  // closed
  std::string bytes;
  if (zip_source_open(src.get()) != 0) return {};
  char buf[65536];
  for (zip_int64_t n; (n = zip_source_read(src.get(), buf, sizeof buf)) > 0;) {
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  zip_source_close(src.get());
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  qv::platform::ReaderLimits limits;
  limits.maxTextBytes = 64 * 1024;
  limits.maxDecompressedBytes = 1u << 20;
  limits.maxEntries = 64;
  limits.maxDepth = 64;
  qv::platform::DocumentText out;
  std::string packed;
  const std::string_view bytes = in.starts_with("PK") ? in : (packed = Pack(Members(in)));
  qv::platform::readers::ReadZipDocument(bytes, limits, out);
  std::size_t total = 0;
  for (const auto& chunk : out.chunks) total += chunk.size();
  if (total > limits.maxTextBytes) std::abort();
  return 0;
}
