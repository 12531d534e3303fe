#include "client/query_composer.h"

#include <cstdio>

#include "client/search_key_list.h"
#include "common/scope_hash.h"

namespace qv::client {

#define QV_RANK_SET "'48CA09C3-119B-8534-9A91-87848040E351'"
#define QV_MAIL_SET "'CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B'"
#define QV_JOURNAL_SET "'8E186B66-57AC-435c-B957-130C319BFA76'"

const std::string_view kCatalogPreamble =
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x3 AS kivScope TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x8 AS kivLvE TYPE DBTYPE_DATE; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x9 AS kivLvT TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0xA AS kivLvN TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0xB AS kivBvE TYPE DBTYPE_DATE; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0xC AS kivBvT TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0xD AS kivBvN TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x4 AS kivWorkingTime TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x5 AS kivActiveTime TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x6 AS kivVisits TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME 'd5cdd505-2e9c-101b-9397-08002b2cf9ae' PROPID '_url' AS kivUrl TYPE "
    "DBTYPE_WSTR; "
    "SET PROPERTYNAME " QV_RANK_SET " PROPID 0x2 AS kivSearchKey TYPE DBTYPE_GUID; "
    "SET PROPERTYNAME " QV_MAIL_SET " PROPID 0x2 AS kivEmlFolder TYPE DBTYPE_WSTR; "
    "SET PROPERTYNAME " QV_MAIL_SET " PROPID 0x3 AS kivEmlPrefix TYPE DBTYPE_WSTR; "
    "SET PROPERTYNAME " QV_MAIL_SET " PROPID 0x4 AS kivEmlSubject TYPE DBTYPE_WSTR; "
    "SET PROPERTYNAME " QV_MAIL_SET " PROPID 0x5 AS kivEmlAddress TYPE DBTYPE_WSTR; "
    "SET PROPERTYNAME " QV_MAIL_SET " PROPID 0x6 AS kivEmlMsgClass TYPE DBTYPE_WSTR; "
    "SET PROPERTYNAME " QV_MAIL_SET " PROPID 0x7 AS kivEmlMsgFlags TYPE DBTYPE_UI4; "
    "SELECT rank, write, attrib, Path, filename, DocTitle, kivScope, kivLvE, kivLvT, kivLvN, "
    "kivBvE, kivBvT, kivBvN, kivWorkingTime, kivActiveTime, kivVisits, kivUrl, kivSearchKey, "
    "kivEmlFolder , kivEmlPrefix, kivEmlSubject, kivEmlAddress, kivEmlMsgClass, kivEmlMsgFlags "
    "FROM ";

const std::string_view kJournalPreamble =
    "SET PROPERTYNAME " QV_JOURNAL_SET " PROPID 0x2 AS kivPST TYPE DBTYPE_UI4; "
    "SET PROPERTYNAME " QV_JOURNAL_SET " PROPID 0x5 AS kivDescription TYPE DBTYPE_WSTR; "
    "SELECT write, filename, kivPST, kivDescription FROM "
    "QuillonJournal..SCOPE(' DEEP TRAVERSAL OF \"";

#undef QV_RANK_SET
#undef QV_MAIL_SET
#undef QV_JOURNAL_SET

namespace {

// Folders of the system's own data under the local application data.
constexpr std::string_view kWebHistoryFolder = "/Quillon/WebHistory";
// The catalogs the files and web history tables read (as the fragments name them).
constexpr std::string_view kFilesCatalog = "System";
constexpr std::string_view kWebHistoryCatalog = "QuillonWebHistory";
constexpr std::string_view kJournalFolder = "/Quillon/Journal";

// Every volume's system data and trash, kept out of file results.
constexpr std::string_view kVolumeExclusions =
    "path NOT LIKE '%/System Volume Information/%' AND path NOT LIKE '%/.Trash-%' "
    "AND path NOT LIKE '%/.local/share/Trash/%' ";

constexpr std::string_view kDateOrderFloor = "write > '1970/01/01 00:00:00'";

std::string TermText(const QueryToken& t) {
  std::string out;
  out.reserve(t.text.size() + 8);
  for (char c : t.text) {
    if (t.kind == TokenKind::Phrase && (c == '\r' || c == '\n' || c == '\t')) c = ' ';
    if (c == '\'') out += '\'';
    // A quote kept inside a term is doubled, so it cannot close the quoted term early.
    if (c == '"') out += '"';
    out += c;
  }
  return out;
}

std::string_view Parent(std::string_view path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return {};
  return path.substr(0, slash == 0 ? 1 : slash);
}

std::string SortText(const SearchParams& p, bool noTextTerms) {
  const bool asc = p.sortAscending != 0;
  switch (p.sortOrder) {
    case kSortDate: return asc ? "write ASC " : "write DESC ";
    case kSortWorkingTime:
      return asc ? "kivWorkingTime ASC, write DESC " : "kivWorkingTime DESC, write DESC ";
    case kSortVisits: return asc ? "kivVisits ASC, write DESC " : "kivVisits DESC, write DESC ";
    default: return noTextTerms ? "kivLvE DESC, write DESC " : "kivLvE DESC, rank DESC, write DESC ";
  }
}

void AppendAnd(std::string& cond, std::string_view part) {
  if (!cond.empty()) cond += " AND ";
  cond += part;
}

// The default path exclusions: system folders, every profile's cookies and recent folders,
// every volume's system data and trash.
void AppendPathExclusions(const ComposeEnvironment& env, std::string& cond) {
  std::vector<std::string> paths;
  if (!env.windowsFolder.empty()) paths.push_back(env.windowsFolder);
  if (!env.programFilesFolder.empty()) paths.push_back(env.programFilesFolder);
  if (!env.cookiesFolder.empty()) {
    const auto profiles = Parent(Parent(env.cookiesFolder));
    if (!profiles.empty()) paths.push_back(std::string(profiles) + "/%/cookies");
  }
  if (!env.recentFolder.empty()) {
    const std::string_view recent = env.recentFolder;
    const auto slash = recent.find_last_of('/');
    if (slash != std::string_view::npos) {
      const auto profiles = Parent(Parent(recent));
      if (!profiles.empty()) {
        paths.push_back(std::string(profiles) + "/%/" + std::string(recent.substr(slash + 1)));
      }
    }
  }
  for (std::string p : paths) {
    if (p.empty() || p.back() != '/') p += '/';
    for (auto& c : p) {
      if (c == '"' || c == '\'') c = '_';
    }
    AppendAnd(cond, "path NOT LIKE '" + p + "%'");
  }
  AppendAnd(cond, kVolumeExclusions);
}

}  // namespace

std::string QuoteLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 4);
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out;
}

