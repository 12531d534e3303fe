# The desktop's recent-files list reader.
qv_fuzz(xbel_fuzz SOURCES xbel_fuzz.cpp DEPS qv_desktop_docs)
