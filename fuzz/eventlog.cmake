# The event log's line reader.
qv_fuzz(event_line_fuzz SOURCES event_line_fuzz.cpp DEPS qv_eventlog)