HRESULT BuildContentCondition(bool contentsColumn, const QueryTokens& tokens, bool freeText,
                              const ComposeEnvironment& env, std::string& condition,
                              Messages& messages) {
  condition.clear();
  if (tokens.empty() && contentsColumn) return S_FALSE;
  std::string text;
  if (!freeText) {
    text = contentsColumn ? fragment::kContainsContents : fragment::kContainsAll;
    bool any = false;
    for (const auto& t : tokens) {
      if (!IsTextTerm(t)) continue;
      if (!any) {
        if (t.op == TokenOp::Not) text += " NOT ";
      } else {
        text += t.op == TokenOp::Or ? " OR " : t.op == TokenOp::Not ? " AND NOT " : " AND ";
      }
      any = true;
      text += '"';
      text += TermText(t);
      text += '"';
    }
    if (any) {
      text += fragment::kContainsClose;
    } else if (contentsColumn) {
      return E_INVALIDARG;
    } else {
      text.clear();
    }
  } else {
    std::string positive, negative;
    for (const auto& t : tokens) {
      if (!IsTextTerm(t)) continue;
      std::string& into = t.op == TokenOp::Not ? negative : positive;
      if (!into.empty()) into += ' ';
      into += TermText(t);
    }
    if (!positive.empty()) {
      text += fragment::kFreetextOpen;
      text += positive;
      text += fragment::kFreetextClose;
    }
    if (!negative.empty()) {
      // Without a positive part there is nothing for AND to join.
      text += positive.empty() ? std::string_view(" NOT FREETEXT('\"") : fragment::kFreetextNot;
      text += negative;
      text += fragment::kFreetextClose;
    }
  }

  std::string dates;
  for (const auto& t : tokens) {
    if (!IsDateToken(t)) continue;
    const bool end = t.kind == TokenKind::EndDate;
    std::optional<DATE> d;
    if (env.dates) d = ReadQueryDate(t.text, end, *env.dates, env.now);
    if (!d) {
      messages.push_back(end ? kMsgBadEndDate : kMsgBadStartDate);
      continue;
    }
    if (!dates.empty()) dates += " AND ";
    dates += end ? "write <=" : "write >=";
    dates += FormatConditionDate(*d);
  }
  condition = std::move(text);
  if (!condition.empty() && !dates.empty()) condition += " AND ";
  condition += dates;
  return S_OK;
}

