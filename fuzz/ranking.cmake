# The ranking record on files, written by other processes and other versions.
qv_fuzz(ranking_properties_fuzz SOURCES ranking_properties_fuzz.cpp DEPS qv_ranking qv_propset)
