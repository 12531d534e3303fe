// Title scores, the window search over z-order, MDI frames and framed children, and the
// path-spec matcher.
#include "tracer/detection/title_match.h"

#include <gtest/gtest.h>

#include "platform/desktop/sim_desktop.h"
#include "tracer/detection/path_match.h"
#include "tracer/detection/window_finder.h"

namespace qv::tracer {
namespace {

using namespace qv::platform;

TEST(TitleScoreTest, LevelsAgainstOnePath) {
  const std::string p = "/a/Report.doc";
  EXPECT_EQ(ScoreTitle("Report.doc - Editor", p), 2);
  EXPECT_EQ(ScoreTitle("/a/Report.doc", p), 4);
  EXPECT_EQ(ScoreTitle("Report.txt - Editor", p), 1);
  EXPECT_EQ(ScoreTitle("MyReport.doc", p), 0);   // letter before the name
  EXPECT_EQ(ScoreTitle("Report.docx", p), 0);    // letter after the extension
  EXPECT_EQ(ScoreTitle("Editor - /a/Report (read only)", p), 3);
  EXPECT_EQ(ScoreTitle("REPORT.DOC", p), 2);     // case does not matter
  EXPECT_EQ(ScoreTitle("", p), 0);
  EXPECT_EQ(ScoreTitle("Report.doc", ""), 0);
}

TEST(TitleScoreTest, LaterOccurrenceCanScoreHigher) {
  // The first "notes" is glued to a letter; the second one is the whole path.
  EXPECT_EQ(ScoreTitle("mynotes [/home/u/notes.txt]", "/home/u/notes.txt"), 4);
  // The first occurrence scores 1, a later one 2: the best counts.
  EXPECT_EQ(ScoreTitle("notes, notes.txt", "/x/notes.txt"), 2);
  // Overlapping occurrences are all found ("aa" in "aaa" at 0 and 1).
  EXPECT_EQ(ScoreTitle("aaa.b", "/q/aa.b"), 0);
  EXPECT_EQ(ScoreTitle("(aa.b)", "/q/aa.b"), 2);
}

TEST(TitleScoreTest, PathsWithoutDirectoryOrExtension) {
  EXPECT_EQ(ScoreTitle("Makefile - Editor", "/src/Makefile"), 1);
  EXPECT_EQ(ScoreTitle("/src/Makefile", "/src/Makefile"), 3);
  // A path without a directory part counts as a full path.
  EXPECT_EQ(ScoreTitle("notes.txt", "notes.txt"), 4);
  EXPECT_EQ(ScoreTitle("notes", "notes.txt"), 3);
  // A leading dot starts a name, not an extension.
  EXPECT_EQ(ScoreTitle(".profile - Editor", "/home/u/.profile"), 1);
  EXPECT_EQ(ScoreTitle("a.tar.gz", "/d/a.tar.gz"), 2);
}

TEST(TitleScoreTest, OverlongPathCannotBePrepared) {
  std::string longPath = "/" + std::string(PATH_MAX, 'a');
  EXPECT_FALSE(PrepareTitlePattern(longPath));
  // Well beyond the old 260-character limit is fine.
  std::string deep = "/" + std::string(1000, 'd') + "/file.txt";
  ASSERT_TRUE(PrepareTitlePattern(deep));
  EXPECT_EQ(ScoreTitle(deep + " - Editor", deep), 4);
}

WindowState Frame(DesktopWindow id, std::string title, DesktopWindow parent = 0) {
  WindowState s;
  s.id = id;
  s.parent = parent;
  s.title = std::move(title);
  s.className = "Frame";
  s.style = WS_CAPTION;
  s.rect = {0, 0, 100, 100};
  return s;
}

TEST(WindowFinderTest, HighestScoreWinsAndTiesKeepTheFirstFound) {
  SimDesktop desk;
  const auto pattern = *PrepareTitlePattern("/a/Report.doc");
  desk.CreateWindow(Frame(1, "Report.doc - Editor"));  // 2
  desk.CreateWindow(Frame(2, "/a/Report - Viewer"));   // 3, on top
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 2u);
  desk.SetForeground(1);  // z-order does not beat a better score
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 2u);
  desk.CreateWindow(Frame(3, "/a/Report - Other"));  // also 3, now topmost: found first
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 3u);
  desk.SetForeground(2);
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 2u);
  EXPECT_EQ(FindWindowForPath(desk, *PrepareTitlePattern("/z/none.txt")).window, 0u);
}

