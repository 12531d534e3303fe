// Session scripts as files: any text is read or refused with a message, never more.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tracer/session_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::tracer::SessionScript script;
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qv::HRESULT hr = qv::tracer::ParseSessionScript(text, script, error);
  if (qv::Failed(hr) && (error.empty() || !script.steps.empty())) std::abort();
  std::int64_t last = 0;
  for (const auto& s : script.steps) {
    if (s.atMs < last || s.atMs > qv::tracer::kMaxScriptMs) std::abort();
    last = s.atMs;
  }
  return 0;
}
