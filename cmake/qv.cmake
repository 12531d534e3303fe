# Helpers shared by every folder's CMakeLists.txt.
include(GNUInstallDirs)

# qv_library(NAME SOURCES a.cpp b.cpp DEPS other_lib ...)
function(qv_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
endfunction()

# qv_tests(NAME SOURCES x_test.cpp ... DEPS lib ...): one GoogleTest program, its cases
# registered with CTest one by one and labelled with the program's name (ctest -L NAME).
function(qv_tests name)
  if(NOT QV_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  # Not installed: the run path names the build folders of the libraries it links.
  set_target_properties(${name} PROPERTIES BUILD_WITH_INSTALL_RPATH OFF)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QV_BUILD_DIR=${PROJECT_BINARY_DIR}" LABELS ${name})
endfunction()

# qv_tool(NAME SOURCES main.cpp DEPS lib ...): a command-line program put in bin/, and
# installed there by `cmake --install`.
function(qv_tool name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  qv_install_program(${name})
endfunction()

# qv_install_program(TARGET): installs a program into bin/ once, however many folders ask;
# the install test finds every installed program in the QV_INSTALLED_PROGRAMS list.
function(qv_install_program name)
  get_property(done GLOBAL PROPERTY QV_INSTALLED_PROGRAMS)
  if(name IN_LIST done)
    return()
  endif()
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY QV_INSTALLED_PROGRAMS ${name})
endfunction()
