# The desktop's recent-files list reader.
qv_fuzz(xbel_fuzz SOURCES xbel_fuzz.cpp DEPS qv_desktop_docs)
# The command lines of a window's processes, read from /proc, name its documents.
qv_fuzz(command_line_fuzz SOURCES command_line_fuzz.cpp DEPS qv_desktop_docs)
