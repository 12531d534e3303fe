qv_bench(ranking_bench SOURCES ranking_bench.cpp DEPS qv_ranking)
