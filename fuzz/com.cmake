# The call decoder reads whatever another process of the user writes to the ranking service.
qv_fuzz(remote_call_fuzz SOURCES remote_call_fuzz.cpp DEPS qv_com)