HRESULT BuildSearchKeyCondition(SearchKeyMode mode, std::string_view list, std::string& out,
                                SearchParams& params) {
  out.clear();
  std::vector<SearchKeyItem> items;
  HRESULT hr = ReadSearchKeyList(list, items);
  if (Failed(hr)) return hr;
  if (mode == SearchKeyMode::CatalogCondition) {
    params.searchFiles = params.searchWebHistory = params.searchEmail = false;
    for (const auto& item : items) {
      if (!item.hasKey) continue;
      if (!out.empty()) out += " OR";
      const std::string key = FormatGuid(item.key);
      out += " kivSearchKey ='" + key.substr(1, key.size() - 2) + "'";
      switch (item.type) {
        case ItemType::File: params.searchFiles = true; break;
        case ItemType::WebPage: params.searchWebHistory = true; break;
        default: params.searchEmail = true; break;
      }
    }
  } else {
    for (const auto& item : items) {
      std::vector<std::string> parts;
      if (item.type == ItemType::File || item.type == ItemType::WebPage || !item.hasKey) {
        parts.push_back(item.name);
      }
      if (item.hasKey) parts.push_back(FormatGuid(item.key));
      for (auto& p : parts) {
        if (!out.empty()) out += " |";
        out += p;
      }
    }
  }
  return out.empty() ? DB_E_ERRORSINCOMMAND : S_OK;
}

