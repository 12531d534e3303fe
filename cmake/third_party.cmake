# SQLite and Snowball's stemmers (libsqlite3-dev, libstemmer-dev), as qv_sqlite and
# qv_stemmer. A program whose QV_STATIC_RUNTIME property is on links their static archives
# instead of the shared libraries (see QvSeek).
find_package(SQLite3 REQUIRED)
find_library(STEMMER_LIBRARY stemmer REQUIRED)
find_path(STEMMER_INCLUDE_DIR libstemmer.h REQUIRED)
find_library(QV_SQLITE_ARCHIVE libsqlite3.a)
find_library(QV_STEMMER_ARCHIVE libstemmer.a)

# Evaluated for the program being linked, whichever library of ours asked for these.
set(qv_static_runtime "$<BOOL:$<TARGET_PROPERTY:QV_STATIC_RUNTIME>>")
add_library(qv_sqlite INTERFACE)
target_include_directories(qv_sqlite INTERFACE ${SQLite3_INCLUDE_DIRS})
target_link_libraries(qv_sqlite INTERFACE
  "$<$<NOT:${qv_static_runtime}>:SQLite::SQLite3>"
  "$<${qv_static_runtime}:${QV_SQLITE_ARCHIVE}>" "$<${qv_static_runtime}:m>"
  "$<${qv_static_runtime}:Threads::Threads>" "$<${qv_static_runtime}:${CMAKE_DL_LIBS}>")
add_library(qv_stemmer INTERFACE)
target_include_directories(qv_stemmer INTERFACE ${STEMMER_INCLUDE_DIR})
target_link_libraries(qv_stemmer INTERFACE
  "$<IF:${qv_static_runtime},${QV_STEMMER_ARCHIVE},${STEMMER_LIBRARY}>")

# qv_static_runtime(TARGET): links the C++ runtime, SQLite and the stemmers into a program,
# where the static archives exist and no sanitizer needs the shared runtime. A one-off
# process spends less on loading and relocating shared libraries.
function(qv_static_runtime name)
  if(QV_SQLITE_ARCHIVE AND QV_STEMMER_ARCHIVE AND NOT (QV_SANITIZE OR QV_TSAN OR QV_FUZZ))
    set_target_properties(${name} PROPERTIES QV_STATIC_RUNTIME ON)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
    message(STATUS "${name}: the C++ runtime, SQLite and the stemmers linked in")
  else()
    message(STATUS "${name}: the C++ runtime, SQLite and the stemmers shared")
  endif()
endfunction()
