# Run by `cmake --install`: writes the systemd user units and desktop entries with the
# programs' folder under the prefix the install actually uses (--prefix may differ from the
# prefix the build was configured with), then installs them.
# In: QV_PACKAGING_SOURCE, QV_PACKAGING_BINARY, QV_BINDIR, QV_DATADIR, QV_SYSCONFDIR,
#     QV_WITH_RANKING, QV_WITH_MANAGER, QV_WITH_SEEK_ENTRY; CMAKE_INSTALL_PREFIX from the install itself.
set(bin "${CMAKE_INSTALL_PREFIX}/${QV_BINDIR}")
if(IS_ABSOLUTE "${QV_BINDIR}")
  set(bin "${QV_BINDIR}")
endif()
# Both formats take the path in double quotes; characters that either would read as quoting,
# escapes, specifiers or variables are refused rather than escaped twice over.
if(bin MATCHES "[\"`$%\\\\\n]")
  message(FATAL_ERROR "The programs' folder '${bin}' holds a character (\" ` $ % \\ or a line "
                      "break) that unit files and desktop entries cannot carry; install with "
                      "another --prefix.")
endif()
set(QV_BIN "${bin}")

# One folder per prefix: installs into several prefixes at once (the install test's cases run
# in parallel) must not write each other's files.
string(MD5 prefix_hash "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(out "${QV_PACKAGING_BINARY}/installed/${prefix_hash}")
file(MAKE_DIRECTORY "${out}")
# A unit only for a program this build has, or systemd would refuse it.
set(units qv-indexer.service qv-seek.service)
if(QV_WITH_RANKING)
  list(PREPEND units qv-ranking.service)
endif()
foreach(unit IN LISTS units)
  configure_file("${QV_PACKAGING_SOURCE}/${unit}.in" "${out}/${unit}" @ONLY)
endforeach()
list(TRANSFORM units PREPEND "${out}/")
file(INSTALL DESTINATION "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QV_DATADIR}/systemd/user"
     TYPE FILE FILES ${units})

if(QV_WITH_MANAGER)
  configure_file("${QV_PACKAGING_SOURCE}/quillon-vesper-manager.desktop.in"
                 "${out}/quillon-vesper-manager.desktop" @ONLY)
  file(INSTALL DESTINATION "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QV_SYSCONFDIR}/xdg/autostart"
       TYPE FILE FILES "${out}/quillon-vesper-manager.desktop")
endif()
if(QV_WITH_SEEK_ENTRY)
  configure_file("${QV_PACKAGING_SOURCE}/qvseek.desktop.in" "${out}/qvseek.desktop" @ONLY)
  file(INSTALL DESTINATION "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QV_DATADIR}/applications"
       TYPE FILE FILES "${out}/qvseek.desktop")
endif()
