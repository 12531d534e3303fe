# The document readers of our own: RTF, and the zip and XML glue under the OpenDocument,
# Office Open XML and EPUB readers.
qv_fuzz(rtf_reader_fuzz SOURCES rtf_reader_fuzz.cpp DEPS qv_document_readers)
# Mail files: the glue that picks a message's text, title, author and date.
qv_fuzz(mail_reader_fuzz SOURCES mail_reader_fuzz.cpp DEPS qv_document_readers)
if(TARGET PkgConfig::QV_LIBZIP AND TARGET PkgConfig::QV_EXPAT)
  qv_fuzz(zip_document_fuzz SOURCES zip_document_fuzz.cpp DEPS qv_document_readers PkgConfig::QV_LIBZIP)
endif()
