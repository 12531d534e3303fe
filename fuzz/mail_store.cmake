# The mail store's reader of mail files, which come from anyone who can send the user mail,
# and of entry ids, which other processes of the user hand to the add-in.
qv_fuzz(mime_message_fuzz SOURCES mime_message_fuzz.cpp DEPS qv_mail_store)
