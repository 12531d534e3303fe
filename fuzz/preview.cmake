# The preview pane's reader of outside documents: the HTML cleaning.
qv_fuzz(preview_html_fuzz SOURCES preview_html_fuzz.cpp DEPS qv_client)
