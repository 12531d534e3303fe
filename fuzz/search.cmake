# The search client's readers of user input: the query language (through both composers) and
# the search-key list.
qv_fuzz(search_query_fuzz SOURCES search_query_fuzz.cpp DEPS qv_client)
# The stored search options.
qv_fuzz(search_params_fuzz SOURCES search_params_fuzz.cpp DEPS qv_client)
# The stored search history.
qv_fuzz(search_history_fuzz SOURCES search_history_fuzz.cpp DEPS qv_client)
# QvSeek's "/q" command line.
qv_fuzz(seek_parameters_fuzz SOURCES seek_parameters_fuzz.cpp DEPS qv_client)
# The print server's requests and QvSeek's reading of its replies.
qv_fuzz(print_protocol_fuzz SOURCES print_protocol_fuzz.cpp DEPS qv_client)
