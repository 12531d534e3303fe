# The catalog engine and Recoll on the mixed-format corpus of gen_mixed_corpus.py, each run as
# a user runs it (qvindex with its filter host; recollindex with its helpers).
qv_bench(mixed_corpus_bench SOURCES mixed_corpus_bench.cpp DEPS)
add_dependencies(mixed_corpus_bench qvindex qvfilterhost)
