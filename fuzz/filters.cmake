# The provider's filters: journal entries over any day file, web page shortcuts over any
# shortcut file, and mail bodies as the mail proxy leaves them in the shared section.
qv_fuzz(journal_filter_fuzz SOURCES journal_filter_fuzz.cpp DEPS qv_filters)
qv_fuzz(web_page_filter_fuzz SOURCES web_page_filter_fuzz.cpp DEPS qv_filters)
qv_fuzz(mail_body_fuzz SOURCES mail_body_fuzz.cpp DEPS qv_filters)
# Replies of the mail proxy and of the add-in's ranking object, read as item data.
qv_fuzz(mail_proxy_reply_fuzz SOURCES mail_proxy_reply_fuzz.cpp DEPS qv_filters qv_mail_endpoint)
