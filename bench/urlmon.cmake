qv_bench(urlmon_bench SOURCES urlmon_bench.cpp DEPS qv_urlmon)
