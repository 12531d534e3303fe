# The folders and store lists that callers of the ranking service hand in.
qv_fuzz(catalog_request_fuzz SOURCES catalog_request_fuzz.cpp DEPS qv_catalog_requests)
