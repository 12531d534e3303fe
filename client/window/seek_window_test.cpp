// The search window offscreen over a small file catalog: a search fills the list in
// activation order with green bars as wide as the rows' percentages, sorting by date drops
// the bars, the selected text file is previewed, and the history and layout are kept.
#include "client/window/seek_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest/QTest>
#include <fstream>
#include <optional>
#include <sstream>

#include "client/window_layout.h"
#include "common/temp_dir.h"
#include "context/test_context.h"
#include "platform/indexing/catalog_db.h"
#include "platform/messaging/inproc_transport.h"
#include "provider/cihelper/catalog_tables.h"
#include "provider/journal/journal.h"
#include "provider/journal/window_notifier.h"
#include "provider/ranking/base_activation.h"
#include "provider/ranking/ranking.h"
#include "provider/urlmon/kiv_urlmon.h"
#include "provider/urlmon/shortcut_file.h"
#include "platform/urlcache/url_cache.h"
#include "shell/settings_window/qt_test_main.h"

namespace qv::client {
namespace {

namespace fs = std::filesystem;
namespace ix = platform::indexing;
using PV = platform::PropVariant;

class SeekWindowTest : public ::testing::Test {
 protected:
  SeekWindowTest() : activation_(test_.ctx()), dates_(DateOrder::MonthDayYear, '/', 0) {
    auto& reg = test_.registry();
    fs::create_directories(docs());
    admin_ = std::make_unique<ix::CatalogAdmin>(reg, test_.root());
    admin_->AddCatalog("System", test_.root() / "catalog");
    admin_->AddScope("System", docs().string(), false);
    for (const auto& [name, data] : cihelper::kDocumentCatalogProperties) {
      reg.SetValue(platform::Hive::LocalMachine, ix::PropertiesKey("System"), name,
                   platform::RegValue::Sz(data));
      ix::CachedProperty p;
      if (ix::ParseCachedProperty(name, data, p)) props_.push_back(p);
    }
    EXPECT_EQ(MakeComposeEnvironment(test_.ctx(), dates_, admin_.get(), env_), S_OK);
    exec_ = std::make_unique<ix::QueryExecutor>(*admin_);
    services_.ctx = &test_.ctx();
    services_.dates = &dates_;
    services_.env = env_;
    services_.exec = exec_.get();
    services_.activation = &activation_;
  }

  fs::path docs() const { return test_.root() / "docs"; }

  // A text file in the catalog; `hoursAgo` > 0 gives it a visit of this user that long ago.
  void Add(const std::string& name, const std::string& text, double hoursAgo) {
    std::ofstream(docs() / name) << text;
    Note(docs() / name, text, hoursAgo);
  }

  // An existing file in the catalog with the text its filter gave.
  void Note(const fs::path& file, const std::string& text, double hoursAgo) {
    std::unique_ptr<ix::CatalogDb> db;
    ASSERT_EQ(ix::CatalogDb::Open(test_.root() / "catalog", props_, db), S_OK);
    const DATE now = test_.clock().NowDate();
    ix::FileStat st;
    st.path = file.string();
    st.write = now - 1 - hoursAgo / 24.0;
    ix::DocState state;
    std::int64_t id = 0;
    ASSERT_EQ(db->NoteFile(st, 1, state), S_OK);
    ASSERT_EQ(db->FindDocument(st.path, id, state), S_OK);
    ix::DocContent c;
    c.contents = text;
    if (hoursAgo > 0) {
      auto key = [](std::uint32_t pid) { return ix::PropertyKey(ranking::kRankingFmtid, pid); };
      c.props = {{key(3), PV::UI4(env_.userScope)}, {key(8), PV::Date(now - hoursAgo / 24.0)},
                 {key(9), PV::UI4(300)},            {key(10), PV::UI4(1500)},
                 {key(11), PV::Date(0.0)},          {key(12), PV::UI4(0)},
                 {key(13), PV::UI4(0)}};
    }
    ASSERT_EQ(db->StoreDocument(id, c, ix::DocState::Filtered), S_OK);
  }

  // The file name a display row shows.
  static std::string NameAt(const SeekWindow& w, int row) {
    return w.resultModel()->index(row, kColumnName).data().toString().toStdString();
  }

