# The URL cache's index files, version indexes and the content sniffers.
qv_fuzz(url_cache_index_fuzz SOURCES url_cache_index_fuzz.cpp DEPS qv_urlmon qv_urlcache)
# The "data:" URL decoder, for the URLs a page's frames name.
qv_fuzz(data_url_fuzz SOURCES data_url_fuzz.cpp DEPS qv_urlcache)