HRESULT ComposeCatalogQuery(std::string_view queryText, bool searchKeyMode,
                            const SearchParams* paramsIn, bool freeText,
                            const ComposeEnvironment& env, std::string& sql, Messages& messages) {
  sql.clear();
  if (!paramsIn) return E_INVALIDARG;
  SearchParams params = *paramsIn;
  std::string condition;
  if (searchKeyMode) {
    if (freeText) return S_OK;
    params.visitedOnly = false;
    params.includeSystemFolders = true;
    const HRESULT hr =
        BuildSearchKeyCondition(SearchKeyMode::CatalogCondition, queryText, condition, params);
    if (Failed(hr)) return hr;
    if (condition.empty()) return E_INVALIDARG;
  }
  if (!params.AnyCatalog()) {
    messages.push_back(searchKeyMode ? kMsgNoCatalogTable : kMsgNoCatalog);
    return E_INVALIDARG;
  }

  QueryTokens tokens;
  bool noTextTerms = false;
  if (!searchKeyMode) {
    HRESULT hr = ParseQuery(queryText, tokens);
    if (Failed(hr)) return hr;
    hr = CheckQueryTokens(tokens, noTextTerms, messages);
    if (Failed(hr)) return hr;
  }

  // FROM list.
  std::string from;
  int tables = 0;
  bool folderScoped = false;
  auto addTable = [&](std::string_view text) {
    if (tables == 1) from.insert(0, fragment::kUnionOpen);
    if (tables >= 1) from += fragment::kUnion;
    from += text;
    ++tables;
  };
  auto missing = [&](std::string_view catalog, MessageId message) {
    bool registered = true;
    if (!env.catalogRegistered || Failed(env.catalogRegistered(catalog, registered)) ||
        registered) {
      return false;
    }
    messages.push_back(message);
    return true;
  };
  if (params.searchFiles && !missing(kFilesCatalog, kMsgFilesCatalogMissing)) {
    const QueryToken* folder = nullptr;
    for (const auto& t : tokens) {
      if (IsFolderToken(t)) {
        folder = &t;
        break;
      }
    }
    if (folder) {
      std::string t(folder->kind == TokenKind::Directory ? fragment::kFilesShallow
                                                         : fragment::kFilesDeep);
      t += QuoteLiteral(folder->text);
      t += fragment::kScopeClose;
      addTable(t);
      folderScoped = true;
    } else {
      addTable(fragment::kFilesWhole);
    }
  }
  if (params.searchWebHistory && !missing(kWebHistoryCatalog, kMsgWebCatalogMissing)) {
    std::string t(fragment::kWebOpen);
    t += QuoteLiteral(env.localAppData + std::string(kWebHistoryFolder));
    t += fragment::kScopeClose;
    addTable(t);
  }
  if (params.searchEmail && !env.mailStores.empty()) {
    if (!env.mailCatalogUsable) return REGDB_E_CLASSNOTREG;
    std::string sid;
    if (!env.userSid || Failed(env.userSid(sid)) || sid.empty()) return E_ACCESSDENIED;
    const std::uint32_t h = ScopeHash(sid);
    for (const std::uint32_t store : env.mailStores) {
      if (store == 0) continue;
      char name[40];
      std::snprintf(name, sizeof name, "Quillon_%x_%x", h, store);
      bool usable = false;
      if (Succeeded(env.mailCatalogUsable(name, usable)) && usable) {
        addTable(std::string(name) + std::string(fragment::kMailTail));
      }
    }
  }
  if (tables == 0) {
    messages.push_back(kMsgNoCatalogTable);
    return E_INVALIDARG;
  }
  if (tables > 1) from += fragment::kUnionClose;

  // A query of blanks is an empty one: it lists the visited items.
  const bool visitedOnly =
      params.visitedOnly || (IsBlankText(queryText) && params.sortOrder != kSortDate);
  if (!searchKeyMode) {
    const HRESULT hr = BuildContentCondition(false, tokens, freeText, env, condition, messages);
    if (Failed(hr)) return hr;
  }
  if (visitedOnly) {
    char scope[32];
    std::snprintf(scope, sizeof scope, "kivScope=0x%x ", env.userScope);
    AppendAnd(condition, scope);
  }
  if (condition.empty() && params.sortOrder == kSortDate) condition = kDateOrderFloor;
  if (!folderScoped && params.searchFiles && !params.includeSystemFolders) {
    AppendPathExclusions(env, condition);
  }
  if (!visitedOnly && !condition.empty() && (params.searchWebHistory || params.searchEmail)) {
    condition += " AND NOT  (path LIKE '";
    condition += QuoteLiteral(env.localAppData);
    condition += "/%' ";
    if (params.searchWebHistory) condition += " AND kivScope IS NULL ";
    if (params.searchEmail) condition += " AND kivEmlMsgClass IS NULL";
    condition += ") ";
  }

  sql.reserve(kCatalogPreamble.size() + from.size() + condition.size() + 64);
  sql = kCatalogPreamble;
  sql += from;
  if (!condition.empty()) {
    sql += " WHERE ";
    sql += condition;
  }
  sql += " ORDER BY ";
  sql += SortText(params, noTextTerms);
  return S_OK;
}

HRESULT ComposeJournalQuery(std::string_view queryText, bool freeText, bool ascending,
                            const ComposeEnvironment& env, std::string& sql, Messages& messages) {
  sql.clear();
  QueryTokens tokens;
  HRESULT hr = ParseQuery(queryText, tokens);
  if (Failed(hr)) return hr;
  if (tokens.empty()) return DB_E_ERRORSINCOMMAND;
  bool noTextTerms = false;
  hr = CheckQueryTokens(tokens, noTextTerms, messages);
  if (Failed(hr)) return hr;
  if (noTextTerms) return DB_E_ERRORSINCOMMAND;
  std::string condition;
  hr = BuildContentCondition(true, tokens, freeText, env, condition, messages);
  if (Failed(hr)) return hr;
  if (condition.empty()) return S_FALSE;
  if (env.localAppData.empty()) return E_INVALIDARG;

  sql = kJournalPreamble;
  sql += QuoteLiteral(env.localAppData + std::string(kJournalFolder));
  sql += fragment::kJournalWhere;
  sql += condition;
  std::vector<std::uint32_t> stores;
  for (auto s : env.mailStores) {
    if (s != 0) stores.push_back(s);
  }
  if (stores.empty()) {
    sql += " AND kivPST = 0";
  } else {
    sql += " AND (kivPST =0";
    for (auto s : stores) {
      char buf[32];
      std::snprintf(buf, sizeof buf, " OR kivPST=0x%x", s);
      sql += buf;
    }
    sql += ")";
  }
  sql += ascending ? " ORDER BY write ASC" : " ORDER BY write DESC";
  return S_OK;
}

}  // namespace qv::client