  // The width of the green run in the bar cell of `row`, read from the rendered list.
  static int GreenWidth(const SeekWindow& w, int row) {
    QTableView* view = w.resultView();
    const QImage image = view->viewport()->grab().toImage();
    const QRect cell = view->visualRect(w.resultModel()->index(row, kColumnBar));
    int widest = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
      int run = 0;
      for (int x = cell.left(); x <= cell.right(); ++x) {
        const QColor c = image.pixelColor(x * image.width() / view->viewport()->width(),
                                          y * image.height() / view->viewport()->height());
        run += (c.red() == kBarRed && c.green() == kBarGreen && c.blue() == kBarBlue) ? 1 : 0;
      }
      widest = std::max(widest, run);
    }
    return widest;
  }

  TestContext test_;
  BaseActivation activation_;
  FixedDateLocale dates_;
  std::unique_ptr<ix::CatalogAdmin> admin_;
  std::vector<ix::CachedProperty> props_;
  std::unique_ptr<ix::QueryExecutor> exec_;
  ComposeEnvironment env_;
  SeekServices services_;
};

TEST_F(SeekWindowTest, SearchesSortsByActivationDrawsBarsAndPreviewsText) {
  QV_REQUIRE_QT();
  Add("old.txt", "quarterly budget, visited last week\n", 24 * 7);
  Add("recent.txt", "quarterly budget, visited an hour ago\n", 1);
  Add("never.txt", "quarterly budget, never opened\n", 0);
  Add("other.txt", "nothing to see\n", 2);

  SeekWindow w(services_);
  w.resize(1000, 500);
  w.show();
  ASSERT_EQ(w.Search(QStringLiteral("budget")), S_OK) << w.infoBar()->text().toStdString();
  ASSERT_EQ(w.resultModel()->rowCount(), 3);
  // Activation order: the recent visit first, the unvisited file last.
  EXPECT_EQ(NameAt(w, 0), "recent.txt");
  EXPECT_EQ(NameAt(w, 1), "old.txt");
  EXPECT_EQ(NameAt(w, 2), "never.txt");
  QApplication::processEvents();

  // The bars on screen are as wide as the rows' percentages of their cells.
  for (int row = 0; row < 2; ++row) {
    const RowState& state = w.resultModel()->State(row);
    ASSERT_GT(state.bar, 0) << row;
    EXPECT_TRUE(state.hasRanking);
    const QRect cell = w.resultView()->visualRect(w.resultModel()->index(row, kColumnBar));
    const int expected =
        BarInCell({cell.x(), cell.y(), cell.width(), cell.height()}, state.bar).width;
    EXPECT_EQ(GreenWidth(w, row), expected) << row;
  }
  EXPECT_GT(GreenWidth(w, 0), GreenWidth(w, 1));
  // The unvisited row has no ranking of this user: never green.
  EXPECT_FALSE(w.resultModel()->State(2).hasRanking);
  EXPECT_EQ(GreenWidth(w, 2), 0);

  // The first row is selected and previewed as text.
  EXPECT_EQ(w.previewKind(), PreviewKind::Text);
  EXPECT_EQ(w.previewText()->toPlainText().toStdString(), "quarterly budget, visited an hour ago\n");
  w.resultView()->setCurrentIndex(w.resultModel()->index(2, 0));
  EXPECT_EQ(w.previewText()->toPlainText().toStdString(), "quarterly budget, never opened\n");

  // Date order: the catalog's order, no scores and no bars; back to activation order.
  w.SortBy(kColumnDate);
  EXPECT_EQ(w.sort(), (SortState{kColumnDate, false}));
  ASSERT_EQ(w.resultModel()->rowCount(), 3);
  EXPECT_EQ(NameAt(w, 0), "never.txt");  // written most recently
  QApplication::processEvents();
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(w.resultModel()->State(row).bar, -1);
    EXPECT_EQ(GreenWidth(w, row), 0);
  }
  w.SortBy(kColumnDate);
  EXPECT_EQ(w.sort(), (SortState{kColumnDate, true}));
  EXPECT_EQ(NameAt(w, 0), "old.txt");
  w.SortBy(kColumnName);  // not sortable: nothing changes
  EXPECT_EQ(w.sort(), (SortState{kColumnDate, true}));
  w.SortBy(kColumnBar);
  EXPECT_EQ(w.sort(), (SortState{kColumnBar, false}));
  EXPECT_EQ(NameAt(w, 0), "recent.txt");
  QApplication::processEvents();
  EXPECT_GT(GreenWidth(w, 0), 0);
}

