# The window-message frame decoder reads whatever another process writes to a window's socket.
qv_fuzz(visit_frame_fuzz SOURCES visit_frame_fuzz.cpp DEPS qv_messaging)
