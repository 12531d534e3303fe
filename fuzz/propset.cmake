# Property-set streams: the parser behind ranking records and journal entries.
qv_fuzz(property_set_fuzz SOURCES property_set_fuzz.cpp DEPS qv_propset)
