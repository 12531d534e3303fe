#include "platform/indexing/indexer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <set>

#include "context/event_report.h"
#include "platform/indexing/regular_file.h"
#include "platform/indexing/stem_tokenizer.h"

namespace qv::platform::indexing {
namespace {

constexpr int kMaxFolderDepth = 64;
// Pages written per step of merging the full-text index (some 16 MiB).
constexpr int kMergePages = 4000;

std::int64_t ParseInt(const std::string& s) {
  std::int64_t v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

std::int64_t Nanos(const timespec& ts) {
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

FileStat MakeFileStat(const std::string& path, const struct stat& st) {
  FileStat f;
  f.path = path;
  f.size = st.st_size;
  f.mtimeNs = Nanos(st.st_mtim);
  f.ctimeNs = Nanos(st.st_ctim);
  f.write = UnixSecondsToDate(static_cast<double>(st.st_mtim.tv_sec) +
                              static_cast<double>(st.st_mtim.tv_nsec) / 1e9);
  f.attrib = kAttribArchive;
  if ((st.st_mode & S_IWUSR) == 0) f.attrib |= kAttribReadOnly;
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && slash + 1 < path.size() && path[slash + 1] == '.') {
    f.attrib |= kAttribHidden;
  }
  return f;
}

CatalogIndexer::CatalogIndexer(const Context& ctx, const CatalogAdmin& admin, std::string name,
                               IndexerOptions options)
    : ctx_(ctx), admin_(admin), name_(std::move(name)), options_(std::move(options)) {
  progress_.catalog = name_;
}

HRESULT CatalogIndexer::Open() {
  HRESULT hr = admin_.GetLocation(name_, location_);
  if (Failed(hr)) return hr;
  std::vector<ScopeEntry> scopes;
  hr = admin_.GetScopes(name_, scopes);
  if (Failed(hr)) return hr;
  rules_ = std::make_shared<const ExclusionRules>(
      ExclusionRules::Load(ctx_.registry, admin_.root()));
  scopes_ = std::make_unique<ScopeSet>(scopes, rules_);
  std::vector<CachedProperty> props;
  hr = admin_.GetCachedProperties(name_, props);
  if (Failed(hr)) return hr;
  hr = CatalogDb::Open(location_, props, db_, StemmingLanguages(ctx_.registry));
  if (Failed(hr)) return hr;
  reader_ = std::make_unique<DocumentReader>(ctx_.registry, ctx_.classes, std::move(props));
  if (!options_.filterHost) options_.filterHost = MakeDefaultFilterHost();
  reader_->UseFilterHost(options_.filterHost);
  return S_OK;
}

void CatalogIndexer::Report(const char* phase) {
  progress_.phase = phase;
  if (options_.progress) options_.progress(progress_);
}

bool CatalogIndexer::CrawlInterrupted() {
  std::string v;
  return db_ && db_->GetMeta("crawl_gen", v) == S_OK;
}

HRESULT CatalogIndexer::Note(const std::string& path, const struct stat& st, std::int64_t gen,
                             std::int64_t& noted, std::unique_ptr<Transaction>& tx) {
  if (!tx) {
    tx = std::make_unique<Transaction>(db_->db());
    if (Failed(tx->status())) return tx->status();
  }
  DocState state;
  const HRESULT hr = db_->NoteFile(MakeFileStat(path, st), gen, state);
  if (Failed(hr)) return hr;
  ++progress_.scanned;
  if (++noted % std::max<std::int64_t>(1, options_.notesPerCommit) == 0) {
    const HRESULT c = tx->Commit();
    tx.reset();
    if (Failed(c)) return c;
    Report("scanning");
  }
  return S_OK;
}

HRESULT CatalogIndexer::Walk(const std::string& folder, std::int64_t gen, std::int64_t& noted,
                             std::unique_ptr<Transaction>& tx) {
  struct Frame {
    std::string path;
    int depth;
  };
  std::vector<Frame> stack{{folder, 0}};
  while (!stack.empty()) {
    if (Stopping()) return E_ABORT;
    Frame f = std::move(stack.back());
    stack.pop_back();
    // A folder swapped for a link since it was seen is not followed out of the scope.
    DIR* dir = OpenFolderNoFollow(f.path);
    if (!dir) {
      // Gone: its documents go at the end of the walk. Unreadable: said in the status.
      if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
        unreadable_.push_back(f.path + "\t" + std::strerror(errno));
      }
      continue;
    }
    std::vector<std::string> subfolders;
    while (dirent* e = readdir(dir)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == ".." || name == kIndexFolder) continue;
      std::string path = f.path == "/" ? "/" + std::string(name) : f.path + "/" + std::string(name);
      struct stat st {};
      // Links are never followed: a link could lead out of the scope or into a loop.
      if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        if (f.depth < kMaxFolderDepth && scopes_->Covers(path)) {
          subfolders.push_back(std::move(path));
        }
      } else if (S_ISREG(st.st_mode) && scopes_->Covers(path)) {
        const HRESULT hr = Note(path, st, gen, noted, tx);
        if (Failed(hr)) {
          closedir(dir);
          return hr;
        }
      }
    }
    closedir(dir);
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) {
      stack.push_back({std::move(*it), f.depth + 1});
    }
  }
  return S_OK;
}

