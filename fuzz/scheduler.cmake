# The one-shot job table, read back after crashes and by later versions.
qv_fuzz(job_table_fuzz SOURCES job_table_fuzz.cpp DEPS qv_scheduler)
