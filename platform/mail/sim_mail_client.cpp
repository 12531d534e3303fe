#include "platform/mail/sim_mail_client.h"

#include <algorithm>

#include "platform/mail/maildir_store.h"

namespace qv::platform::mail {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kFrameClass = "rctrl_renwnd32";
constexpr std::string_view kFolderListClass = "SUPERGRID";
constexpr std::string_view kPaneClass = "#32770";
constexpr std::string_view kBrowserClass = "Internet Explorer_Server";
constexpr std::int32_t kCascadeStep = 30;
// A waiting PumpUntil looks at its condition at least this often, for conditions that another
// thread changes without calling Wake.
constexpr auto kWaitSlice = 20ms;

ClientWindowInfo InfoOf(const std::string& caption, const Rect& r) {
  return ClientWindowInfo{caption, r.left, r.top, static_cast<std::int32_t>(r.Width()),
                          static_cast<std::int32_t>(r.Height())};
}

std::string SubjectOf(const Message& m) {
  return m.subjectPrefix.value_or("") + m.normalizedSubject.value_or("");
}

std::string InspectorCaption(const Message& m) {
  const std::string subject = SubjectOf(m);
  return (subject.empty() ? std::string("Untitled") : subject) + " - Message";
}

}  // namespace

SimMailClient::SimMailClient(SimDesktop& desktop, Clock& clock, Options options)
    : desktop_(desktop),
      clock_(clock),
      virtualClock_(dynamic_cast<ManualClock*>(&clock)),
      options_(options) {}

SimMailClient::~SimMailClient() {
  // Windows go with the client; no events fire from a destructor.
  for (auto& i : inspectors_) desktop_.DestroyWindow(i->window_);
  for (auto& e : explorers_) desktop_.DestroyWindow(e->window_);
}

std::vector<MessageStore*> SimMailClient::Stores() const {
  std::vector<MessageStore*> out;
  for (const auto& s : stores_) out.push_back(s.get());
  return out;
}

void SimMailClient::Connect(ClientEvents events) { events_ = std::move(events); }

HRESULT SimMailClient::OpenStore(const std::filesystem::path& root, std::string displayName,
                                 MessageStore** out) {
  std::unique_ptr<MaildirStore> store;
  if (const HRESULT hr = MaildirStore::Open(root, std::move(displayName), clock_, store);
      Failed(hr))
    return hr;
  MessageStore* added = AddStore(std::move(store));
  if (out) *out = added;
  return S_OK;
}

MessageStore* SimMailClient::AddStore(std::unique_ptr<MessageStore> store) {
  stores_.push_back(std::move(store));
  return stores_.back().get();
}

DesktopWindow SimMailClient::CreateFrame(const std::string& caption, Rect rect,
                                         DesktopWindow& pane) {
  WindowState frame;
  frame.className = std::string(kFrameClass);
  frame.title = caption;
  frame.style = WS_CAPTION;
  frame.rect = rect;
  frame.threadId = options_.threadId;
  frame.pid = options_.pid;
  const DesktopWindow top = desktop_.CreateWindow(frame);
  if (top == 0) return 0;
  const std::int32_t split = rect.left + static_cast<std::int32_t>(rect.Width() / 3);
  WindowState list = frame;
  list.parent = top;
  list.className = std::string(kFolderListClass);
  list.title.clear();
  list.style = 0;
  list.rect = Rect{rect.left, rect.top + 30, split, rect.bottom};
  desktop_.CreateWindow(list);
  WindowState paneState = list;
  paneState.className = std::string(kPaneClass);
  paneState.rect = Rect{split, rect.top + 30, rect.right, rect.bottom};
  pane = desktop_.CreateWindow(paneState);
  WindowState browser = paneState;
  browser.parent = pane;
  browser.className = std::string(kBrowserClass);
  browser.rect = Rect{split + 4, rect.top + 80, rect.right - 4, rect.bottom - 4};
  desktop_.CreateWindow(browser);
  return top;
}

HRESULT SimMailClient::OpenExplorer(MessageStore& store, std::span<const std::uint8_t> folderId,
                                    SimExplorer** out) {
  if (out) *out = nullptr;
  if (quit_) return E_UNEXPECTED;
  std::vector<Folder> folders;
  if (const HRESULT hr = store.Folders(folders); Failed(hr)) return hr;
  const auto folder = std::find_if(folders.begin(), folders.end(), [&](const Folder& f) {
    return std::equal(f.id.begin(), f.id.end(), folderId.begin(), folderId.end());
  });
  if (folder == folders.end()) return MAPI_E_NOT_FOUND;
  auto explorer = std::make_unique<SimExplorer>();
  explorer->store_ = &store;
  explorer->folderId_ = folder->id;
  Rect rect = options_.explorerRect;
  const std::int32_t shift = kCascadeStep * static_cast<std::int32_t>(explorers_.size());
  rect = Rect{rect.left + shift, rect.top + shift, rect.right + shift, rect.bottom + shift};
  const std::string caption = folder->displayName + " - " + store.displayName();
  explorer->window_ = CreateFrame(caption, rect, explorer->pane_);
  if (explorer->window_ == 0) return E_FAIL;
  explorer->info_ = InfoOf(caption, rect);
  desktop_.SetForeground(explorer->window_);
  SimExplorer* e = explorer.get();
  explorers_.push_back(std::move(explorer));
  if (out) *out = e;
  if (auto f = events_.explorerOpened) f(*e);
  return S_OK;
}