HRESULT CatalogIndexer::Crawl() {
  std::string value;
  std::int64_t gen = 0;
  HRESULT hr = db_->GetMeta("crawl_gen", value);
  if (Failed(hr)) return hr;
  if (hr == S_OK) {
    gen = ParseInt(value);
    Report("recovering");
    hr = db_->SetMeta("phase", "recovering");
  } else {
    hr = db_->GetMeta("generation", value);
    if (Failed(hr)) return hr;
    gen = ParseInt(value) + 1;
    hr = db_->SetMeta("crawl_gen", std::to_string(gen));
    if (Succeeded(hr)) hr = db_->SetMeta("phase", "scanning");
  }
  if (Failed(hr)) return hr;
  progress_.scanned = 0;
  progress_.filtered = 0;
  unreadable_.clear();
  Report("scanning");
  std::int64_t noted = 0;
  std::unique_ptr<Transaction> tx;
  for (const auto& root : scopes_->roots()) {
    if (!scopes_->Covers(root)) continue;
    struct stat st {};
    if (lstat(root.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) {
        unreadable_.push_back(root + "\t" + std::strerror(errno));
      }
      continue;
    }
    if (!S_ISDIR(st.st_mode)) continue;
    hr = Walk(root, gen, noted, tx);
    if (Failed(hr)) {
      if (tx) tx->Commit();  // what was noted stays noted; the crawl resumes from there
      return hr;
    }
  }
  if (tx) {
    hr = tx->Commit();
    tx.reset();
    if (Failed(hr)) return hr;
  }
  hr = db_->SetMeta("phase", "filtering");
  if (Failed(hr)) return hr;
  hr = FilterPending();
  if (Failed(hr)) return hr;

  Transaction done(db_->db());
  if (Failed(done.status())) return done.status();
  std::int64_t removed = 0;
  if (Failed(hr = db_->RemoveUnseen(gen, removed)) ||
      Failed(hr = db_->SetMeta("generation", std::to_string(gen))) ||
      Failed(hr = db_->db().Exec("DELETE FROM meta WHERE key='crawl_gen'")) ||
      Failed(hr = db_->SetMeta("complete", "1")) || Failed(hr = db_->SetMeta("phase", "idle"))) {
    return hr;
  }
  hr = done.Commit();
  if (Failed(hr)) return hr;
  hr = RecordUnreadable("");
  if (Failed(hr)) return hr;
  // The batches left a segment each in the full-text index: merge them, a step per
  // transaction so that searches go on and a stop ends the work soon. What is merged stays.
  Report("compacting");
  for (bool more = true; more && !Stopping();) {
    hr = db_->MergeFullText(kMergePages, more);
    if (Failed(hr)) return hr;
  }
  Report("idle");
  return S_OK;
}

