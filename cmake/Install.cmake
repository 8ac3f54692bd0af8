# The installed layout, under any prefix:
#   bin/tunewick, bin/tunewick-analyze
#   share/tunewick/            the folders the program reads beside itself in the build tree
#   share/applications/, share/metainfo/, share/icons/hicolor/, share/man/man1/,
#   share/doc/tunewick/        the desktop entry, AppStream data, icons, manual pages, and the
#                              copyright and changelog a Debian package carries
# The program finds share/tunewick from its own real path (../share/tunewick).
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(generated ${PROJECT_BINARY_DIR}/packaging)

# One version everywhere: the changelog's and the AppStream data's latest release must be the
# project's version.
file(STRINGS ${packaging}/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^tunewick \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with \"${changelog_top}\", "
                      "not the project's version ${PROJECT_VERSION}")
endif()
file(READ ${packaging}/${TUNEWICK_APP_ID}.metainfo.xml metainfo)
if(NOT metainfo MATCHES "<releases>[ \n]*<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "packaging/${TUNEWICK_APP_ID}.metainfo.xml does not name ${PROJECT_VERSION} "
                      "as its latest release")
endif()

# The PNG icons are drawn from the SVG; manual pages and the changelog are installed gzipped.
find_program(TUNEWICK_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(TUNEWICK_GZIP gzip REQUIRED)
set(generated_files)
foreach(size 48 128 256)
  set(png ${generated}/icons/${size}x${size}/tunewick.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}x${size}
    COMMAND ${TUNEWICK_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${packaging}/icons/tunewick.svg
    DEPENDS ${packaging}/icons/tunewick.svg
    COMMENT "Drawing the ${size} px icon")
  list(APPEND generated_files ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
foreach(page tunewick.1 tunewick-analyze.1)
  add_custom_command(OUTPUT ${generated}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND ${TUNEWICK_GZIP} -9nc ${packaging}/man/${page} > ${generated}/${page}.gz
    DEPENDS ${packaging}/man/${page}
    VERBATIM)
  list(APPEND generated_files ${generated}/${page}.gz)
  install(FILES ${generated}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${generated}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
  COMMAND ${TUNEWICK_GZIP} -9nc ${packaging}/debian/changelog > ${generated}/changelog.gz
  DEPENDS ${packaging}/debian/changelog
  VERBATIM)
list(APPEND generated_files ${generated}/changelog.gz)
add_custom_target(tunewick_packaging_files ALL DEPENDS ${generated_files})

install(TARGETS tunewick tunewick_analyze RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Whatever the build puts in these folders beside the program goes along.
foreach(dir IN LISTS TUNEWICK_PROGRAM_FILES)
  install(DIRECTORY ${CMAKE_BINARY_DIR}/bin/${dir} DESTINATION ${CMAKE_INSTALL_DATADIR}/tunewick)
endforeach()
install(FILES ${packaging}/${TUNEWICK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${TUNEWICK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/icons/tunewick.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging}/debian/copyright ${generated}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
