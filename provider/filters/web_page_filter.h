#pragma once
// The web page shortcut filter (.q6w): the text of a visited page is the text of its cached
// copies, the page first and then every frame, each read by the filter registered for its
// content kind. A shortcut none of whose copies is left is stale: the ranking service is
// asked once to delete it. The shortcut's own title and URL reach the index as its property
// sets.
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "context/context.h"
#include "platform/indexing/filter.h"
#include "provider/urlmon/shortcut_file.h"

namespace qv::filters {

class KivFilter final : public platform::Filter, public platform::FilterPropertySets {
 public:
  explicit KivFilter(const Context& ctx) : ctx_(ctx) {}
  ~KivFilter() override;

  HRESULT Load(const std::filesystem::path& file) override;
  HRESULT Init(std::uint32_t initFlags, std::uint32_t& outFlags) override;
  HRESULT GetChunk(platform::StatChunk& chunk) override;
  HRESULT GetText(std::string& out, std::size_t maxBytes) override;
  HRESULT GetValue(platform::PropVariant& out) override;
  Guid GetClassID() const override;
  HRESULT ReadPropertySets(std::vector<platform::PropertySet>& out) override;

 private:
  struct Part {
    HRESULT status = S_OK;  // why there is no filter
    std::shared_ptr<platform::Filter> filter;
    std::filesystem::path tempCopy;  // deleted when the part goes
  };
  void ReleaseParts();
  HRESULT OpenPart(const urlmon::PagePart& part, const std::filesystem::path& cacheFolder,
                   std::uint32_t initFlags, Part& out);
  HRESULT MakeTempCopy(const urlmon::PagePart& part, const std::filesystem::path& copy,
                       std::filesystem::path& out) const;
  void ReportStale() const;

  const Context& ctx_;
  std::mutex mutex_;
  std::filesystem::path path_;
  bool loaded_ = false;
  urlmon::Shortcut shortcut_;
  std::vector<Part> parts_;
  std::size_t current_ = 0;         // the part GetChunk is in
  std::uint32_t idBase_ = 0;        // added to the current part's chunk ids
  std::uint32_t lastId_ = 0;        // the last id handed out
  bool stale_ = false;
  bool staleReported_ = false;
  bool readable_ = false;           // Init read the shortcut
};

}  // namespace qv::filters
