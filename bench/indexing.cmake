# The catalog engine against Recoll on the generated corpus (see indexing_bench.cpp).
qv_bench(indexing_bench SOURCES indexing_bench.cpp DEPS qv_indexing qv_client qv_cihelper)
