// The journal entry filter over an arbitrary day file: the first 16 bytes name the entry (the
// marker's GUID), the rest is the day's data file. The filter must fail cleanly or yield a
// well-formed document.
#include <cstdint>
#include <fstream>
#include <span>

#include "fuzz/filter_fuzz_tools.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_registration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  static TestContext tc;
  static const bool registered = Succeeded(filters::RegisterIndexingFilters(tc.ctx()));
  if (!registered || size < 16) return 0;
  const Guid entry = GuidFromBytes(std::span<const std::uint8_t, 16>(data, 16));
  const auto day = tc.root() / "LocalAppData" / "Quillon" / "Journal" / "2026" / "1" / "2";
  std::filesystem::create_directories(day);
  std::ofstream(day / "Journal.q6d", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + 16), static_cast<std::streamsize>(size - 16));
  const auto marker = day / (FormatGuid(entry) + ".q6j");
  std::ofstream(marker).close();
  std::shared_ptr<platform::Filter> f;
  filters::fuzz::Check(Succeeded(tc.classes().CreateInstance(filters::CLSID_JournalIFilter, f)));
  f->Load(marker);
  filters::fuzz::DrainChecked(*f);
  std::filesystem::remove(marker);
  return 0;
}