HRESULT CatalogIndexer::RecordUnreadable(std::string_view below) {
  std::string listed, total;
  HRESULT hr = db_->GetMeta(kMetaUnreadable, listed);
  if (Failed(hr)) return hr;
  hr = db_->GetMeta(kMetaUnreadableTotal, total);
  if (Failed(hr)) return hr;
  std::vector<std::string> kept;
  std::set<std::string> known;  // already reported
  std::int64_t count = ParseInt(total);
  for (std::size_t at = 0; at < listed.size();) {
    const std::size_t end = std::min(listed.find('\n', at), listed.size());
    std::string line = listed.substr(at, end - at);
    at = end + 1;
    known.insert(line);
    const std::string folder = line.substr(0, line.find('\t'));
    if (below.empty() || IsAtOrBelow(folder, below)) {
      --count;
      continue;
    }
    kept.push_back(std::move(line));
  }
  if (below.empty()) count = 0;
  std::vector<std::string> fresh;
  for (auto& line : unreadable_) {
    for (auto& c : line) {
      if (c == '\n') c = '?';  // one line per folder, whatever its name holds
    }
    if (!known.count(line)) fresh.push_back(line);
    if (kept.size() < kMaxUnreadableListed) kept.push_back(line);
    ++count;
  }
  std::string text;
  for (const auto& line : kept) text += line + "\n";
  count = std::max<std::int64_t>(count, 0);
  if (Failed(hr = db_->SetMeta(kMetaUnreadable, text)) ||
      Failed(hr = db_->SetMeta(kMetaUnreadableTotal, std::to_string(count)))) {
    return hr;
  }
  if (!fresh.empty()) {
    std::vector<std::string> strings{name_, std::to_string(fresh.size())};
    for (std::size_t i = 0; i < fresh.size() && i < 10; ++i) strings.push_back(fresh[i]);
    strings.push_back("Their files are not indexed. Give the user read access, then run "
                      "'qvindex rescan " + name_ + " FOLDER'.");
    ReportEvent(ctx_, EventType::Warning, kCategoryProvider, kEventFoldersUnreadable,
                std::move(strings));
  }
  unreadable_.clear();
  return S_OK;
}

