#pragma once
// A scripted mail client for tests and the demo. Its explorers and inspectors are windows on
// a SimDesktop, laid out as the add-in looks for them:
//   explorer:  top-level "rctrl_renwnd32" window, caption "<folder> - <store>", holding a
//              folder list ("SUPERGRID") and the reading pane, a visible dialog-class
//              ("#32770") child that holds an "Internet Explorer_Server" window;
//   inspector: its own top-level "rctrl_renwnd32" window, caption "<subject> - Message"
//              ("Untitled - Message" while it has no subject), with the same pane inside.
// Script calls run the client's events at once, on the calling thread, which is the client's
// main thread:
//   OpenExplorer        explorerOpened
//   Select              selectionChange
//   ShowReadingPane     selectionChange (the add-in learns of the pane only through it)
//   OpenInspector       inspectorOpened, then the window comes to the front: inspectorActivate
//   ActivateInspector   inspectorActivate
//   SaveInspector       the item is saved to its store, then itemWrite
//   CloseInspector      inspectorClose, then the window goes
//   CloseExplorer       explorerClose, then the windows go
//   Quit                quit (windows still open), then every inspector and explorer closes
//                       as above, newest first; later script calls fail with E_UNEXPECTED.
// Work for the main thread (timers, calls posted from other threads) runs only inside
// PumpUntil or RunFor. With a ManualClock the client keeps virtual time: it moves the clock
// forward to the next timer instead of waiting, so tests never sleep.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "common/clock.h"
#include "platform/desktop/sim_desktop.h"
#include "platform/mail/mail_client.h"

namespace qv::platform::mail {

class SimExplorer;
class SimInspector;

class SimMailClient final : public MailClient {
 public:
  struct Options {
    std::int32_t pid = 4242;          // the process the windows belong to
    std::uint32_t threadId = 4243;    // their thread
    Rect explorerRect{100, 100, 1300, 900};
  };
  SimMailClient(SimDesktop& desktop, Clock& clock, Options options);
  SimMailClient(SimDesktop& desktop, Clock& clock) : SimMailClient(desktop, clock, Options{}) {}
  ~SimMailClient() override;
  SimMailClient(const SimMailClient&) = delete;
  SimMailClient& operator=(const SimMailClient&) = delete;

  // MailClient.
  std::vector<MessageStore*> Stores() const override;
  void Connect(ClientEvents events) override;
  const Desktop& desktop() const override { return desktop_; }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override;

  // Stores: one over a Maildir++ root, or any store the caller made.
  HRESULT OpenStore(const std::filesystem::path& root, std::string displayName,
                    MessageStore** out = nullptr);
  MessageStore* AddStore(std::unique_ptr<MessageStore> store);

  // The script. Explorers and inspectors are owned by the client; a pointer stays valid until
  // the window is closed.
  HRESULT OpenExplorer(MessageStore& store, std::span<const std::uint8_t> folderId,
                       SimExplorer** out);
  HRESULT Select(SimExplorer& explorer, const std::vector<EntryId>& entryIds);
  HRESULT ShowReadingPane(SimExplorer& explorer, bool visible);
  HRESULT CloseExplorer(SimExplorer& explorer);
  // Opens a saved item by its entry id (the store is the one that has it).
  HRESULT OpenInspector(std::span<const std::uint8_t> entryId, SimInspector** out);
  // Opens a new, unsaved item that will be saved in `store`, in the folder `item.folderId`.
  HRESULT OpenInspector(MessageStore& store, Message item, SimInspector** out);
  HRESULT ActivateInspector(SimInspector& inspector);
  // Saves the item (a new item gets its entry id) and fires itemWrite; on a failed save no
  // event fires and the error is returned.
  HRESULT SaveInspector(SimInspector& inspector, Message item);
  HRESULT CloseInspector(SimInspector& inspector);
  HRESULT Quit();
  bool quitted() const { return quit_; }
  std::vector<SimExplorer*> Explorers() const;
  std::vector<SimInspector*> Inspectors() const;

  // Main-thread work. Post may be called from any thread; timers are set and killed on the
  // main thread. A timer fires once (the add-in's timers are one-shot); 0 is never an id.
  using TimerId = std::uint32_t;
  void Post(std::function<void()> work);
  TimerId SetTimer(std::chrono::milliseconds delay, std::function<void()> callback);
  bool KillTimer(TimerId id);
  // Runs main-thread work while `duration` of the client's time passes (virtual time with a
  // ManualClock, so this returns at once; real time otherwise).
  void RunFor(std::chrono::milliseconds duration);
  // Wakes a PumpUntil that waits for a condition another thread changed.
  void Wake();

 private:
  struct Timer {
    std::chrono::nanoseconds due;
    std::function<void()> callback;
  };
  bool RunReady();
  std::optional<std::chrono::nanoseconds> NextDue() const;
  MessageStore* StoreOf(std::span<const std::uint8_t> entryId) const;
  DesktopWindow CreateFrame(const std::string& caption, Rect rect, DesktopWindow& pane);
  SimInspector* AddInspector(MessageStore& store, Message item);

  SimDesktop& desktop_;
  Clock& clock_;
  ManualClock* virtualClock_;  // set when the clock is a ManualClock
  Options options_;
  ClientEvents events_;
  std::vector<std::unique_ptr<MessageStore>> stores_;
  std::vector<std::unique_ptr<SimExplorer>> explorers_;
  std::vector<std::unique_ptr<SimInspector>> inspectors_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  bool quit_ = false;
  int cascade_ = 0;

  mutable std::mutex postMutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> work_;
  bool woken_ = false;
};

class SimExplorer final : public Explorer {
 public:
  ClientWindowInfo windowInfo() const override { return info_; }
  bool readingPaneVisible() const override { return paneVisible_; }
  HRESULT Selection(std::vector<EntryId>& out) const override {
    out = selection_;
    return S_OK;
  }
  MessageStore* store() const override { return store_; }
  DesktopWindow window() const { return window_; }
  DesktopWindow readingPane() const { return pane_; }
  const EntryId& folderId() const { return folderId_; }

 private:
  friend class SimMailClient;
  ClientWindowInfo info_;
  MessageStore* store_ = nullptr;
  EntryId folderId_;
  std::vector<EntryId> selection_;
  bool paneVisible_ = true;
  DesktopWindow window_ = 0;
  DesktopWindow pane_ = 0;
};

class SimInspector final : public Inspector {
 public:
  ClientWindowInfo windowInfo() const override { return info_; }
  HRESULT CurrentItem(Message& out) const override {
    out = item_;
    return S_OK;
  }
  DesktopWindow window() const { return window_; }
  MessageStore* store() const { return store_; }

 private:
  friend class SimMailClient;
  ClientWindowInfo info_;
  MessageStore* store_ = nullptr;
  Message item_;
  DesktopWindow window_ = 0;
};

}  // namespace qv::platform::mail