HRESULT SimMailClient::Select(SimExplorer& explorer, const std::vector<EntryId>& entryIds) {
  if (quit_) return E_UNEXPECTED;
  explorer.selection_ = entryIds;
  if (auto f = events_.selectionChange) f(explorer);
  return S_OK;
}

HRESULT SimMailClient::ShowReadingPane(SimExplorer& explorer, bool visible) {
  if (quit_) return E_UNEXPECTED;
  explorer.paneVisible_ = visible;
  desktop_.Show(explorer.pane_, visible);
  if (auto f = events_.selectionChange) f(explorer);
  return S_OK;
}

HRESULT SimMailClient::CloseExplorer(SimExplorer& explorer) {
  if (quit_) return E_UNEXPECTED;
  const auto it = std::find_if(explorers_.begin(), explorers_.end(),
                               [&](const auto& e) { return e.get() == &explorer; });
  if (it == explorers_.end()) return E_INVALIDARG;
  if (auto f = events_.explorerClose) f(explorer);
  desktop_.DestroyWindow(explorer.window_);
  explorers_.erase(std::find_if(explorers_.begin(), explorers_.end(),
                                [&](const auto& e) { return e.get() == &explorer; }));
  return S_OK;
}

MessageStore* SimMailClient::StoreOf(std::span<const std::uint8_t> entryId) const {
  for (const auto& s : stores_) {
    const EntryId& prefix = s->storeEntryId();
    if (!prefix.empty() && entryId.size() > prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), entryId.begin()))
      return s.get();
  }
  // A store whose ids do not start with its own: ask each one.
  for (const auto& s : stores_) {
    Message m;
    if (Succeeded(s->OpenMessage(entryId, m))) return s.get();
  }
  return nullptr;
}

SimInspector* SimMailClient::AddInspector(MessageStore& store, Message item) {
  auto inspector = std::make_unique<SimInspector>();
  inspector->store_ = &store;
  const std::int32_t shift = kCascadeStep * (cascade_++ % 10);
  const Rect rect{200 + shift, 150 + shift, 1000 + shift, 850 + shift};
  const std::string caption = InspectorCaption(item);
  DesktopWindow pane = 0;
  inspector->window_ = CreateFrame(caption, rect, pane);
  if (inspector->window_ == 0) return nullptr;
  inspector->info_ = InfoOf(caption, rect);
  inspector->item_ = std::move(item);
  SimInspector* i = inspector.get();
  inspectors_.push_back(std::move(inspector));
  if (auto f = events_.inspectorOpened) f(*i);
  desktop_.SetForeground(i->window_);
  if (auto f = events_.inspectorActivate) f(*i);
  return i;
}

HRESULT SimMailClient::OpenInspector(std::span<const std::uint8_t> entryId, SimInspector** out) {
  if (out) *out = nullptr;
  if (quit_) return E_UNEXPECTED;
  MessageStore* store = StoreOf(entryId);
  if (store == nullptr) return MAPI_E_NOT_FOUND;
  Message item;
  if (const HRESULT hr = store->OpenMessage(entryId, item); Failed(hr)) return hr;
  SimInspector* i = AddInspector(*store, std::move(item));
  if (i == nullptr) return E_FAIL;
  if (out) *out = i;
  return S_OK;
}

HRESULT SimMailClient::OpenInspector(MessageStore& store, Message item, SimInspector** out) {
  if (out) *out = nullptr;
  if (quit_) return E_UNEXPECTED;
  item.entryId.clear();
  item.searchKey.clear();
  item.storeEntryId = store.storeEntryId();
  SimInspector* i = AddInspector(store, std::move(item));
  if (i == nullptr) return E_FAIL;
  if (out) *out = i;
  return S_OK;
}

HRESULT SimMailClient::ActivateInspector(SimInspector& inspector) {
  if (quit_) return E_UNEXPECTED;
  desktop_.SetForeground(inspector.window_);
  if (auto f = events_.inspectorActivate) f(inspector);
  return S_OK;
}

HRESULT SimMailClient::SaveInspector(SimInspector& inspector, Message item) {
  if (quit_) return E_UNEXPECTED;
  // The inspector shows one item: the save goes to that item, wherever the caller's copy
  // came from.
  item.entryId = inspector.item_.entryId;
  if (item.folderId.empty()) item.folderId = inspector.item_.folderId;
  if (const HRESULT hr = inspector.store_->SaveMessage(item); Failed(hr)) return hr;
  inspector.item_ = std::move(item);
  const std::string caption = InspectorCaption(inspector.item_);
  if (caption != inspector.info_.caption) {
    desktop_.SetTitle(inspector.window_, caption);
    inspector.info_.caption = caption;
  }
  if (auto f = events_.itemWrite) f(inspector);
  return S_OK;
}

