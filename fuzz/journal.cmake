# The journal's day-file reader.
qv_fuzz(day_file_fuzz SOURCES day_file_fuzz.cpp DEPS qv_journal)
