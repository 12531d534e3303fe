# The tracer's accounting pass over many open windows, and its cost per input notice.
qv_bench(tracer_bench SOURCES tracer_bench.cpp DEPS qv_tracer)
