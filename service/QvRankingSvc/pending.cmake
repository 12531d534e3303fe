# Deferred rank updates: UpdatePending's scheduling into the job table and the runner that
# starts the due jobs. Included by this folder's CMakeLists.txt.
qv_library(qv_pending_updates
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/pending_update.cpp ${CMAKE_CURRENT_LIST_DIR}/pending_jobs.cpp
  DEPS qv_context qv_scheduler qv_process)
qv_tests(pending_update_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/pending_update_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/pending_jobs_test.cpp
  DEPS qv_pending_updates qv_ranking qv_update_args)
if(TARGET pending_update_tests)
  target_compile_definitions(pending_update_tests PRIVATE QVUPDATE_PATH="$<TARGET_FILE:QvUpdate>")
  add_dependencies(pending_update_tests QvUpdate)
endif()
