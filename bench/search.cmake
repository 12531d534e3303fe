# The search client: compose, fetch, score and sort 10 000 rows, against the engine alone.
qv_bench(search_bench SOURCES search_bench.cpp DEPS qv_client)
