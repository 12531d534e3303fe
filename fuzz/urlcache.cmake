# The URL cache's index files, version indexes and the content sniffers.
qv_fuzz(url_cache_index_fuzz SOURCES url_cache_index_fuzz.cpp DEPS qv_urlmon qv_urlcache)
