# The registry's hive file parser.
qv_fuzz(reg_file_fuzz SOURCES reg_file_fuzz.cpp DEPS qv_registry)
