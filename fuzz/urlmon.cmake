# The web history: the .q6w shortcut reader and history URL parsing.
qv_fuzz(q6w_reader_fuzz SOURCES q6w_reader_fuzz.cpp DEPS qv_urlmon)
qv_fuzz(history_url_fuzz SOURCES history_url_fuzz.cpp DEPS qv_urlmon)
# The frame data that comes with a web visit.
qv_fuzz(frame_data_fuzz SOURCES frame_data_fuzz.cpp DEPS qv_urlmon)
