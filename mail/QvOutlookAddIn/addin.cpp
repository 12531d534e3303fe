#include "mail/QvOutlookAddIn/addin.h"

namespace qv::mail::addin {

using platform::mail::Explorer;
using platform::mail::Inspector;

VisitBinding BindVisitInterface(const platform::Registry& registry) {
  VisitBinding binding;
  std::filesystem::path path;
  if (Succeeded(VisitBinding::LibraryPath(registry, path))) (void)VisitBinding::Load(path, binding);
  return binding;
}

OutlookAddIn::OutlookAddIn(const Context& ctx, platform::mail::MailClient& client,
                           platform::WindowStation& station, platform::MessageLoop& loop,
                           VisitBinding visits, AddInOptions options)
    : ctx_(ctx),
      client_(client),
      station_(station),
      visits_(std::move(visits)),
      options_(std::move(options)),
      host_{ctx, visits_, client.desktop(), station, loop} {}

OutlookAddIn::~OutlookAddIn() { Disconnect(); }

void OutlookAddIn::Connect() {
  if (connected_) return;
  connected_ = true;
  platform::mail::ClientEvents events;
  events.explorerOpened = [this](Explorer& e) { ForExplorer(e); };
  events.selectionChange = [this](Explorer& e) { ForExplorer(e).OnSelectionChange(); };
  events.explorerClose = [this](Explorer& e) {
    if (auto it = explorers_.find(&e); it != explorers_.end()) {
      it->second->Disconnect();
      explorers_.erase(it);
    }
  };
  events.inspectorOpened = [this](Inspector& i) { ForInspector(i); };
  events.inspectorActivate = [this](Inspector& i) { ForInspector(i).OnActivate(); };
  events.itemWrite = [this](Inspector& i) { ForInspector(i).OnWriteItem(); };
  events.inspectorClose = [this](Inspector& i) {
    if (auto it = inspectors_.find(&i); it != inspectors_.end()) {
      it->second->OnClose();
      inspectors_.erase(it);
    }
  };
  events.quit = [this] { OnQuit(); };
  client_.Connect(std::move(events));
}

void OutlookAddIn::Disconnect() {
  // Inspectors and explorers end their visits as they go.
  inspectors_.clear();
  explorers_.clear();
  if (connected_) {
    connected_ = false;
    client_.Connect({});
  }
}

void OutlookAddIn::OnQuit() {
  const std::chrono::milliseconds timeout =
      options_.startStopTimeout.value_or(ReadStartStopTimeout(ctx_.registry));
  ShutdownHandshake handshake(station_, host_.loop, options_.sessionFolder, timeout);
  lastQuit_ = handshake.Run([this](const std::function<bool()>& done, std::chrono::milliseconds limit) {
    return client_.PumpUntil(done, limit);
  });
  // The tracer has closed the mail visits; what is left open ends with the disconnection.
  inspectors_.clear();
  explorers_.clear();
}

ExplorerVisits* OutlookAddIn::explorer(const Explorer& e) {
  auto it = explorers_.find(&e);
  return it == explorers_.end() ? nullptr : it->second.get();
}

InspectorVisits* OutlookAddIn::inspector(const Inspector& i) {
  auto it = inspectors_.find(&i);
  return it == inspectors_.end() ? nullptr : it->second.get();
}

ExplorerVisits& OutlookAddIn::ForExplorer(Explorer& e) {
  auto& slot = explorers_[&e];
  if (!slot) slot = std::make_unique<ExplorerVisits>(host_, e);
  return *slot;
}

InspectorVisits& OutlookAddIn::ForInspector(Inspector& i) {
  auto& slot = inspectors_[&i];
  if (!slot) slot = std::make_unique<InspectorVisits>(host_, i);
  return *slot;
}

}  // namespace qv::mail::addin