TEST_F(SeekWindowTest, HistoryDragDataAndNoResults) {
  QV_REQUIRE_QT();
  Add("a.txt", "alpha words\n", 1);
  Add("b.txt", "alpha more words\n", 3);
  SeekWindow w(services_);
  ASSERT_EQ(w.Search(QStringLiteral("alpha")), S_OK);
  ASSERT_EQ(w.Search(QStringLiteral("nothinglikethis")), S_OK);
  EXPECT_EQ(w.resultModel()->rowCount(), 0);
  // "No results" is told in the bar, and goes with the next search that finds rows.
  const std::string noResults = MessageText(nullptr, kMsgNoResults);
  EXPECT_FALSE(w.infoBar()->isHidden());
  EXPECT_NE(w.infoBar()->text().toStdString().find(noResults), std::string::npos);
  EXPECT_EQ(w.previewKind(), PreviewKind::None);
  ASSERT_EQ(w.Search(QStringLiteral("alpha")), S_OK);
  EXPECT_EQ(w.infoBar()->text().toStdString().find(noResults), std::string::npos);
  // Both texts are offered again, once each, the latest first.
  ASSERT_EQ(w.searchBox()->count(), 2);
  EXPECT_EQ(w.searchBox()->itemText(0).toStdString(), "alpha");
  EXPECT_EQ(w.searchBox()->itemText(1).toStdString(), "nothinglikethis");
  EXPECT_EQ(w.searchBox()->currentText().toStdString(), "alpha");

  // Dragging both rows: one address per row, files as file URLs.
  ASSERT_EQ(w.resultModel()->rowCount(), 2);
  const std::unique_ptr<QMimeData> data(w.resultModel()->mimeData(
      {w.resultModel()->index(0, 0), w.resultModel()->index(0, 3), w.resultModel()->index(1, 0)}));
  const std::string uris = data->data(QString::fromLatin1(kUriListType.data())).toStdString();
  EXPECT_EQ(std::count(uris.begin(), uris.end(), '\n'), 2) << uris;
  EXPECT_NE(uris.find("file://"), std::string::npos);
  EXPECT_TRUE(data->hasFormat(QString::fromLatin1(kSearchKeyListType.data())));
}

// What the preview reports to the tracer.
class RecordedVisits final : public VisitReporter {
 public:
  HRESULT Start(std::uint64_t, std::string_view item, std::uint32_t flags) override {
    calls.push_back("start " + std::string(item) + " " + std::to_string(flags));
    return S_OK;
  }
  HRESULT End(std::uint64_t, std::uint32_t flags) override {
    calls.push_back("end " + std::to_string(flags));
    return S_OK;
  }
  std::vector<std::string> calls;
};

TEST_F(SeekWindowTest, KeyboardSearchesAndPreviewsCountAsVisitsWithoutJournalEntries) {
  QV_REQUIRE_QT();
  Add("one.txt", "gamma one\n", 1);
  Add("two.txt", "gamma two\n", 5);
  RecordedVisits visits;
  services_.visits = &visits;
  SeekWindow w(services_);
  w.show();
  // Typing and Enter in the box searches; the first row is previewed at once.
  w.searchBox()->setFocus();
  QTest::keyClicks(w.searchBox()->lineEdit(), QStringLiteral("gamma"));
  QTest::keyClick(w.searchBox()->lineEdit(), Qt::Key_Return);
  ASSERT_EQ(w.resultModel()->rowCount(), 2);
  const std::string one = (docs() / "one.txt").string(), two = (docs() / "two.txt").string();
  EXPECT_EQ(visits.calls, (std::vector<std::string>{"start " + one + " 33"}));
  // Down moves to the next row: the first visit ends, the second starts.
  w.resultView()->setFocus();
  QTest::keyClick(w.resultView(), Qt::Key_Down);
  EXPECT_EQ(w.resultView()->currentIndex().row(), 1);
  EXPECT_EQ(w.previewText()->toPlainText().toStdString(), "gamma two\n");
  EXPECT_EQ(visits.calls, (std::vector<std::string>{"start " + one + " 33", "end 32",
                                                    "start " + two + " 33"}));
  // A search without rows clears the preview and ends the visit.
  ASSERT_EQ(w.Search(QStringLiteral("nowherefound")), S_OK);
  EXPECT_EQ(visits.calls.back(), "end 32");
  EXPECT_EQ(visits.calls.size(), 4u);
}

