# The add-in's item visits: the visit binding, the explorers' reading-pane visits, the
# inspectors' visits and the handshake with the tracer when the mail client quits.
qv_library(qv_outlook_visits
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/visit_binding.cpp ${CMAKE_CURRENT_LIST_DIR}/item_identifier.cpp
          ${CMAKE_CURRENT_LIST_DIR}/client_windows.cpp ${CMAKE_CURRENT_LIST_DIR}/explorer_visits.cpp
          ${CMAKE_CURRENT_LIST_DIR}/inspector_visits.cpp
          ${CMAKE_CURRENT_LIST_DIR}/shutdown_handshake.cpp ${CMAKE_CURRENT_LIST_DIR}/addin.cpp
  DEPS qv_context qv_messaging qv_process ${CMAKE_DL_LIBS})

qv_tests(outlook_visits_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/visit_binding_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/explorer_visits_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/inspector_visits_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/shutdown_handshake_test.cpp
  DEPS qv_outlook_visits qv_desktop qv_tracer)
if(TARGET outlook_visits_tests)
  # The binding is tested against the real library, loaded by path as the mail client would.
  target_compile_definitions(outlook_visits_tests PRIVATE QVHOOKS_PATH="$<TARGET_FILE:QvHooks>")
  add_dependencies(outlook_visits_tests QvHooks)
endif()

# The add-in assembled: tracked stores, the published ranking object, the proxy's scopes and
# the visits.
qv_library(qv_mail_addin_runtime
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_addin_runtime.cpp
  DEPS qv_outlook_addin qv_outlook_visits qv_mail_endpoint qv_folders)
qv_tests(mail_addin_runtime_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mail_addin_runtime_test.cpp
  DEPS qv_mail_addin_runtime qv_mail_client qv_desktop)
