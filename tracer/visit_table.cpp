#include "tracer/visit_table.h"

#include <mutex>

#include "context/event_report.h"
#include "common/utf.h"
#include "hooks/QvHooks/tracer_messages.h"
#include "tracer/item_string.h"
#include "tracer/tracer_constants.h"

namespace qv::tracer {

using platform::DesktopWindow;

namespace {
std::string_view ItemOrUnknown(std::string_view item) { return item.empty() ? "Unknown" : item; }
}  // namespace

void CreditVisible(Visit& visit, std::int64_t t, std::int64_t lastPass) {
  if (t > lastPass && visit.coverage != 0) {
    visit.workingTime += static_cast<std::uint64_t>(t - lastPass) / 100 * visit.coverage;
  }
}

VisitTable::VisitTable(VisitTableDeps deps) : deps_(std::move(deps)) {
  lastPass = MonoNow();
}

VisitTable::~VisitTable() = default;

std::int64_t VisitTable::MonoNow() const {
  return static_cast<std::int64_t>(deps_.ctx.clock.Monotonic().count() / 100);
}

std::optional<std::size_t> VisitTable::IndexLocked(DesktopWindow window) const {
  for (std::size_t i = 0; i < visits_.size(); ++i) {
    if (visits_[i]->window == window) return i;
  }
  return std::nullopt;
}

VisitPtr VisitTable::TakeLocked(std::size_t i) {
  VisitPtr v = std::move(visits_[i]);
  visits_.erase(visits_.begin() + static_cast<std::ptrdiff_t>(i));
  size_ = visits_.size();
  // Its input since the last pass, then its visible share up to now without that input time,
  // as the next pass would have credited both.
  const std::uint64_t input = deps_.takeInput(*v);
  v->workingTime += input;
  v->activeTime += input;
  CreditVisible(*v, MonoNow() - static_cast<std::int64_t>(input), lastPass.load());
  v->coverage = 0;
  return v;
}

HRESULT VisitTable::Open(DesktopWindow window, std::int32_t kind, std::uint32_t documentKey,
                         std::string_view item, std::uint32_t flags,
                         std::string_view frameData) {
  auto fail = [&](HRESULT hr) {
    ReportItemWarning(deps_.ctx, kCategoryTracer, kEvVisitStart, ItemOrUnknown(item), hr);
    return hr;
  };
  if (!deps_.desktop.IsWindow(window) || item.empty() ||
      (flags & hooks::kVisitTrackingMask) == 0) {
    return fail(E_INVALIDARG);
  }
  std::string identifier;
  if (HRESULT hr = ToIdentifier(item, identifier); Failed(hr)) return fail(hr);
  if (IsNoHistoryUrl(identifier)) return S_FALSE;
  const std::uint32_t thread = deps_.desktop.WindowThread(window);

  // Decide with the table shared; only this thread changes the table, so the decision holds
  // when the table is taken exclusively below.
  enum class Action { Create, TakeOver, Replace, Ignore } action = Action::Create;
  Visit* existing = nullptr;
  {
    std::shared_lock lock(mutex_);
    for (auto& v : visits_) {
      if (v->threadId != thread) continue;
      const bool related = v->window == window || deps_.desktop.IsDescendant(v->window, window) ||
                           deps_.desktop.IsDescendant(window, v->window);
      if (related && SameIdentifier(v->identifier, identifier)) {
        action = v->kind >= kind ? Action::TakeOver : Action::Ignore;
        existing = v.get();
        break;
      }
      if (v->window != window) continue;
      existing = v.get();
      if (v->kind < kind) {
        action = Action::Ignore;  // reported beats detected, a browser pane beats a document
      } else if (v->kind == kKindDocument && kind == kKindDocument) {
        platform::WindowState state;
        const std::string title = deps_.desktop.GetWindow(window, state) ? state.title : "";
        action = deps_.scoreTitle(title, item) > deps_.scoreTitle(title, v->source)
                     ? Action::Replace
                     : Action::Ignore;
      } else {
        action = Action::Replace;
      }
      break;
    }
  }
  if (action == Action::Ignore) return S_FALSE;

  const FileTime now = deps_.ctx.clock.Now();
  if (action == Action::TakeOver) {
    std::unique_lock lock(mutex_);
    Visit& v = *existing;
    v.kind = kind;
    if (kind == kKindDocument && v.documentKey == 0) v.documentKey = documentKey;
    v.tracked = (flags & hooks::KIV_VF_TRACK) != 0;
    if (v.tracked) v.trackingStart = now;
    v.recordFlags = flags & hooks::kVisitRecordingMask;
    v.frameData.assign(frameData);
    v.window = window;
    lock.unlock();
    deps_.opened();
    return S_OK;
  }

  auto visit = std::make_unique<Visit>();
  visit->identifier = std::move(identifier);
  visit->source.assign(item);
  visit->threadId = thread;
  visit->start = visit->trackingStart = now;
  visit->startMono = MonoNow();
  visit->kind = kind;
  visit->documentKey = documentKey;
  visit->window = window;
  visit->tracked = (flags & hooks::KIV_VF_TRACK) != 0;
  visit->recordFlags = flags & hooks::kVisitRecordingMask;
  visit->frameData.assign(frameData);
  if (visit->tracked) deps_.recorders.TakeSnapshot(*visit);

  VisitPtr replaced;
  {
    std::unique_lock lock(mutex_);
    if (action == Action::Replace) {
      for (std::size_t i = 0; i < visits_.size(); ++i) {
        if (visits_[i].get() == existing) {
          replaced = TakeLocked(i);
          break;
        }
      }
    }
    try {
      visits_.push_back(std::move(visit));
    } catch (const std::bad_alloc&) {
      lock.unlock();
      if (replaced) Finish(std::move(replaced));
      return fail(E_OUTOFMEMORY);
    }
    size_ = visits_.size();
  }
  if (replaced) Finish(std::move(replaced));
  deps_.opened();
  return S_OK;
}

void VisitTable::ApplyChange(Visit& v, const VisitChange& change) {
  if (!change.identifier.empty()) {
    // Converted as at open, so that a path ends up as the file URL the file recorder takes
    // rather than a string without a scheme that no recorder takes.
    std::string id;
    v.identifier = Succeeded(ToIdentifier(change.identifier, id)) ? id : change.identifier;
    v.source = change.identifier;
    if (!change.frameData.empty()) v.frameData = change.frameData;
  }
  if ((change.flags & hooks::kVisitTrackingMask) != 0) {
    v.tracked = (change.flags & hooks::KIV_VF_TRACK) != 0;
  }
  v.recordFlags = change.flags & hooks::kVisitRecordingMask;
}

HRESULT VisitTable::Close(DesktopWindow window, std::int32_t minKind,
                          const std::optional<VisitChange>& change) {
  VisitPtr v;
  {
    std::unique_lock lock(mutex_);
    const auto i = IndexLocked(window);
    if (!i || visits_[*i]->kind < minKind) return S_FALSE;
    v = TakeLocked(*i);
  }
  if (change) ApplyChange(*v, *change);
  const HRESULT hr = Finish(std::move(v));
  if (Failed(hr)) ReportItemWarning(deps_.ctx, kCategoryTracer, kEvVisitEnd, "Unknown", hr);
  return hr;
}

HRESULT VisitTable::Change(DesktopWindow window, const VisitChange& change) {
  std::unique_lock lock(mutex_);
  const auto i = IndexLocked(window);
  if (!i) return S_FALSE;
  ApplyChange(*visits_[*i], change);
  return S_OK;
}

HRESULT VisitTable::CloseMailVisits() {
  std::vector<VisitPtr> gone;
  {
    std::unique_lock lock(mutex_);
    for (std::size_t i = visits_.size(); i > 0; --i) {
      if (EqualsNoCase(ReadScheme(visits_[i - 1]->identifier), "outlook")) {
        gone.push_back(TakeLocked(i - 1));
      }
    }
  }
  for (auto it = gone.rbegin(); it != gone.rend(); ++it) Finish(std::move(*it));
  return S_OK;
}

HRESULT VisitTable::CloseAll(bool discard) {
  std::vector<VisitPtr> gone;
  {
    std::unique_lock lock(mutex_);
    while (!visits_.empty()) gone.push_back(TakeLocked(0));
  }
  if (!discard) {
    for (auto& v : gone) Finish(std::move(v));
  }
  return S_OK;
}

HRESULT VisitTable::Finish(VisitPtr visit) {
  visit->end = deps_.ctx.clock.Now();
  visit->endMono = MonoNow();
  const std::uint64_t units = visit->workingTime / kTicksPerUnit;
  const bool noRecording = visit->recordFlags == (hooks::KIV_VF_NORANK | hooks::KIV_VF_NOJOURNAL);
  if (units < kMinUnits || visit->endMono - visit->startMono < static_cast<std::int64_t>(kMinDuration) ||
      !visit->tracked || noRecording) {
    return S_FALSE;
  }
  const auto kind = ChooseRecorder(*visit);
  if (!kind) return S_FALSE;
  const std::string identifier = visit->identifier;
  const HRESULT hr = deps_.recorders.Queue(*kind, std::move(visit));
  if (Failed(hr)) {
    ReportItemWarning(deps_.ctx, kCategoryTracer, kEvVisitQueue, ItemOrUnknown(identifier), hr);
  }
  return hr;
}

std::optional<VisitTable::KeyInfo> VisitTable::Find(DesktopWindow window) const {
  std::shared_lock lock(mutex_);
  const auto i = IndexLocked(window);
  if (!i) return std::nullopt;
  return KeyInfo{visits_[*i]->kind, visits_[*i]->documentKey, visits_[*i]->source};
}

std::vector<Visit> VisitTable::Snapshot() const {
  // Exclusive: the accounting pass writes the visits' times with the table held shared.
  std::unique_lock lock(mutex_);
  std::vector<Visit> out;
  for (const auto& v : visits_) out.push_back(*v);
  return out;
}

}  // namespace qv::tracer
