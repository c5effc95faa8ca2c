# The Windows packages of the window and the runner, made by scripts/build-windows:
#
#   cpack -G ZIP    importacao-<version>-win64.zip: both programs and LEIA-ME.txt
#   cpack -G NSIS   importacao-<version>-win64.exe: an installer with a Start-menu entry
#
# The programs' install() rules live beside their targets (app/); this file adds the operator's
# guide in Portuguese.
install(FILES "${PROJECT_SOURCE_DIR}/packaging/windows/LEIA-ME.txt" DESTINATION .)

set(CPACK_PACKAGE_NAME "importacao")
set(CPACK_PACKAGE_VENDOR "Sistema de Importação")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Sistema de Importação")
set(CPACK_SYSTEM_NAME "win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Importacao")
set(CPACK_PACKAGE_EXECUTABLES "importacao" "Sistema de Importação")
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

set(CPACK_NSIS_PACKAGE_NAME "Sistema de Importação")
set(CPACK_NSIS_DISPLAY_NAME "Sistema de Importação")
# A 64-bit installer for the 64-bit programs: it installs into the 64-bit Program Files and
# writes its uninstall entry in the 64-bit registry view, where Windows lists 64-bit programs.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_FINISHPAGE_RUN "importacao.exe")
set(CPACK_NSIS_INSTALLED_ICON_NAME "importacao.exe")  # the icon of its entry in the program list
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_MENU_LINKS "LEIA-ME.txt" "Leia-me")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)

include(CPack)
