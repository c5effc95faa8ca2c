# The Debian package of the window and the headless runner. In a build folder:
#
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DIMP_BUILD_TESTS=OFF
#   cmake --build build -j2 && (cd build && cpack)
#
# gives build/importacao_<version>_<arch>.deb. The executables' own install() rules live
# beside their targets (app/); this file installs what goes with them: the desktop entry and
# its icon, the manual pages, the store schema with its seed and the scripts that load it,
# and the operator's guide.

include(GNUInstallDirs)

set(IMP_SHARE_DIR "${CMAKE_INSTALL_DATADIR}/importacao")

install(FILES "${PROJECT_SOURCE_DIR}/packaging/importacao.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${PROJECT_SOURCE_DIR}/packaging/importacao.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

# The store schema and the municipality seed, laid out as in the repository so that
# /usr/share/importacao/scripts/make-store finds them beside itself.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/schema/"
        DESTINATION "${IMP_SHARE_DIR}/schema"
        FILES_MATCHING PATTERN "*.sql" PATTERN "seed" EXCLUDE)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/schema/seed/"
        DESTINATION "${IMP_SHARE_DIR}/schema/seed"
        FILES_MATCHING PATTERN "*.csv" PATTERN "*.py" PATTERN "*.md" PATTERN "*.txt"
        PATTERN "*_test.py" EXCLUDE PATTERN "__pycache__" EXCLUDE)
install(PROGRAMS "${PROJECT_SOURCE_DIR}/scripts/make-store"
                 "${PROJECT_SOURCE_DIR}/scripts/make-demo-dbf"
        DESTINATION "${IMP_SHARE_DIR}/scripts")

install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/importacao")

# Debian wants manual pages compressed, without a time stamp in the gzip header.
find_program(IMP_GZIP gzip)
set(imp_man_pages)
foreach(page importacao.1 importacao-cli.1)
  set(src "${PROJECT_SOURCE_DIR}/packaging/${page}")
  if(EXISTS "${src}" AND IMP_GZIP)
    set(copy "${PROJECT_BINARY_DIR}/packaging/${page}")
    set(out "${copy}.gz")
    add_custom_command(OUTPUT "${out}"
      COMMAND "${CMAKE_COMMAND}" -E copy "${src}" "${copy}"
      COMMAND "${IMP_GZIP}" -9 -n -f "${copy}"
      DEPENDS "${src}" VERBATIM)
    list(APPEND imp_man_pages "${out}")
  endif()
endforeach()
if(imp_man_pages)
  add_custom_target(imp_man_pages ALL DEPENDS ${imp_man_pages})
  install(FILES ${imp_man_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "importacao")
set(CPACK_PACKAGE_VENDOR "Sistema de Importação")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "moves a legacy store's dBASE master data into the new store's SQL database")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "importacao")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Sistema de Importação <importacao@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary above is the first line of the control file's description; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Reads the products (cfa1010.DBF), customers (CFA2010.DBF) and suppliers
(CFA3010.DBF) of a legacy store system's dBASE folder and writes every record
into the new store's database by its key: updated when the row exists,
inserted when not, so a run can be repeated. The store is reached over ODBC
from a data-link file: SQL Server through FreeTDS, PostgreSQL or SQLite.
.
Two programs: importacao, the window, and importacao-cli, the same run
without a window for scripted runs.")
# Library dependencies (Qt 6 Widgets, unixODBC's libodbc2, the C++ runtime) are read from
# the executables by dpkg-shlibdeps. The ODBC drivers are loaded at run time by name from
# /etc/odbcinst.ini, so no linker sees them: they are recommended here instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window is laid out for Liberation Sans (the metrics of the desktop faces it was drawn
# for); with DejaVu alone it takes a smaller size at which every caption still fits. No linker
# sees fonts either: one of them is required, Liberation recommended.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2 | fonts-liberation | fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "odbc-postgresql, libsqliteodbc, tdsodbc, fonts-liberation2 | fonts-liberation")
# make-store and make-demo-dbf need these; the import itself does not.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, sqlite3, postgresql-client")

include(CPack)
