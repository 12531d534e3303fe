#pragma once
// Tests only: a message store in memory, with counters and failures to inject.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/mail/mail_store.h"

namespace qv::mail::addin::testing {

namespace pm = platform::mail;

class FakeMessageStore final : public pm::MessageStore {
 public:
  FakeMessageStore(std::uint8_t tag, std::string name) : tag_(tag), name_(std::move(name)) {
    storeId_ = {0x5E, tag_, 0x01, 0x02};
  }

  const pm::EntryId& storeEntryId() const override { return storeId_; }
  std::string displayName() const override { return name_; }

  HRESULT DefaultFolder(pm::FolderType type, pm::EntryId& out) const override {
    if (const auto f = defaultFolderFailure.find(type); f != defaultFolderFailure.end()) {
      return f->second;
    }
    const auto it = defaults_.find(type);
    if (it == defaults_.end()) return pm::MAPI_E_NOT_FOUND;
    out = it->second;
    return S_OK;
  }
  HRESULT Folders(std::vector<pm::Folder>& out) const override {
    out = folders_;
    return S_OK;
  }
  HRESULT Messages(std::span<const std::uint8_t> folderId,
                   std::vector<pm::EntryId>& out) const override {
    out.clear();
    for (const auto& [id, m] : messages_) {
      if (std::ranges::equal(m.folderId, folderId)) out.push_back(id);
    }
    return S_OK;
  }
  HRESULT OpenMessage(std::span<const std::uint8_t> entryId, pm::Message& out) const override {
    ++openCount;
    const pm::EntryId id(entryId.begin(), entryId.end());
    for (const pm::Folder& f : folders_) {
      if (f.id == id) return E_INVALIDARG;
    }
    const auto it = messages_.find(id);
    if (it == messages_.end()) return pm::MAPI_E_NOT_FOUND;
    out = it->second;
    return S_OK;
  }
  HRESULT SaveMessage(pm::Message& message) override {
    ++saveCount;
    if (Failed(saveFailure)) return saveFailure;
    messages_[message.entryId] = message;
    return S_OK;
  }
  HRESULT DeleteMessage(std::span<const std::uint8_t> entryId) override {
    return messages_.erase(pm::EntryId(entryId.begin(), entryId.end())) ? S_OK
                                                                          : pm::MAPI_E_NOT_FOUND;
  }
  HRESULT SetReadFlag(std::span<const std::uint8_t>, bool) override { return S_OK; }

  // A folder; `isDefault` makes it the store's folder of that type.
  pm::EntryId AddFolder(std::string name, pm::FolderType type, pm::EntryId parent = {},
                        bool isDefault = true) {
    pm::EntryId id = {0xF0, tag_, static_cast<std::uint8_t>(folders_.size())};
    folders_.push_back({id, std::move(name), type, std::move(parent)});
    if (isDefault && type != pm::FolderType::None) defaults_[type] = id;
    return id;
  }
  // A saved message in `folder`: gets its ids and a search key.
  pm::EntryId AddMessage(const pm::EntryId& folder, pm::Message m = {}) {
    const auto n = static_cast<std::uint8_t>(++next_);
    m.entryId = {0xE0, tag_, 0x00, n};
    m.storeEntryId = storeId_;
    m.folderId = folder;
    if (m.searchKey.empty()) {
      m.searchKey = {n, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    }
    messages_[m.entryId] = m;
    return m.entryId;
  }
  pm::Message& message(const pm::EntryId& id) { return messages_.at(id); }

  std::map<pm::FolderType, HRESULT> defaultFolderFailure;
  HRESULT saveFailure = S_OK;
  mutable int openCount = 0;
  int saveCount = 0;

 private:
  std::uint8_t tag_;
  std::string name_;
  pm::EntryId storeId_;
  std::vector<pm::Folder> folders_;
  std::map<pm::FolderType, pm::EntryId> defaults_;
  std::map<pm::EntryId, pm::Message> messages_;
  int next_ = 0;
};

}  // namespace qv::mail::addin::testing