TEST_F(SeekWindowTest, TheJournalPaneListsNewEntriesAsTheyAreWrittenAndDeletedOnesStayGone) {
  QV_REQUIRE_QT();
  SystemClock clock;
  const auto transport = std::make_shared<platform::InProcessTransport>(clock);
  platform::WindowStation station(transport, clock);
  services_.station = &station;
  journal::Journal journal(test_.ctx(),
                           std::make_shared<journal::WindowJournalNotifier>(
                               std::make_shared<platform::WindowStation>(transport, clock)));
  SeekWindow w(services_);
  w.ShowJournal();
  QTableWidget* list = w.journalList();
  EXPECT_EQ(list->rowCount(), 0);

  journal::EntryFields f;
  f.url = "/live/report.txt";
  f.start = test_.clock().NowDate();
  f.end = f.start + 1.0 / 24;
  f.workingTime = 60;
  ASSERT_EQ(journal.LogEntry(f, nullptr), S_OK);
  // The entry reaches the list through the listener's thread: wait for it, bounded.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (list->rowCount() == 0 && std::chrono::steady_clock::now() < deadline) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ASSERT_EQ(list->rowCount(), 1);
  EXPECT_EQ(list->item(0, kJournalColumnLocation)->text().toStdString(), "/live/report.txt");

  // Delete removes it, and showing the day again does not bring it back.
  list->selectRow(0);
  QTest::keyClick(list, Qt::Key_Delete);
  EXPECT_EQ(list->rowCount(), 0);
  w.ShowJournal();
  EXPECT_EQ(list->rowCount(), 0);
}

// Puts a stand-in for the desktop's open helper first in PATH: it writes its arguments to
// `log` and exits with `status`.
class FakeOpenHelper {
 public:
  FakeOpenHelper(const fs::path& log, int status) {
    const fs::path script = dir_.path() / std::string(kOpenProgram);
    std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> '" << log.string() << "'\nexit "
                          << status << "\n";
    fs::permissions(script, fs::perms::owner_all);
    if (const char* path = std::getenv("PATH")) old_ = path;
    ::setenv("PATH", (dir_.path().string() + ":" + old_.value_or("/usr/bin:/bin")).c_str(), 1);
  }
  ~FakeOpenHelper() {
    if (old_) ::setenv("PATH", old_->c_str(), 1); else ::unsetenv("PATH");
  }

 private:
  TempDir dir_;
  std::optional<std::string> old_;
};

TEST_F(SeekWindowTest, EnterOnARowOpensItAndAFailedOpenIsToldInTheBar) {
  QV_REQUIRE_QT();
  Add("report.txt", "delta report\n", 1);
  const fs::path log = test_.root() / "opened.log";
  {
    FakeOpenHelper helper(log, 0);
    SeekWindow w(services_);
    w.show();
    ASSERT_EQ(w.Search(QStringLiteral("delta")), S_OK);
    ASSERT_EQ(w.resultModel()->rowCount(), 1);
    w.resultView()->setFocus();
    QTest::keyClick(w.resultView(), Qt::Key_Return);
    std::stringstream opened;
    opened << std::ifstream(log).rdbuf();
    EXPECT_EQ(opened.str(), FileUrl((docs() / "report.txt").string()) + "\n");
    EXPECT_EQ(w.infoBar()->text().toStdString().find(MessageText(nullptr, kMsgOpenFailed)),
              std::string::npos);
  }
  FakeOpenHelper missing(log, 2);  // the helper reports the item missing
  SeekWindow w(services_);
  w.show();
  ASSERT_EQ(w.Search(QStringLiteral("delta")), S_OK);
  w.resultView()->setFocus();
  QTest::keyClick(w.resultView(), Qt::Key_Return);
  EXPECT_FALSE(w.infoBar()->isHidden());
  EXPECT_NE(w.infoBar()->text().toStdString().find(MessageText(nullptr, kMsgOpenFailed)),
            std::string::npos)
      << w.infoBar()->text().toStdString();
}

