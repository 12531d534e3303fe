#include "platform/indexing/word_rows_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "platform/indexing/sqlite_db.h"

namespace qv::platform::indexing {
namespace {

class WordRowsTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Remove();
    db_ = std::make_unique<Database>();
    ASSERT_EQ(db_->Open(file_, true), S_OK);
    ASSERT_EQ(RegisterWordRows(db_->handle()), S_OK);
    ASSERT_EQ(db_->Exec("CREATE TABLE docs(id INTEGER PRIMARY KEY, path TEXT);"
                       "INSERT INTO docs VALUES (2, 'b'), (5, 'e'), (9, 'i'), (12, 'l')"),
              S_OK);
  }

  // (id, value of the second column) of every row the statement gives, the list bound first.
  std::vector<std::pair<std::int64_t, std::string>> Run(const std::string& sql,
                                                        const WordRows* list) {
    Statement st;
    EXPECT_EQ(db_->Prepare(sql, st), S_OK) << sql;
    if (list) {
      sqlite3_bind_pointer(st.get(), 1, const_cast<WordRows*>(list), kWordRowsPointer, nullptr);
    } else {
      st.Bind(1, std::int64_t{7});  // not a list: a value of another kind
    }
    std::vector<std::pair<std::int64_t, std::string>> out;
    while (st.Step() == SQLITE_ROW) out.emplace_back(st.Int(0), std::string(st.Text(1)));
    return out;
  }

  const std::filesystem::path file_ =
      std::filesystem::temp_directory_path() / ("qv-word-rows-" + std::to_string(getpid()) + ".db");
  std::unique_ptr<Database> db_;

  void TearDown() override {
    db_.reset();
    Remove();
  }
  void Remove() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(file_.string() + suffix);
    }
  }
};

TEST_F(WordRowsTableTest, ListsTheBoundRowsAndJoinsThemByRowId) {
  const std::vector<WordPosting> rows{{2, 3, 0}, {7, 1, 0}, {9, 4, 0}, {12, 2, 0}};
  const WordRows list{rows};
  using Rows = std::vector<std::pair<std::int64_t, std::string>>;
  EXPECT_EQ(Run("SELECT rid, hits FROM qv_word_rows(?)", &list),
            (Rows{{2, "3"}, {7, "1"}, {9, "4"}, {12, "2"}}));
  // Row 7 has no docs row and drops out of the join; the order stays the row id order.
  EXPECT_EQ(Run("SELECT d.id, d.path || r.hits FROM docs d JOIN (SELECT rid, hits FROM "
                "qv_word_rows(?)) r ON r.rid = d.id WHERE d.path <> 'l'",
                &list),
            (Rows{{2, "b3"}, {9, "i4"}}));
  // Nothing bound under the list's name lists nothing, and an empty list is empty.
  EXPECT_TRUE(Run("SELECT rid, hits FROM qv_word_rows(?)", nullptr).empty());
  const WordRows none{};
  EXPECT_TRUE(Run("SELECT rid, hits FROM qv_word_rows(?)", &none).empty());
  // Without the list the table cannot be read at all.
  Statement st;
  EXPECT_TRUE(Failed(db_->Prepare("SELECT rid FROM qv_word_rows", st)));
}

}  // namespace
}  // namespace qv::platform::indexing
