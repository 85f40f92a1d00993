# Install rules, the user guide as Varnel.pdf, and a Debian package (CPack DEB).
# Included from app/CMakeLists.txt, so it is active only when the desktop program is built.
include(GNUInstallDirs)

set(VARNEL_DOCS ${VARNEL_SOURCE_ROOT}/docs)
# The help command also looks here, relative to the installed executable.
set(VARNEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/varnel)

# Varnel.pdf from the man pages: groff (package groff-base) writes PostScript, ps2pdf
# (ghostscript) turns it into PDF. Without the tools the PDF is skipped, not the build.
find_program(VARNEL_GROFF groff)
find_program(VARNEL_PS2PDF ps2pdf)
if(VARNEL_GROFF AND VARNEL_PS2PDF)
  set(VARNEL_PDF ${CMAKE_BINARY_DIR}/app/Varnel.pdf)
  add_custom_command(
    OUTPUT ${VARNEL_PDF}
    COMMAND ${VARNEL_GROFF} -man -Tps ${VARNEL_DOCS}/varnel-guide.7 ${VARNEL_DOCS}/varnel.1
            > ${CMAKE_BINARY_DIR}/app/Varnel.ps
    COMMAND ${VARNEL_PS2PDF} ${CMAKE_BINARY_DIR}/app/Varnel.ps ${VARNEL_PDF}
    DEPENDS ${VARNEL_DOCS}/varnel-guide.7 ${VARNEL_DOCS}/varnel.1
    COMMENT "Building Varnel.pdf from the user guide"
    VERBATIM)
  # The help command looks for Varnel.pdf beside the executable.
  add_custom_target(varnel_pdf ALL DEPENDS ${VARNEL_PDF})
  add_dependencies(varnel-gui varnel_pdf)
  install(FILES ${VARNEL_PDF} DESTINATION ${VARNEL_DOC_DIR})
else()
  message(STATUS "groff or ps2pdf not found: Varnel.pdf is not built")
endif()

install(TARGETS varnel-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET varnel)
  install(TARGETS varnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${VARNEL_DOCS}/varnel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VARNEL_DOCS}/varnel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 RENAME varnel-gui.1)
install(FILES ${VARNEL_DOCS}/varnel-guide.7 DESTINATION ${CMAKE_INSTALL_MANDIR}/man7)
install(FILES ${VARNEL_SOURCE_ROOT}/app/varnel-gui.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VARNEL_SOURCE_ROOT}/app/varnel-gui.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
if(EXISTS ${VARNEL_SOURCE_ROOT}/samples/rules/demo.ntx)
  install(FILES ${VARNEL_SOURCE_ROOT}/samples/rules/demo.ntx
          DESTINATION ${VARNEL_DOC_DIR}/examples)
endif()

set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VENDOR "Quillon")
set(CPACK_PACKAGE_CONTACT "Quillon <support@quillon.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Batch converter for ANSI/NIST-ITL transaction files")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
