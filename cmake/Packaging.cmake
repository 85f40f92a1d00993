# Install rules, the user guide as Varnel.pdf, and a Debian package (CPack DEB).
# Included from app/CMakeLists.txt, so it is active only when the desktop program is built.
include(GNUInstallDirs)

set(VARNEL_DOCS ${VARNEL_SOURCE_ROOT}/docs)
# The help command also looks here, relative to the installed executable.
set(VARNEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/varnel)

# The man pages carry the project version; they are configured into the build folder, and the
# installed copies are compressed as Debian expects (gzip -9n: no name or time stamp inside).
set(VARNEL_MAN_OUT ${CMAKE_BINARY_DIR}/man)
set(VARNEL_MAN_PAGES varnel.1 varnel-gui.1 varnel-guide.7)
set(VARNEL_MAN_GZ)
foreach(page ${VARNEL_MAN_PAGES})
  configure_file(${VARNEL_DOCS}/${page} ${VARNEL_MAN_OUT}/${page} @ONLY)
  add_custom_command(
    OUTPUT ${VARNEL_MAN_OUT}/${page}.gz
    COMMAND gzip -9n -c ${VARNEL_MAN_OUT}/${page} > ${VARNEL_MAN_OUT}/${page}.gz
    DEPENDS ${VARNEL_MAN_OUT}/${page}
    VERBATIM)
  list(APPEND VARNEL_MAN_GZ ${VARNEL_MAN_OUT}/${page}.gz)
endforeach()
configure_file(${VARNEL_SOURCE_ROOT}/docs/package/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(varnel_package_docs ALL DEPENDS ${VARNEL_MAN_GZ} ${CMAKE_BINARY_DIR}/packaging/changelog.gz)

# Varnel.pdf from the man pages: groff (package groff-base) lays out the pages in PostScript
# with a page of contents, netpbm turns the pictures of docs/guide-pictures.txt into EPS for
# groff to place, and ps2pdf (ghostscript) writes the PDF. Without groff or ps2pdf the PDF is
# skipped, not the build; without netpbm it has no pictures.
find_program(VARNEL_GROFF groff)
find_program(VARNEL_PS2PDF ps2pdf)
find_program(VARNEL_PNGTOPNM pngtopnm)
find_program(VARNEL_PNMTOPS pnmtops)
if(VARNEL_GROFF AND VARNEL_PS2PDF)
  set(VARNEL_PDF ${CMAKE_BINARY_DIR}/app/Varnel.pdf)
  set(VARNEL_PDF_PICTURES)
  if(VARNEL_PNGTOPNM AND VARNEL_PNMTOPS)
    set(VARNEL_PDF_PICTURES ${VARNEL_PNGTOPNM} ${VARNEL_PNMTOPS})
  else()
    message(STATUS "netpbm (pngtopnm, pnmtops) not found: Varnel.pdf is built without pictures")
  endif()
  file(GLOB VARNEL_PDF_PNGS ${VARNEL_DOCS}/*.png ${VARNEL_DOCS}/screenshots/*.png)
  add_custom_command(
    OUTPUT ${VARNEL_PDF}
    COMMAND bash ${VARNEL_DOCS}/make-guide-pdf.sh ${VARNEL_PDF} ${CMAKE_BINARY_DIR}/guide
            ${VARNEL_DOCS} ${VARNEL_MAN_OUT} ${VARNEL_GROFF} ${VARNEL_PS2PDF} ${VARNEL_PDF_PICTURES}
    DEPENDS ${VARNEL_MAN_OUT}/varnel-guide.7 ${VARNEL_MAN_OUT}/varnel.1 ${VARNEL_MAN_OUT}/varnel-gui.1
            ${VARNEL_DOCS}/make-guide-pdf.sh ${VARNEL_DOCS}/guide-pictures.txt ${VARNEL_PDF_PNGS}
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
install(TARGETS varnel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VARNEL_MAN_OUT}/varnel.1.gz ${VARNEL_MAN_OUT}/varnel-gui.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VARNEL_MAN_OUT}/varnel-guide.7.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man7)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${VARNEL_SOURCE_ROOT}/docs/package/copyright
        DESTINATION ${VARNEL_DOC_DIR})
install(FILES ${VARNEL_SOURCE_ROOT}/docs/cluster.md DESTINATION ${VARNEL_DOC_DIR})
install(FILES ${VARNEL_SOURCE_ROOT}/docs/package/varnel.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME varnel)
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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch converter for ANSI/NIST-ITL transaction files")
set(CPACK_PACKAGE_DESCRIPTION "Varnel converts biometric transaction files in the ANSI/NIST-ITL format,
in the traditional tagged/binary encoding and the 2011 XML encoding, one
folder at a time. A rule file (.ntx) lists what to do to each transaction:
edit fields, delete or convert records, recompress fingerprint images to WSQ,
lossless JPEG 2000 or PNG, convert minutiae, export images and a tenprint
card, write a CSV summary, rename and choose the encoding. Each run writes
an HTML report of what was done to every file.
.
The package has the varnel command line and the varnel-gui desktop program.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillon.example/varnel")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
