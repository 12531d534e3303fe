// The web page shortcut filter over an arbitrary shortcut file. One page is in the URL cache,
// so parts that name it are filtered; copy paths that lead anywhere else must never be read.
#include <cstdint>
#include <fstream>

#include "fuzz/filter_fuzz_tools.h"
#include "interfaces/ikiv_listener.h"
#include "platform/indexing/builtin_filters.h"
#include "platform/urlcache/url_cache.h"
#include "provider/filters/filter_constants.h"
#include "provider/filters/filter_registration.h"

namespace {

// Stale shortcuts are reported here and forgotten.
class NullListener final : public qv::IKivListener {
 public:
  qv::HRESULT UpdatePending(const std::string*, qv::ULONG, qv::ULONG, qv::DATE, qv::DATE,
                            qv::ULONG, qv::ULONG, qv::ULONG, qv::ULONG,
                            const std::string*) override {
    return qv::S_OK;
  }
  qv::HRESULT CfgVerify(const std::string*, qv::VARIANT_BOOL) override { return qv::S_OK; }
  qv::HRESULT DeleteStale(const std::string*) override { return qv::S_OK; }
  qv::HRESULT OtlProfile(const std::string*, const std::string*, const std::string*) override {
    return qv::E_NOTIMPL;
  }
  qv::HRESULT OtlStopScope(const std::string*) override { return qv::E_NOTIMPL; }
};

bool SetUp(qv::TestContext& tc) {
  using namespace qv;
  platform::indexing::RegisterBuiltinFilterClasses(tc.classes());
  if (Failed(platform::indexing::RegisterBuiltinFilterExtensions(tc.registry()))) return false;
  if (Failed(filters::RegisterIndexingFilters(tc.ctx()))) return false;
  tc.classes().Register(CLSID_KivListener, "", "", [](std::shared_ptr<platform::ComObject>& o) {
    o = std::make_shared<NullListener>();
    return S_OK;
  });
  platform::UrlCache cache(tc.root(), tc.clock());
  std::filesystem::path copy;
  if (cache.CreateEntryFile("http://a/", "htm", copy) != 0) return false;
  std::ofstream(copy) << "<html><title>t</title><p>cached page</p></html>";
  return cache.CommitEntry("http://a/", copy, {}) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  static TestContext tc;
  static const bool ready = SetUp(tc);
  if (!ready) return 0;
  const auto file = tc.root() / "page.q6w";
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::shared_ptr<platform::Filter> f;
  filters::fuzz::Check(Succeeded(tc.classes().CreateInstance(filters::CLSID_KivFilter, f)));
  f->Load(file);
  filters::fuzz::DrainChecked(*f);
  if (auto* sets = dynamic_cast<platform::FilterPropertySets*>(f.get())) {
    std::vector<platform::PropertySet> found;
    sets->ReadPropertySets(found);
  }
  return 0;
}
