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

# A new user's road through the programs: verify, index, visit, search.
qv_tests(new_user_end_to_end_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/new_user_end_to_end_test.cpp)
if(TARGET new_user_end_to_end_tests)
  target_compile_definitions(new_user_end_to_end_tests PRIVATE
    QVRANK_PATH="$<TARGET_FILE:qvrank>" QVINDEX_PATH="$<TARGET_FILE:qvindex>"
    QVSEEK_PATH="$<TARGET_FILE:QvSeek>" QVINDEXER_PATH="$<TARGET_FILE:qvindexer>")
  add_dependencies(new_user_end_to_end_tests qvrank qvindex qvindexer QvSeek)
endif()
