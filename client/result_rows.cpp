#include "client/result_rows.h"

#include <algorithm>
#include <cstdio>

#include "context/registry_values.h"
#include "common/utf.h"

namespace qv::client {
namespace {

const Value& FieldOf(const Row& row, std::size_t f) {
  static const Value kNull;
  return f < row.size() ? row[f] : kNull;
}

bool IsInteger(const Value& v) {
  return v.kind == ValueKind::I4 || v.kind == ValueKind::UI4 || v.kind == ValueKind::I8;
}
bool IsDate(const Value& v) { return v.kind == ValueKind::Date; }

bool HasScope(const Row& row, std::uint32_t userScope) {
  const Value& s = FieldOf(row, kFieldScope);
  return IsInteger(s) && static_cast<std::uint32_t>(s.i) == userScope;
}

std::string_view Text(const Row& row, std::size_t f) {
  const Value& v = FieldOf(row, f);
  return v.kind == ValueKind::Str ? std::string_view(v.s) : std::string_view();
}

std::string_view FileNameOf(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view ExtensionOf(std::string_view path) {
  const auto name = FileNameOf(path);
  const auto dot = name.find_last_of('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

}  // namespace

std::uint32_t ReadPartialMatch(const platform::Registry& reg) {
  return 10 * ReadDword(reg, platform::Hive::CurrentUser, kVesperKey, kPartialMatchValue,
                        kDefaultPartialMatch, 0, 100);
}

namespace {
float RankWeight(const Value& rank, std::uint32_t partialMatch) {
  if (rank.kind != ValueKind::I4 && rank.kind != ValueKind::UI4) return 0.0f;
  return static_cast<float>(static_cast<std::uint32_t>(rank.i)) + static_cast<float>(partialMatch);
}
}  // namespace

float UnvisitedScore(const Value& rank, std::uint32_t partialMatch) {
  const float weight = RankWeight(rank, partialMatch);
  return weight != 0.0f ? kNoActivation * weight : kNoActivation;
}

float ScoreRow(const Row& row, std::uint32_t userScope, std::uint32_t partialMatch,
               IBaseActivation& activation) {
  const float weight = RankWeight(FieldOf(row, kFieldRank), partialMatch);
  float a = kNoActivation;
  if (!FieldOf(row, kFieldLvE).IsNull() && HasScope(row, userScope) &&
      IsDate(FieldOf(row, kFieldLvE)) && IsDate(FieldOf(row, kFieldBvE)) &&
      IsInteger(FieldOf(row, kFieldLvT)) && IsInteger(FieldOf(row, kFieldLvN)) &&
      IsInteger(FieldOf(row, kFieldBvT)) && IsInteger(FieldOf(row, kFieldBvN))) {
    auto u = [&](std::size_t f) { return static_cast<ULONG>(FieldOf(row, f).i); };
    float current = 0.0f;
    const HRESULT hr = activation.GetCurrentActivation(
        FieldOf(row, kFieldLvE).d, u(kFieldLvN), u(kFieldLvT), FieldOf(row, kFieldBvE).d,
        u(kFieldBvN), u(kFieldBvT), &current);
    if (Succeeded(hr) && current >= 0.01f) a = current;
  }
  return weight != 0.0f ? a * weight : a;
}

void SortScores(std::vector<ScoreEntry>& scores) {
  // Ties keep the catalog's order, so the same rows always come out the same way.
  std::stable_sort(scores.begin(), scores.end(),
                   [](const ScoreEntry& a, const ScoreEntry& b) { return a.score > b.score; });
}

std::vector<ScoreEntry> ScoreRows(const ResultSet& rows, std::uint32_t userScope,
                                  std::uint32_t partialMatch, IBaseActivation& activation,
                                  const std::function<bool(std::size_t)>& cancelled) {
  std::vector<ScoreEntry> scores;
  scores.reserve(rows.RowCount());
  // Only the fields a score reads are fetched: the rest of a row is read when it is shown.
  static constexpr std::size_t kScoreFields[] = {kFieldRank, kFieldScope, kFieldLvE, kFieldLvT,
                                                 kFieldLvN,  kFieldBvE,   kFieldBvT, kFieldBvN};
  Row fields(kFieldBvN + 1);
  for (std::size_t i = 0; i < rows.RowCount();) {
    if (cancelled && cancelled(scores.size())) break;
    const std::size_t end = std::min(rows.RowCount(), i + kScoreBatch);
    for (; i < end; ++i) {
      for (std::size_t f : kScoreFields) fields[f] = rows.Field(i, f);
      scores.push_back({ScoreRow(fields, userScope, partialMatch, activation),
                        static_cast<std::int32_t>(i + 1)});
    }
  }
  SortScores(scores);
  return scores;
}

std::size_t RecordIndexOf(const std::vector<ScoreEntry>& scores, std::size_t display) {
  if (display < scores.size()) return static_cast<std::size_t>(scores[display].position - 1);
  return display;
}

void ActivationOrder::Start(const ResultSet& rows, std::uint32_t userScope,
                            std::uint32_t partialMatch, IBaseActivation& activation,
                            const std::function<bool(std::size_t)>& cancelled) {
  *this = ActivationOrder{};
  userScope_ = userScope;
  partialMatch_ = partialMatch;
  activation_ = &activation;
  static constexpr std::size_t kScoreFields[] = {kFieldRank, kFieldScope, kFieldLvE, kFieldLvT,
                                                 kFieldLvN,  kFieldBvE,   kFieldBvT, kFieldBvN};
  Row fields(kFieldBvN + 1);
  const std::size_t n = rows.RowCount();
  std::size_t i = 0;
  bool stopped = false;
  while (i < n && !stopped) {
    if (cancelled && cancelled(visited_.size())) {
      stopped = true;
      break;
    }
    const std::size_t end = std::min(n, i + kScoreBatch);
    for (; i < end; ++i) {
      fields[kFieldLvE] = rows.Field(i, kFieldLvE);
      if (fields[kFieldLvE].IsNull()) break;
      for (std::size_t f : kScoreFields) {
        if (f != kFieldLvE) fields[f] = rows.Field(i, f);
      }
      visited_.push_back({ScoreRow(fields, userScope, partialMatch, activation),
                          static_cast<std::int32_t>(i + 1)});
    }
    if (i < end) break;  // the first row without a last visit
  }
  SortScores(visited_);
  if (stopped) {
    // As when every row is scored: the rows scored so far in score order, then the rest in
    // catalog order.
    merged_ = std::move(visited_);
    visited_.clear();
    nextVisited_ = 0;
    count_ = merged_.size();
    return;
  }
  firstUnvisited_ = nextUnvisited_ = i;
  count_ = n;
}

void ActivationOrder::ScoreRest(const ResultSet& rows) const {
  // The rows shown so far keep their places; every other row is scored and follows in
  // score order.
  std::vector<bool> placed(rows.RowCount(), false);
  for (const ScoreEntry& e : merged_) placed[static_cast<std::size_t>(e.position - 1)] = true;
  static constexpr std::size_t kScoreFields[] = {kFieldRank, kFieldScope, kFieldLvE, kFieldLvT,
                                                 kFieldLvN,  kFieldBvE,   kFieldBvT, kFieldBvN};
  Row fields(kFieldBvN + 1);
  std::vector<ScoreEntry> rest;
  for (std::size_t i = 0; i < rows.RowCount(); ++i) {
    if (placed[i]) continue;
    for (std::size_t f : kScoreFields) fields[f] = rows.Field(i, f);
    rest.push_back({ScoreRow(fields, userScope_, partialMatch_, *activation_),
                    static_cast<std::int32_t>(i + 1)});
  }
  SortScores(rest);
  merged_.insert(merged_.end(), rest.begin(), rest.end());
  nextVisited_ = visited_.size();
  nextUnvisited_ = rows.RowCount();
}

void ActivationOrder::Extend(const ResultSet& rows, std::size_t display) const {
  const std::size_t n = rows.RowCount();
  while (merged_.size() <= display && merged_.size() < count_) {
    const bool visitedLeft = nextVisited_ < visited_.size();
    if (nextUnvisited_ >= n) {
      if (!visitedLeft) break;
      merged_.push_back(visited_[nextVisited_++]);
      continue;
    }
    const std::size_t at = nextUnvisited_;
    const float score = UnvisitedScore(rows.Field(at, kFieldRank), partialMatch_);
    // A row with a last visit among the others, or one that scores above the row before
    // it: the catalog order is not the one this merge relies on.
    const bool inOrder = rows.Field(at, kFieldLvE).IsNull() &&
                         (at == firstUnvisited_ || score <= lastUnvisited_);
    if (!inOrder) {
      ScoreRest(rows);
      return;
    }
    // Equal scores: the visited row comes first in the record set.
    if (visitedLeft && visited_[nextVisited_].score >= score) {
      merged_.push_back(visited_[nextVisited_++]);
    } else {
      merged_.push_back({score, static_cast<std::int32_t>(at + 1)});
      lastUnvisited_ = score;
      ++nextUnvisited_;
    }
  }
}

std::size_t ActivationOrder::RecordIndex(const ResultSet& rows, std::size_t display) const {
  if (display >= count_) return display;
  Extend(rows, display);
  return RecordIndexOf(merged_, display);
}

float ActivationOrder::Score(const ResultSet& rows, std::size_t display) const {
  if (display >= count_) return 0.0f;
  Extend(rows, display);
  return display < merged_.size() ? merged_[display].score : 0.0f;
}

int BarPercent(float score, IBaseActivation* activation) {
  if (score == 0.0f) return -1;
  ULONG scale = 0;  // left alone for small activations
  if (!activation || Failed(activation->GetActivationScale(score, &scale))) return 0;
  return static_cast<int>(scale * 8 / 10);
}

RowState LoadRowState(const Row& row, float score, std::uint32_t userScope,
                      IBaseActivation* activation) {
  RowState s;
  s.path = std::string(Text(row, kFieldPath));
  const Value& attrib = FieldOf(row, kFieldAttrib);
  s.isFolder = IsInteger(attrib) && (static_cast<std::uint32_t>(attrib.i) & kAttribDirectory);
  s.hasRanking = HasScope(row, userScope);
  const std::string ext = AsciiLower(ExtensionOf(s.path));
  if (ext == ".q6w") {
    s.kind = ItemKind::WebPage;
  } else if (ext == ".q6e") {
    const auto cls = Text(row, kFieldEmlMsgClass);
    s.kind = EqualsNoCase(cls, "IPM.Appointment") ? ItemKind::Appointment
             : EqualsNoCase(cls, "IPM.Contact")   ? ItemKind::Contact
             : EqualsNoCase(cls, "IPM.Task")      ? ItemKind::Task
                                                  : ItemKind::Mail;
  } else if (!s.isFolder) {
    if (ext == ".lnk") s.link = LinkKind::Shortcut;
    if (ext == ".url") s.link = LinkKind::InternetShortcut;
  }
  s.score = score;
  s.bar = BarPercent(score, activation);
  return s;
}

std::string DurationText(std::uint32_t seconds, const DurationLabels& labels) {
  const std::uint32_t h = seconds / 3600, m = seconds % 3600 / 60, r = seconds % 60;
  std::string out;
  auto part = [&](std::uint32_t n, const std::string& label) {
    out += std::to_string(n) + " " + label + " ";
  };
  if (h > 0) part(h, labels.hours);
  if (m > 0) part(m, labels.minutes);
  if (out.empty() || (h == 0 && m < 5 && r > 0)) part(r, labels.seconds);
  out.pop_back();
  return out;
}

std::string LocalDateTimeText(DATE utc, const DateLocale& dates) {
  const auto local = dates.UtcToLocal(utc);
  if (!local) return {};
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", local->hour, local->minute, local->second);
  return dates.FormatShortDate(local->year, local->month, local->day) + " " + time;
}

std::string CellText(const Row& row, const RowState& state, int column, const CellTexts& texts) {
  switch (column) {
    case 0:
      if (state.kind == ItemKind::WebPage) return std::string(Text(row, kFieldDocTitle));
      if (state.kind != ItemKind::File) {
        return std::string(Text(row, kFieldEmlPrefix)) + std::string(Text(row, kFieldEmlSubject));
      }
      if (state.link != LinkKind::None) {
        if (auto title = Text(row, kFieldDocTitle); !title.empty()) return std::string(title);
        const auto name = FileNameOf(state.path);
        return std::string(name.substr(0, name.size() - ExtensionOf(name).size()));
      }
      return std::string(FileNameOf(state.path));
    case 1:
      if (state.kind == ItemKind::WebPage) return std::string(Text(row, kFieldUrl));
      if (state.kind != ItemKind::File) {
        const Value& flags = FieldOf(row, kFieldEmlMsgFlags);
        std::string out;
        if (IsInteger(flags) && (static_cast<std::uint32_t>(flags.i) & kMsgFlagSentByUser)) {
          out = texts.recipientLabel;
        }
        return out + std::string(Text(row, kFieldEmlAddress));
      }
      return state.path.substr(0, state.path.size() - FileNameOf(state.path).size());
    case 3: {
      const Value& w = FieldOf(row, kFieldWrite);
      if (!IsDate(w) || !texts.dates) return {};
      return LocalDateTimeText(w.d, *texts.dates);
    }
    case 4: {
      const Value& w = FieldOf(row, kFieldWorkingTime);
      if (!state.hasRanking || !IsInteger(w)) return {};
      return DurationText(static_cast<std::uint32_t>(w.i), texts.durations);
    }
    case 5: {
      const Value& v = FieldOf(row, kFieldVisits);
      if (!state.hasRanking || !IsInteger(v)) return {};
      return std::to_string(static_cast<std::int32_t>(v.i));
    }
    default: return {};
  }
}

}  // namespace qv::client
