# What the runtime manager reads from outside: the browser version value, the published cache
# folder file and the texts of the language module.
qv_fuzz(manager_inputs_fuzz SOURCES manager_inputs_fuzz.cpp DEPS qv_manager_runtime)
