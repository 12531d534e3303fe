#include "manager/status/status_texts.h"

#include <map>

#include "context/language_module.h"

namespace qv::manager {
namespace {

const std::map<std::uint32_t, const char*>& EnglishTexts() {
  static const std::map<std::uint32_t, const char*> texts = {
      {kTextSheetCaption, "Quillon Vesper Status"},
      {kTextSystemCatalog, "Files"},
      {kTextWebHistoryCatalog, "Web history"},
      {kTextUnnamedStore, "Mail store"},
      {kTextNotRegistered, "Not set up"},
      {kTextJournalCatalog, "Journal"},
      {kTextScanning, "Scanning"},
      {kTextRecovering, "Recovering"},
      {kTextMerging, "Merging"},
      {kTextScanRequired, "Scan required"},
      {kTextLowMemory, "Paused: low memory"},
      {kTextHighIo, "Paused: busy disk"},
      {kTextMergePaused, "Merge paused"},
      {kTextReadOnly, "Read-only"},
      {kTextBattery, "Paused: on battery"},
      {kTextUserActive, "Paused: user active"},
      {kTextStarting, "Starting"},
      {kTextUpToDate, "Up to date"},
  };
  return texts;
}

}  // namespace

std::string StatusText(const LanguageModule* module, std::uint32_t id) {
  if (module) {
    if (auto t = module->Text(id)) return std::string(*t);
  }
  const auto& texts = EnglishTexts();
  if (auto it = texts.find(id); it != texts.end()) return it->second;
  return "#" + std::to_string(id);
}

}  // namespace qv::manager