TEST(WindowFinderTest, SkipsHiddenAndPopupWindowsAndJudgesFramedChildren) {
  SimDesktop desk;
  const auto pattern = *PrepareTitlePattern("/a/plan.odt");
  auto popup = Frame(1, "/a/plan.odt");
  popup.style = WS_POPUP | WS_BORDER;
  desk.CreateWindow(popup);
  auto hidden = Frame(2, "/a/plan.odt");
  hidden.visible = false;
  desk.CreateWindow(hidden);
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 0u);

  desk.CreateWindow(Frame(3, "Office"));
  auto bare = Frame(4, "plan.odt", 3);
  bare.style = 0;  // no frame: not a document window
  desk.CreateWindow(bare);
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 0u);
  desk.CreateWindow(Frame(5, "plan.odt", 4));  // framed grandchild of a bare child
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 5u);
  desk.Show(4, false);  // its parent hidden: not shown any more
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 0u);
}

TEST(WindowFinderTest, MdiFrameIsJudgedByItsDocuments) {
  SimDesktop desk;
  const auto pattern = *PrepareTitlePattern("/a/b.txt");
  desk.CreateWindow(Frame(1, "/a/b.txt - Suite"));  // the frame's own title is not scored
  auto client = Frame(2, "", 1);
  client.className = "MDIClient";
  client.style = 0;
  desk.CreateWindow(client);
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 0u);  // no active document
  desk.CreateWindow(Frame(3, "c.txt", 2));
  desk.CreateWindow(Frame(4, "b.txt", 2));
  EXPECT_EQ(FindWindowForPath(desk, pattern).window, 4u);
}

TEST(PathSpecTest, WildcardsCaseAndWholeString) {
  EXPECT_TRUE(PathMatchSpec("/home/u/a.DOC", "*.doc"));
  EXPECT_FALSE(PathMatchSpec("/home/u/a.docx", "*.doc"));
  EXPECT_TRUE(PathMatchSpec("/tmp/x1.txt", "/tmp/x?.txt"));
  EXPECT_FALSE(PathMatchSpec("/tmp/x12.txt", "/tmp/x?.txt"));
  EXPECT_TRUE(PathMatchSpec("", "*"));
  EXPECT_FALSE(PathMatchSpec("abc", ""));
  EXPECT_TRUE(PathMatchSpec("README", "*.*"));  // *.* matches names without a dot too
  EXPECT_TRUE(PathMatchSpec("http://example.com/a", "http://*"));
  EXPECT_TRUE(PathMatchSpec("abcabcabd", "*abd"));  // needs back-tracking
}

TEST(PathSpecTest, SemicolonSeparatedSpecifications) {
  EXPECT_TRUE(PathMatchSpec("/a/b.txt", "*.doc;*.txt"));
  EXPECT_TRUE(PathMatchSpec("/a/b.txt", "*.doc; *.txt"));  // spaces before a spec skipped
  EXPECT_FALSE(PathMatchSpec("/a/b.pdf", "*.doc;;*.txt;"));
  EXPECT_TRUE(PathMatchSpec("/a/b.pdf", ";*.pdf"));
}

TEST(PathSpecTest, HostilePatternsStayCheap) {
  const std::string item(20000, 'a');
  const std::string spec = std::string(5000, '*') + "b";
  EXPECT_FALSE(PathMatchSpec(item, spec));
  EXPECT_TRUE(PathMatchSpec(item + "b", spec));
}

}  // namespace
}  // namespace qv::tracer
