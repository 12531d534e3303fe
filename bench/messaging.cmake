# A visit message across processes against a bare SEQPACKET ping-pong.
qv_bench(messaging_bench SOURCES messaging_bench.cpp DEPS qv_messaging qv_hooks_core)
