#pragma once
// The ranking page of a file, without a window: the file's ranking record as the page shows
// it (first and last visit, visits, working and active time, search key), a remark about the
// file's attributes, and the deletion of the record (asked for with the button, done on
// apply). A Qt page binds its controls to RankPageView.
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "common/hresult.h"
#include "common/oledate.h"
#include "interfaces/ikiv_file_ranking.h"

namespace qv {
class LanguageModule;
}

namespace qv::rankpage {

// A duration of `seconds` as "1 h 2 min 5 s" with the module's unit texts, parts that are 0
// left out; 0 seconds is "0".
std::string DurationText(std::uint32_t seconds, const LanguageModule* texts);

// A date as the user's local short date ", " local time; an unset date (0.0) or one that is
// not a valid date is empty, never a day in 1899.
std::string LocalDateText(DATE d);
using DateFormatter = std::function<std::string(DATE)>;

// The page is for one file: anything but exactly one selected file gets no page
// (E_UNEXPECTED); an empty name is E_INVALIDARG.
HRESULT SelectedFile(std::span<const std::string> selection, std::string& file);

// What the attributes remark says: not indexed, read-only and encrypted in this order (with
// the warning icon), else the "kept with the file" text on a volume that keeps records.
struct FileRemark {
  std::string text;
  bool warning = false;
};
FileRemark FileRemarkOf(const std::string& file, const LanguageModule* texts);

struct RankPageView {
  std::string firstVisit, lastVisit, visits, workingTime, activeTime, searchKey;
  std::string status;
  bool hasRecord = false;
  bool deleteEnabled = true;
  bool successShown = false;  // the "done" mark beside the status line
  bool failureShown = false;  // the warning mark beside it
  FileRemark remark;
};

class RankPage {
 public:
  RankPage(IKivFileRanking& ranking, const LanguageModule* texts, std::string file,
           DateFormatter formatDate = LocalDateText);

  // Reads the record. A file without one gets a page saying so; any other failure of the
  // store is returned and no page is shown.
  HRESULT Load();
  // The delete button: empties the values and shows the record as deleted; the deletion
  // itself happens on Apply. Returns true when the page changed (the sheet enables Apply).
  bool RequestDelete();
  // Deletes the record if that was asked for. On failure the page shows why and stays
  // open; the record is left as it was.
  HRESULT Apply();

  const RankPageView& view() const { return view_; }
  const std::string& file() const { return file_; }
  bool deleteRequested() const { return deleteRequested_; }

 private:
  void ClearValues();
  void ShowSuccess();

  IKivFileRanking& ranking_;
  const LanguageModule* texts_;
  std::string file_;
  DateFormatter formatDate_;
  RankPageView view_;
  bool deleteRequested_ = false;
};

}  // namespace qv::rankpage
