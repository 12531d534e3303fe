#include "shell/settings/shell_texts.h"

#include <map>

#include "context/language_module.h"

namespace qv::settings {
namespace {

const std::map<std::uint32_t, const char*>& EnglishTexts() {
  static const std::map<std::uint32_t, const char*> texts = {
      {kTextQuestionCaption, "Quillon Vesper"},
      {kTextRestartIndexer,
       "The indexer's settings changed. Restart the indexer now so that they take effect?"},
      {kTextSaveFailed, "The settings could not be saved"},
      {kTextAppletName, "Quillon Vesper"},
      {kTextAppletInfo, "Configure Quillon Vesper Ranking and Journaling settings"},
      {kTextHours, "h"},
      {kTextMinutes, "min"},
      {kTextSeconds, "s"},
      {kTextEncrypted, "The file is encrypted: it is not ranked."},
      {kTextReadOnly, "The file is read-only: its ranking record cannot change."},
      {kTextNotIndexed, "The file is marked not to be indexed: it is not ranked."},
      {kTextKeptWithFile, "The ranking record is kept with the file."},
      {kTextRecordShown, "The file's ranking record:"},
      {kTextDeleteDenied, "You are not allowed to change this file's ranking record."},
      {kTextNoRecord, "This file has no ranking record."},
      {kTextRecordDeleted, "The ranking record is deleted."},
      {kTextDeleteFailed, "The ranking record could not be deleted: "},
  };
  return texts;
}

}  // namespace

std::string ShellText(const LanguageModule* module, std::uint32_t id) {
  if (module) {
    if (auto t = module->Text(id)) return std::string(*t);
  }
  const auto& texts = EnglishTexts();
  if (auto it = texts.find(id); it != texts.end()) return it->second;
  return "#" + std::to_string(id);
}

}  // namespace qv::settings
