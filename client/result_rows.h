#pragma once
// The rows of a catalog query as the result list reads them: the fields by their place in
// the select list, each row's score at the current moment (activation times full-text rank
// weight), the order that scoring produces, and what each row shows.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/query_date.h"
#include "interfaces/ibase_activation.h"
#include "platform/indexing/query_executor.h"
#include "platform/registry/registry.h"

namespace qv::client {

using platform::indexing::ResultSet;
using platform::indexing::Value;
using platform::indexing::ValueKind;
using Row = std::vector<Value>;

// Places of the columns in the catalog query's select list.
enum Field : std::size_t {
  kFieldRank = 0,
  kFieldWrite = 1,
  kFieldAttrib = 2,
  kFieldPath = 3,
  kFieldFilename = 4,
  kFieldDocTitle = 5,
  kFieldScope = 6,
  kFieldLvE = 7,
  kFieldLvT = 8,
  kFieldLvN = 9,
  kFieldBvE = 10,
  kFieldBvT = 11,
  kFieldBvN = 12,
  kFieldWorkingTime = 13,
  kFieldActiveTime = 14,
  kFieldVisits = 15,
  kFieldUrl = 16,
  kFieldSearchKey = 17,
  kFieldEmlFolder = 18,
  kFieldEmlPrefix = 19,
  kFieldEmlSubject = 20,
  kFieldEmlAddress = 21,
  kFieldEmlMsgClass = 22,
  kFieldEmlMsgFlags = 23,
  kFieldCount = 24,
};

// The activation of a row without a usable ranking record by this user.
inline constexpr float kNoActivation = 0.005f;
inline constexpr std::uint32_t kAttribDirectory = 0x10;
inline constexpr std::uint32_t kMsgFlagSentByUser = 0x20;
// Rows scored between two looks at the cancel button.
inline constexpr std::size_t kScoreBatch = 20;

inline constexpr std::string_view kPartialMatchValue = "PartialMatch";
inline constexpr std::uint32_t kDefaultPartialMatch = 50;  // percent
// PartialMatch in the rank column's scale (0 to 1000): ten times the stored percentage.
std::uint32_t ReadPartialMatch(const platform::Registry& reg);

struct ScoreEntry {
  float score = 0.0f;
  std::int32_t position = 0;  // 1-based place in the record set
  friend bool operator==(const ScoreEntry&, const ScoreEntry&) = default;
};

// The score of one row: rank weight (rank + partialMatch, 0 without a rank) times the
// activation now (kNoActivation without a record of this user's scope, with fields of other
// types, or when the activation fails or is below 0.01); the bare activation when the weight
// is 0.
float ScoreRow(const Row& row, std::uint32_t userScope, std::uint32_t partialMatch,
               IBaseActivation& activation);

// Scores rows in record-set order, kScoreBatch at a time; `cancelled` is asked before each
// batch and stops the loop. The result is sorted by score, highest first; equal scores keep
// their record-set order.
std::vector<ScoreEntry> ScoreRows(const ResultSet& rows, std::uint32_t userScope,
                                  std::uint32_t partialMatch, IBaseActivation& activation,
                                  const std::function<bool(std::size_t scored)>& cancelled = {});
void SortScores(std::vector<ScoreEntry>& scores);

// The record-set index (0-based) that display row `display` shows: scored rows first in
// score order, then the unscored rest in catalog order.
std::size_t RecordIndexOf(const std::vector<ScoreEntry>& scores, std::size_t display);

// The score of a row without a last visit: kNoActivation times its rank weight.
float UnvisitedScore(const Value& rank, std::uint32_t partialMatch);

// Activation order worked out as the list is read. It relies on the catalog order the
// activation sort asks for (last visit descending, then rank descending): rows with a last
// visit come first, and only they need the activation arithmetic; the rest score
// UnvisitedScore, which their rank order already sorts, so they are merged in behind the
// scored rows as rows are asked for. The order is the one ScoreRows gives: by score, highest
// first, equal scores in record-set order. Should the rows not come as assumed, the rows
// shown so far stay and every other row is scored after all, in score order.
class ActivationOrder {
 public:
  // Scores the rows with a last visit, kScoreBatch at a time; `cancelled` as for ScoreRows.
  // `activation` is kept for the case above and must outlive this order.
  void Start(const ResultSet& rows, std::uint32_t userScope, std::uint32_t partialMatch,
             IBaseActivation& activation,
             const std::function<bool(std::size_t scored)>& cancelled = {});
  // How many display rows have a score: every row, unless scoring was cancelled.
  std::size_t size() const { return count_; }
  // The record-set index (0-based) and the score (0 without one) of display row `display`.
  std::size_t RecordIndex(const ResultSet& rows, std::size_t display) const;
  float Score(const ResultSet& rows, std::size_t display) const;

 private:
  void Extend(const ResultSet& rows, std::size_t display) const;
  void ScoreRest(const ResultSet& rows) const;

  std::size_t count_ = 0;
  std::uint32_t userScope_ = 0, partialMatch_ = 0;
  IBaseActivation* activation_ = nullptr;
  std::vector<ScoreEntry> visited_;  // the rows with a last visit, sorted
  std::size_t firstUnvisited_ = 0;   // record-set index
  // The order so far, and where the merge stands in each part.
  mutable std::vector<ScoreEntry> merged_;
  mutable std::size_t nextVisited_ = 0, nextUnvisited_ = 0;
  mutable float lastUnvisited_ = 0.0f;
};

enum class ItemKind : std::int32_t { File = 0, WebPage = 1, Mail = 2, Appointment = 3,
                                     Contact = 4, Task = 5 };
enum class LinkKind : std::int32_t { None = 0, Shortcut = 1, InternetShortcut = 2 };

struct RowState {
  ItemKind kind = ItemKind::File;
  std::string path;
  bool isFolder = false;
  bool hasRanking = false;  // the record belongs to this user
  LinkKind link = LinkKind::None;
  float score = 0.0f;
  int bar = -1;  // percent of the cell, -1 for no bar
};

// Builds the state of a row; `score` is its score entry's (0 for a row without one).
RowState LoadRowState(const Row& row, float score, std::uint32_t userScope,
                      IBaseActivation* activation);
// The bar of a score: -1 for 0; else the activation scale times 8 / 10 (0 when it fails).
int BarPercent(float score, IBaseActivation* activation);

struct DurationLabels {
  std::string hours = "h";
  std::string minutes = "min";
  std::string seconds = "s";
};
// "1 h 2 min", "2 min 5 s", "0 s": seconds only when nothing else was written, or when the
// time is under five minutes.
std::string DurationText(std::uint32_t seconds, const DurationLabels& labels);

struct CellTexts {
  const DateLocale* dates = nullptr;
  DurationLabels durations;
  std::string recipientLabel = "To: ";
};
// The text of column 0 (name), 1 (location), 3 (date), 4 (working time) or 5 (visits);
// column 2 is drawn, not written.
std::string CellText(const Row& row, const RowState& state, int column, const CellTexts& texts);

// A local date and time as the list writes it: short date, a blank, the time.
std::string LocalDateTimeText(DATE utc, const DateLocale& dates);

}  // namespace qv::client