HRESULT SimMailClient::CloseInspector(SimInspector& inspector) {
  if (quit_) return E_UNEXPECTED;
  if (std::none_of(inspectors_.begin(), inspectors_.end(),
                   [&](const auto& i) { return i.get() == &inspector; }))
    return E_INVALIDARG;
  if (auto f = events_.inspectorClose) f(inspector);
  desktop_.DestroyWindow(inspector.window_);
  std::erase_if(inspectors_, [&](const auto& i) { return i.get() == &inspector; });
  return S_OK;
}

HRESULT SimMailClient::Quit() {
  if (quit_) return E_UNEXPECTED;
  if (auto f = events_.quit) f();
  while (!inspectors_.empty()) {
    if (const HRESULT hr = CloseInspector(*inspectors_.back()); Failed(hr)) return hr;
  }
  while (!explorers_.empty()) {
    if (const HRESULT hr = CloseExplorer(*explorers_.back()); Failed(hr)) return hr;
  }
  quit_ = true;
  return S_OK;
}

std::vector<SimExplorer*> SimMailClient::Explorers() const {
  std::vector<SimExplorer*> out;
  for (const auto& e : explorers_) out.push_back(e.get());
  return out;
}

std::vector<SimInspector*> SimMailClient::Inspectors() const {
  std::vector<SimInspector*> out;
  for (const auto& i : inspectors_) out.push_back(i.get());
  return out;
}

void SimMailClient::Post(std::function<void()> work) {
  {
    std::lock_guard lock(postMutex_);
    work_.push_back(std::move(work));
  }
  posted_.notify_all();
}

void SimMailClient::Wake() {
  {
    std::lock_guard lock(postMutex_);
    woken_ = true;
  }
  posted_.notify_all();
}

SimMailClient::TimerId SimMailClient::SetTimer(std::chrono::milliseconds delay,
                                               std::function<void()> callback) {
  TimerId id = nextTimer_++;
  if (nextTimer_ == 0) nextTimer_ = 1;
  timers_[id] = Timer{clock_.Monotonic() + std::max(delay, 0ms), std::move(callback)};
  return id;
}

bool SimMailClient::KillTimer(TimerId id) { return timers_.erase(id) > 0; }

std::optional<std::chrono::nanoseconds> SimMailClient::NextDue() const {
  std::optional<std::chrono::nanoseconds> next;
  for (const auto& [id, t] : timers_)
    if (!next || t.due < *next) next = t.due;
  return next;
}

bool SimMailClient::RunReady() {
  bool ran = false;
  std::deque<std::function<void()>> work;
  {
    std::lock_guard lock(postMutex_);
    work.swap(work_);
    woken_ = false;
  }
  for (auto& w : work) {
    w();
    ran = true;
  }
  // The timers due now, earliest first; a timer set by one of them waits for the next round.
  const auto now = clock_.Monotonic();
  std::vector<std::pair<std::chrono::nanoseconds, TimerId>> due;
  for (const auto& [id, t] : timers_)
    if (t.due <= now) due.emplace_back(t.due, id);
  std::sort(due.begin(), due.end());
  for (const auto& [when, id] : due) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) continue;  // killed by an earlier callback
    auto callback = std::move(it->second.callback);
    timers_.erase(it);
    callback();
    ran = true;
  }
  return ran;
}

void SimMailClient::RunFor(std::chrono::milliseconds duration) {
  const auto end = clock_.Monotonic() + duration;
  for (;;) {
    RunReady();
    const auto now = clock_.Monotonic();
    if (now >= end) return;
    const auto next = NextDue();
    const auto until = next && *next < end ? *next : end;
    if (virtualClock_) {
      virtualClock_->Advance(std::chrono::ceil<std::chrono::milliseconds>(until - now));
    } else {
      std::unique_lock lock(postMutex_);
      posted_.wait_for(lock, until - now, [&] { return !work_.empty(); });
    }
  }
}

bool SimMailClient::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = clock_.Monotonic() + limit;
  const auto realStart = std::chrono::steady_clock::now();
  for (;;) {
    RunReady();
    if (done()) return true;
    const auto now = clock_.Monotonic();
    if (now >= deadline) return false;
    const auto next = NextDue();
    std::chrono::nanoseconds wait;
    if (virtualClock_) {
      if (next && *next <= deadline) {
        // Nothing to wait for in real time: jump to the timer.
        if (*next > now)
          virtualClock_->Advance(std::chrono::ceil<std::chrono::milliseconds>(*next - now));
        continue;
      }
      // Only another thread can make progress now: give it the limit in real time.
      const auto realLeft = limit - (std::chrono::steady_clock::now() - realStart);
      if (realLeft <= 0ns) {
        virtualClock_->Advance(std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        RunReady();
        return done();
      }
      wait = realLeft;
    } else {
      wait = (next && *next < deadline ? *next : deadline) - now;
    }
    std::unique_lock lock(postMutex_);
    posted_.wait_for(lock, std::min<std::chrono::nanoseconds>(wait, kWaitSlice),
                     [&] { return !work_.empty() || woken_; });
  }
}

}  // namespace qv::platform::mail
