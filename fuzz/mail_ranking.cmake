# The mail add-in's pending record, read from shortcut files any process of the user can write.
qv_fuzz(pending_record_fuzz SOURCES pending_record_fuzz.cpp DEPS qv_mail_ranking_data)
# The message-file section and the compressed RTF bodies that fill it.
qv_fuzz(msg_file_section_fuzz SOURCES msg_file_section_fuzz.cpp DEPS qv_mail_ranking_data)
