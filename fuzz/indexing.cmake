# The catalog engine's parsers of outside input: the query text and the built-in filters.
qv_fuzz(query_text_fuzz SOURCES query_text_fuzz.cpp DEPS qv_indexing)
qv_fuzz(markup_filter_fuzz SOURCES markup_filter_fuzz.cpp DEPS qv_indexing)
qv_fuzz(like_pattern_fuzz SOURCES like_pattern_fuzz.cpp DEPS qv_indexing)
# The excluded-folder entries that the user keeps in the registry.
qv_fuzz(exclusion_rules_fuzz SOURCES exclusion_rules_fuzz.cpp DEPS qv_indexing)
# The catalogs' registry values, and the row lengths the rank reads from the index.
qv_fuzz(catalog_registry_fuzz SOURCES catalog_registry_fuzz.cpp DEPS qv_indexing)
qv_fuzz(fts_docsize_fuzz SOURCES fts_docsize_fuzz.cpp DEPS qv_indexing)
# The reply of the filter host, a process whose readers may have gone wrong.
qv_fuzz(filter_host_reply_fuzz SOURCES filter_host_reply_fuzz.cpp DEPS qv_indexing)
# The full-text index's own pages, read straight for one-word queries.
qv_fuzz(fts_leaf_fuzz SOURCES fts_leaf_fuzz.cpp DEPS qv_indexing)
# Snapshots of the property cache that another process left in the catalog's folder.
qv_fuzz(property_snapshot_fuzz SOURCES property_snapshot_fuzz.cpp DEPS qv_indexing)
