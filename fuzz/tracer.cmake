# The tracer reads visit messages from any process of the user, and session scripts from files.
qv_fuzz(visit_message_fuzz SOURCES visit_message_fuzz.cpp DEPS qv_tracer)
qv_fuzz(session_script_fuzz SOURCES session_script_fuzz.cpp DEPS qv_tracer)