TEST_F(SeekWindowTest, AVisitedWebPageIsPreviewedFromItsStoredCopy) {
  QV_REQUIRE_QT();
  platform::UrlCache cache(test_.root(), test_.clock());
  const std::string url = "http://intranet/budget.html";
  fs::path copy;
  ASSERT_EQ(cache.CreateEntryFile(url, "htm", copy), 0);
  std::ofstream(copy) << "<html><body><p>Quarterly budget page</p>"
                         "<script>document.write('injected')</script></body></html>";
  platform::CommitOptions options;
  options.headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
  ASSERT_EQ(cache.CommitEntry(url, copy, options), 0);
  urlmon::KivUrlmon urlmon(test_.ctx());
  std::string file, history;
  ASSERT_EQ(urlmon.CreateShortcut(&url, test_.clock().NowDate(), &url, nullptr, {}, &file,
                                  &history),
            S_OK);
  Note(file, "quarterly budget page", 1);

  SeekWindow w(services_);
  w.resize(1000, 500);
  w.show();
  ASSERT_EQ(w.Search(QStringLiteral("budget")), S_OK) << w.infoBar()->text().toStdString();
  ASSERT_EQ(w.resultModel()->rowCount(), 1);
  ASSERT_EQ(w.resultModel()->State(0).kind, ItemKind::WebPage);
  EXPECT_EQ(w.previewKind(), PreviewKind::Web);
  const std::string shown = w.previewText()->toPlainText().toStdString();
  EXPECT_NE(shown.find("Quarterly budget page"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("injected"), std::string::npos) << shown;

  // Once the cache no longer holds the page, the pane says so.
  urlmon::Shortcut page;
  ASSERT_EQ(urlmon::ReadShortcutFile(file, page), S_OK);
  for (const auto& part : page.parts) cache.DeleteEntry(part.url);
  cache.DeleteEntry(url);
  w.resultView()->clearSelection();
  w.resultView()->setCurrentIndex({});
  w.resultView()->setCurrentIndex(w.resultModel()->index(0, 0));
  EXPECT_EQ(w.previewKind(), PreviewKind::None);
  bool said = false;
  for (const QLabel* l : w.findChildren<QLabel*>()) {
    said = said || (l->isVisible() && l->text() == QStringLiteral("No stored copy of this page."));
  }
  EXPECT_TRUE(said);
}

TEST(PreviewBrowser, LoadsLocalFilesButNothingFromTheNetwork) {
  QV_REQUIRE_QT();
  TempDir dir;
  const auto image = dir.path() / "dot.png";
  QImage dot(2, 2, QImage::Format_RGB32);
  dot.fill(Qt::red);
  ASSERT_TRUE(dot.save(QString::fromStdString(image.string())));
  PreviewBrowser browser;
  EXPECT_FALSE(browser.loadResource(QTextDocument::ImageResource,
                                    QUrl::fromLocalFile(QString::fromStdString(image.string())))
                   .isNull());
  EXPECT_TRUE(browser.loadResource(QTextDocument::ImageResource,
                                   QUrl(QStringLiteral("http://example.invalid/x.png")))
                  .isNull());
  EXPECT_TRUE(browser.loadResource(QTextDocument::ImageResource,
                                   QUrl(QStringLiteral("//example.invalid/x.png")))
                  .isNull());
  // Showing a stored web page, even local files stay unloaded.
  browser.setLoadsFiles(false);
  EXPECT_TRUE(browser.loadResource(QTextDocument::ImageResource,
                                   QUrl::fromLocalFile(QString::fromStdString(image.string())))
                  .isNull());
}

TEST_F(SeekWindowTest, LayoutIsKeptAndClampedAndTheJournalOpensFromTheCommandLine) {
  QV_REQUIRE_QT();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  {
    SeekWindow w(services_);
    w.SortBy(kColumnVisits);
    QHeaderView* header = w.resultView()->horizontalHeader();
    header->resizeSection(kColumnName, 333);
    header->moveSection(header->visualIndex(kColumnVisits), 0);
    header->moveSection(header->visualIndex(kColumnName), 5);
    w.SaveLayout();
  }
  // A window saved on a far larger screen, off to the right.
  WindowPlacement p;
  p.normal = {screen.right() + 500, 10, screen.right() + 500 + screen.width() * 3, 400};
  test_.registry().SetValue(platform::Hive::CurrentUser, kViewKey, kPositionValue,
                            platform::RegValue::Binary([&] { const auto b = EncodePlacement(p); return std::vector<std::uint8_t>(b.begin(), b.end()); }()));
  SeekWindow w(services_);
  w.RestoreLayout();
  EXPECT_EQ(w.sort(), (SortState{kColumnVisits, false}));
  const QHeaderView* header = w.resultView()->horizontalHeader();
  EXPECT_EQ(header->sectionSize(kColumnName), 333);
  // Visits, location, bar, date, working time, name.
  const int order[kColumnCount] = {kColumnVisits, kColumnLocation, kColumnBar,
                                   kColumnDate,   kColumnWorkingTime, kColumnName};
  for (int place = 0; place < kColumnCount; ++place) {
    EXPECT_EQ(header->logicalIndex(place), order[place]) << place;
  }
  EXPECT_TRUE(screen.contains(w.geometry())) << w.geometry().x() << "," << w.geometry().width();

  const std::string_view args[] = {"/Q", "&q=alpha&ct=Journal"};
  w.Start(ParseStartupCommand(args));
  ASSERT_NE(w.journalList(), nullptr);
  EXPECT_FALSE(w.journalList()->parentWidget()->isHidden());
  EXPECT_EQ(w.resultModel()->rowCount(), 0);  // no file search ran
}

}  // namespace
}  // namespace qv::client
