# Catalog maintenance requests of the ranking service: the calls' checks on the listener's
# side and the configuration and mail profile work on the catalog worker. qvindex and QvSeek
# link it too, for the configuration check of a new user.
qv_library(qv_catalog_requests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/caller_folders.cpp
    ${CMAKE_CURRENT_LIST_DIR}/catalog_config.cpp
    ${CMAKE_CURRENT_LIST_DIR}/catalog_requests.cpp
  DEPS qv_cihelper qv_indexing qv_context qv_folders)

qv_tests(catalog_requests_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/caller_folders_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/catalog_config_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/catalog_requests_test.cpp
  DEPS qv_catalog_requests)
