# The mail client's extension writes frames of JSON to qvmailhost's standard input.
qv_fuzz(mail_host_message_fuzz SOURCES mail_host_message_fuzz.cpp DEPS qv_tb_host)
