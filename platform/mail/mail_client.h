#pragma once
// The mail client as its add-in sees it: the stores it has open, its explorers (a folder view
// with a selection and a reading pane) and inspectors (one item in its own window), and the
// events the add-in listens to. SimMailClient implements it for tests and the demo: its
// windows live on a SimDesktop, so the tracer sees them as it sees any other window.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/mail/mail_store.h"

namespace qv::platform::mail {

// Caption and rectangle, as the object model reports them; the add-in finds the window by them.
struct ClientWindowInfo {
  std::string caption;
  std::int32_t left = 0, top = 0, width = 0, height = 0;
};

class Explorer {
 public:
  virtual ~Explorer() = default;
  virtual ClientWindowInfo windowInfo() const = 0;
  virtual bool readingPaneVisible() const = 0;
  // The selected items' entry ids, first selected first; empty when nothing is selected.
  virtual HRESULT Selection(std::vector<EntryId>& out) const = 0;
  virtual MessageStore* store() const = 0;  // the store of the folder shown
};

class Inspector {
 public:
  virtual ~Inspector() = default;
  virtual ClientWindowInfo windowInfo() const = 0;
  // The item shown; its entry id is empty while a new item is unsaved.
  virtual HRESULT CurrentItem(Message& out) const = 0;
};

// What an add-in is told. Callbacks run on the client's main thread, one at a time.
struct ClientEvents {
  std::function<void(Explorer&)> explorerOpened;
  std::function<void(Explorer&)> selectionChange;
  std::function<void(Explorer&)> explorerClose;
  std::function<void(Inspector&)> inspectorOpened;
  std::function<void(Inspector&)> inspectorActivate;
  std::function<void(Inspector&)> itemWrite;  // the inspector's item was saved
  std::function<void(Inspector&)> inspectorClose;
  std::function<void()> quit;
};

class MailClient {
 public:
  virtual ~MailClient() = default;
  virtual std::vector<MessageStore*> Stores() const = 0;
  // One add-in at a time; replacing the events disconnects the previous one.
  virtual void Connect(ClientEvents events) = 0;
  // The client's own desktop, where its windows are found by caption and rectangle.
  virtual const Desktop& desktop() const = 0;
  // Runs queued work (timers, calls into the add-in's objects) on the client's main thread
  // until `done` holds or `limit` passes; false on time-out. The shutdown wait uses it.
  virtual bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) = 0;
};

}  // namespace qv::platform::mail
