#include "shell/rank_page/rank_page_model.h"

#include <ctime>

#include "platform/fs/file_attributes.h"
#include "shell/settings/shell_texts.h"

namespace qv::rankpage {

using settings::ShellText;

std::string DurationText(std::uint32_t seconds, const LanguageModule* texts) {
  if (seconds == 0) return "0";
  std::string out;
  auto part = [&](std::uint32_t n, std::uint32_t unit) {
    if (n == 0) return;
    out += ' ';
    out += std::to_string(n);
    out += ' ';
    out += ShellText(texts, unit);
  };
  part(seconds / 3600, settings::kTextHours);
  part(seconds % 3600 / 60, settings::kTextMinutes);
  part(seconds % 60, settings::kTextSeconds);
  return out.substr(1);
}

std::string LocalDateText(DATE d) {
  if (d == kDateNotSet || !IsValidDate(d)) return {};
  const double unixSeconds = DateToUnixSeconds(d);
  const auto t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return {};
  char buf[128];
  const std::size_t n = std::strftime(buf, sizeof buf, "%x, %X", &tm);
  return std::string(buf, n);
}

HRESULT SelectedFile(std::span<const std::string> selection, std::string& file) {
  if (selection.size() != 1) return E_UNEXPECTED;
  if (selection[0].empty()) return E_INVALIDARG;
  file = selection[0];
  return S_OK;
}

FileRemark FileRemarkOf(const std::string& file, const LanguageModule* texts) {
  FileRemark remark;
  platform::FileAttributes attrs;
  if (Failed(platform::GetFileAttributes(file, attrs))) return remark;
  auto add = [&](std::uint32_t id) {
    if (!remark.text.empty()) remark.text += ' ';
    remark.text += ShellText(texts, id);
    remark.warning = true;
  };
  if (attrs.notContentIndexed) add(settings::kTextNotIndexed);
  if (attrs.readOnly) add(settings::kTextReadOnly);
  if (attrs.encrypted) add(settings::kTextEncrypted);
  if (!remark.warning) {
    platform::VolumeInfo volume;
    if (Succeeded(platform::GetVolumeInfo(file, volume)) &&
        volume.type == platform::DriveType::Fixed && volume.persistentAcls) {
      remark.text = ShellText(texts, settings::kTextKeptWithFile);
    }
  }
  return remark;
}

RankPage::RankPage(IKivFileRanking& ranking, const LanguageModule* texts, std::string file,
                   DateFormatter formatDate)
    : ranking_(ranking), texts_(texts), file_(std::move(file)), formatDate_(std::move(formatDate)) {}

void RankPage::ClearValues() {
  view_.firstVisit.clear();
  view_.lastVisit.clear();
  view_.visits.clear();
  view_.workingTime.clear();
  view_.activeTime.clear();
  view_.searchKey.clear();
}

HRESULT RankPage::Load() {
  VARIANT_BOOL valid = VARIANT_FALSE;
  std::string key;
  ULONG working = 0, active = 0, visits = 0, scale = 0;
  DATE first = 0, last = 0;
  float activation = 0;
  const HRESULT hr = ranking_.GetStatistics(&file_, &valid, &key, &working, &active, &visits,
                                            &first, &last, &activation, &scale);
  // A file that was never ranked has no record at all: that is what the page is there to
  // say, not a reason to show no page.
  if (Failed(hr) && hr != STG_E_FILENOTFOUND) return hr;
  if (hr == STG_E_FILENOTFOUND) {
    platform::FileAttributes attrs;  // the store says the same of a file that is gone
    if (const HRESULT statHr = platform::GetFileAttributes(file_, attrs); Failed(statHr)) {
      return statHr;
    }
  }
  view_ = RankPageView{};
  view_.remark = FileRemarkOf(file_, texts_);
  if (Succeeded(hr) && valid == VARIANT_TRUE) {
    view_.hasRecord = true;
    view_.firstVisit = formatDate_(first);
    view_.lastVisit = formatDate_(last);
    view_.visits = std::to_string(visits);
    view_.workingTime = DurationText(working, texts_);
    view_.activeTime = DurationText(active, texts_);
    view_.searchKey = key;
    view_.status = ShellText(texts_, settings::kTextRecordShown);
  } else {
    view_.status = ShellText(texts_, settings::kTextNoRecord);
  }
  return S_OK;
}

void RankPage::ShowSuccess() {
  view_.status = ShellText(texts_, settings::kTextRecordDeleted);
  view_.successShown = true;
  view_.failureShown = false;
}

bool RankPage::RequestDelete() {
  if (!view_.deleteEnabled) return false;
  view_.deleteEnabled = false;
  ClearValues();
  ShowSuccess();
  deleteRequested_ = true;
  return true;
}

HRESULT RankPage::Apply() {
  if (!deleteRequested_) return S_OK;
  const HRESULT hr = ranking_.DeleteRank(&file_);
  if (Succeeded(hr)) {
    deleteRequested_ = false;
    view_.hasRecord = false;
    ShowSuccess();
    return S_OK;
  }
  if ((static_cast<std::uint32_t>(hr) & 0xFFFFu) == win32::ERROR_ACCESS_DENIED) {
    view_.status = ShellText(texts_, settings::kTextDeleteDenied);
  } else {
    view_.status = ShellText(texts_, settings::kTextDeleteFailed);
    const std::string message = SystemMessage(hr);
    view_.status += message.empty() ? FormatHresult(hr) : message;
  }
  view_.failureShown = true;
  view_.successShown = false;
  // The request stays: applying again (after mending the cause) tries once more.
  return hr;
}

}  // namespace qv::rankpage
