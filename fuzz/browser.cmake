# The browser extension's host: the messages it reads from the browser, and the frame data it
# builds from a page's frame tree.
qv_fuzz(host_message_fuzz SOURCES host_message_fuzz.cpp DEPS qv_browser_host)
qv_fuzz(frame_builder_fuzz SOURCES frame_builder_fuzz.cpp DEPS qv_browser_host)
