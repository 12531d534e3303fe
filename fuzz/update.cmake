# QvUpdate's arguments, which come from the job table and from anyone who can start it.
qv_fuzz(update_args_fuzz SOURCES update_args_fuzz.cpp DEPS qv_update_args)
