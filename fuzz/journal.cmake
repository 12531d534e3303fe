# The journal's day-file reader.
qv_fuzz(day_file_fuzz SOURCES day_file_fuzz.cpp DEPS qv_journal)
# The notification of a new entry, which any process of the user can send a journal view.
qv_fuzz(journal_notification_fuzz SOURCES journal_notification_fuzz.cpp DEPS qv_journal)