HRESULT CatalogIndexer::IndexOne(const PendingDoc& doc) {
  struct stat st {};
  if (lstat(doc.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::int64_t removed = 0;
    return db_->RemovePath(doc.path, removed);
  }
  DocContent content;
  if (doc.state == DocState::NeedsProperties) {
    reader_->ReadPropertySets(doc.path, content);
    return db_->StoreProperties(doc.id, content.props);
  }
  const HRESULT read = reader_->Read(doc.path, content);
  if (Failed(read)) {
    // A document lost to the filter host (a crash, a time-out, a limit) goes to the service's
    // log; the document itself stays in the index as failed, with its name and properties.
    if (const std::string problem = reader_->HostProblem(); !problem.empty()) {
      std::fprintf(stderr, "%s: %s: %s (%s)\n", name_.c_str(), doc.path.c_str(), problem.c_str(),
                   FormatHresult(read).c_str());
    }
  }
  const auto slash = doc.path.rfind('/');
  const std::string_view filename =
      std::string_view(doc.path).substr(slash == std::string::npos ? 0 : slash + 1);
  if (!content.propText.empty()) content.propText += '\n';
  content.propText.append(filename);
  return db_->StoreDocument(doc.id, content, Failed(read) ? DocState::Failed : DocState::Filtered);
}

HRESULT CatalogIndexer::FilterPending() {
  std::vector<PendingDoc> batch;
  // Counted once and then counted down: counting again after every batch costs a pass
  // over every waiting document.
  std::int64_t waiting = 0;
  db_->PendingCount(waiting);
  for (;;) {
    HRESULT hr = db_->Pending(options_.batchSize, batch);
    if (Failed(hr)) return hr;
    if (batch.empty()) break;
    Transaction tx(db_->db());
    if (Failed(tx.status())) return tx.status();
    bool stopped = false;
    std::int64_t done = 0;
    for (const auto& doc : batch) {
      if (Stopping()) {
        stopped = true;
        break;
      }
      hr = IndexOne(doc);
      if (Failed(hr)) return hr;
      ++progress_.filtered;
      ++done;
    }
    hr = tx.Commit();
    if (Failed(hr)) return hr;
    waiting = std::max<std::int64_t>(0, waiting - done);
    progress_.pending = waiting;
    Report("filtering");
    if (stopped) return E_ABORT;
  }
  progress_.pending = 0;
  return S_OK;
}

HRESULT CatalogIndexer::Rescan(const std::string& folder, bool full) {
  if (!folder.empty()) {
    const std::string path = NormalizeScopePath(folder);
    if (path.empty() || !scopes_->Covers(path)) return S_FALSE;
    progress_.scanned = 0;
    progress_.filtered = 0;
    const HRESULT hr = RescanFolder(path, full);
    if (Succeeded(hr)) Report("idle");
    return hr;
  }
  if (full) {
    // Every document is filtered again as the crawl sees it.
    std::string value;
    HRESULT hr = db_->GetMeta("generation", value);
    if (Failed(hr)) return hr;
    hr = db_->MarkForRescan("", ParseInt(value) + 1, true);
    if (Failed(hr)) return hr;
  }
  return Crawl();
}

HRESULT CatalogIndexer::RescanFolder(const std::string& path, bool refilter) {
  std::string value;
  HRESULT hr = db_->GetMeta("generation", value);
  if (Failed(hr)) return hr;
  const std::int64_t gen = ParseInt(value);
  hr = db_->MarkForRescan(path, gen, refilter);
  if (Failed(hr)) return hr;
  unreadable_.clear();
  std::int64_t noted = 0;
  std::unique_ptr<Transaction> tx;
  hr = Walk(path, gen, noted, tx);
  if (tx) {
    const HRESULT c = tx->Commit();
    if (Succeeded(hr)) hr = c;
  }
  if (Failed(hr)) return hr;
  // Only a walk that ran to the end tells which documents are gone.
  {
    Transaction done(db_->db());
    if (Failed(done.status())) return done.status();
    std::int64_t removed = 0;
    if (Failed(hr = db_->RemoveUnseenBelow(path, gen, removed))) return hr;
    if (Failed(hr = done.Commit())) return hr;
  }
  if (Failed(hr = RecordUnreadable(path))) return hr;
  return FilterPending();
}

HRESULT CatalogIndexer::Refresh(const std::string& raw) {
  const std::string path = NormalizeScopePath(raw);
  if (path.empty() || !scopes_->Covers(path)) return S_FALSE;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
    Transaction tx(db_->db());
    if (Failed(tx.status())) return tx.status();
    std::int64_t removed = 0;
    const HRESULT hr = db_->RemovePath(path, removed);
    if (Failed(hr)) return hr;
    return tx.Commit();
  }
  if (S_ISDIR(st.st_mode)) return RescanFolder(path, false);
  std::string value;
  HRESULT hr = db_->GetMeta("generation", value);
  if (Failed(hr)) return hr;
  const std::int64_t gen = ParseInt(value);
  std::int64_t noted = 0;
  std::unique_ptr<Transaction> tx;
  hr = Note(path, st, gen, noted, tx);
  if (tx) {
    const HRESULT c = tx->Commit();
    if (Succeeded(hr)) hr = c;
  }
  if (Failed(hr)) return hr;
  return FilterPending();
}

}  // namespace qv::platform::indexing
