qv_bench(journal_bench SOURCES journal_bench.cpp DEPS qv_journal)
