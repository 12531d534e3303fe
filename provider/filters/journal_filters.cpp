#include "provider/filters/journal_filters.h"

#include "provider/filters/filter_constants.h"
#include "provider/journal/journal.h"

namespace qv::filters {

using namespace platform;

HRESULT JournalIFilter::Load(const std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  path_ = file;
  loaded_ = true;
  return S_OK;
}

HRESULT JournalIFilter::Init(std::uint32_t, std::uint32_t& outFlags) {
  std::lock_guard lock(mutex_);
  outFlags = 0;
  doc_.Clear();
  if (!loaded_) return E_FAIL;
  doc_.SetLocale(kSystemDefaultLcid);
  std::shared_ptr<journal::IKivJournal> journal;
  if (Failed(ctx_.classes.CreateInstance(journal::CLSID_Journal, journal))) {
    return FILTER_E_ACCESS;
  }
  const std::string path = path_.string();
  std::string text, description;
  std::uint32_t pst = 0, attention = 0, duration = 0;
  const HRESULT hr =
      journal->GetSearchContents(path, &text, &pst, &attention, &duration, &description);
  if (Failed(hr)) return FILTER_E_ACCESS;
  if (hr != S_OK) return S_OK;  // not an entry marker: an empty document
  doc_.AddText(std::move(text));
  doc_.AddValue({kJournalPropSet, kPidJournalStore}, PropVariant::UI4(pst));
  doc_.AddValue({kJournalPropSet, kPidJournalAttention}, PropVariant::UI4(attention));
  doc_.AddValue({kJournalPropSet, kPidJournalDuration}, PropVariant::UI4(duration));
  if (!description.empty()) {
    doc_.AddValue({kJournalPropSet, kPidJournalDescription},
                  PropVariant::Lpwstr(std::move(description)));
  }
  return S_OK;
}

Guid JournalIFilter::GetClassID() const { return CLSID_JournalIFilter; }
Guid KivJournalDatIFilter::GetClassID() const { return CLSID_KivJournalDatIFilter; }

}  // namespace qv::filters
