#include "client/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "shell/uiutils/start_panel_query.h"

namespace qv::client {
namespace {

StartupCommand Startup(std::vector<std::string_view> args) { return ParseStartupCommand(args); }

TEST(StartupCommandTest, TheQSwitchChoosesSearchJournalOrTheEmptySearch) {
  auto c = Startup({"/q", "&q=a%20b&ct=Files"});
  EXPECT_EQ(c.kind, StartupKind::Search);
  EXPECT_EQ(c.params.query, "a b");
  EXPECT_TRUE(c.params.searchFiles);
  EXPECT_FALSE(c.params.searchWebHistory);
  EXPECT_FALSE(c.params.searchEmail);

  c = Startup({"/Q", "&ct=Journal&exn=1&sys=1"});
  EXPECT_EQ(c.kind, StartupKind::OpenJournal);
  c = Startup({"/q", "&q=budget&ct=journal"});
  EXPECT_EQ(c.kind, StartupKind::JournalSearch);
  EXPECT_EQ(c.params.query, "budget");

  // Without "&ct=", without the parameters, or with another switch: the empty search.
  EXPECT_EQ(Startup({"/q", "&q=budget"}).kind, StartupKind::EmptySearch);
  EXPECT_EQ(Startup({"/q"}).kind, StartupKind::EmptySearch);
  EXPECT_EQ(Startup({}).kind, StartupKind::EmptySearch);
  EXPECT_EQ(Startup({"/x", "&ct=Files"}).kind, StartupKind::EmptySearch);
}

TEST(StartupCommandTest, AnEscapedAmpersandInTheQueryCannotInjectAKey) {
  // The query is "a&ct=Journal&exn=1", escaped the way the start panel escapes it.
  auto c = Startup({"/q", "&ct=Files&q=a%26ct%3DJournal%26exn%3D1"});
  EXPECT_EQ(c.kind, StartupKind::Search);
  EXPECT_EQ(c.params.query, "a&ct=Journal&exn=1");
  EXPECT_FALSE(c.params.journal);
  EXPECT_FALSE(c.params.visitedOnly);
  // The query first: its escaped keys do not count either.
  c = Startup({"/q", "&q=%26dd%3D1%26sys%3D1&ct=WebHistory"});
  EXPECT_EQ(c.params.query, "&dd=1&sys=1");
  EXPECT_FALSE(c.params.searchKeyMode);
  EXPECT_FALSE(c.params.includeSystemFolders);
  EXPECT_TRUE(c.params.searchWebHistory);
}

TEST(StartupCommandTest, WhatTheStartPanelBuildsComesBackAsTyped) {
  uiutils::StartPanelOptions o;
  o.files = true;
  o.webHistory = false;
  o.email = false;
  const std::string typed = "50% of a&b \"q\" &ct=Journal&sys=1 \xC3\xA4";
  const std::string params = uiutils::BuildStartPanelQuery(o, typed);
  const std::vector<std::string_view> args = {"/q", params};
  const auto c = ParseStartupCommand(args);
  EXPECT_EQ(c.kind, StartupKind::Search);
  EXPECT_EQ(c.params.query, typed);
  EXPECT_TRUE(c.params.searchFiles);
  EXPECT_FALSE(c.params.searchWebHistory || c.params.includeSystemFolders || c.params.journal);
}

TEST(StartupCommandTest, KeysAndEscapesAtTheEdges) {
  auto c = Startup({"/q", "&ct=Files,WebHistory,EMAIL&dd=1&exn=0&sys=&q="});
  EXPECT_TRUE(c.params.searchFiles && c.params.searchWebHistory && c.params.searchEmail);
  EXPECT_TRUE(c.params.searchKeyMode);
  EXPECT_FALSE(c.params.visitedOnly);
  EXPECT_FALSE(c.params.includeSystemFolders);
  EXPECT_EQ(c.params.query, "");
  // An escaped NUL ends the text; broken escapes stay as typed.
  c = Startup({"/q", "&ct=Files&q=ab%00cd"});
  EXPECT_EQ(c.params.query, "ab");
  c = Startup({"/q", "&ct=Files&q=100%25%2x%4"});
  EXPECT_EQ(c.params.query, "100%%2x%4");
  EXPECT_EQ(UrlUnescape("+%41%"), "+A%");
}

}  // namespace
}  // namespace qv::client
