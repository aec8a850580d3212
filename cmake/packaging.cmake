# What `cmake --install` puts where, and the packages made of it: for Windows a
# folder that tools/build-windows.sh zips, elsewhere the .debs that CPack makes:
# wldmap, the tool, and wldmap-kde, the KDE thumbnail plugin, where it is built.
# Both are reproducible: built twice from one commit, in any folders and at any
# times, they are the same bytes.

# Every date the build writes (the man page's, the packages' file times, the
# changelog's) is the date of the sources' last change: SOURCE_DATE_EPOCH when
# it is set, else the last commit's date, which `git archive` writes into
# cmake/source-date-epoch and git itself can tell, else a fixed date.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(WLDMAP_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  file(STRINGS cmake/source-date-epoch WLDMAP_SOURCE_DATE_EPOCH LIMIT_COUNT 1)
  if(NOT WLDMAP_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    find_package(Git QUIET)
    set(WLDMAP_SOURCE_DATE_EPOCH 1767225600)  # 2026-01-01, when nothing tells
    if(GIT_FOUND AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/.git)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                      WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                      OUTPUT_VARIABLE last_commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(last_commit MATCHES "^[0-9]+$")
        set(WLDMAP_SOURCE_DATE_EPOCH ${last_commit})
      endif()
    endif()
  endif()
endif()
set(ENV{SOURCE_DATE_EPOCH} ${WLDMAP_SOURCE_DATE_EPOCH})  # for string(TIMESTAMP) below
# CPack reads it from its own environment when it stamps the archives' members;
# tools/build-windows.sh reads it from a file.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake
     "set(ENV{SOURCE_DATE_EPOCH} ${WLDMAP_SOURCE_DATE_EPOCH})\nset(ENV{TZ} UTC)\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/source-date-epoch "${WLDMAP_SOURCE_DATE_EPOCH}\n")
# Folders get the same permissions whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME wldmap)
set(CPACK_PACKAGE_VENDOR "wldmap developers")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # One folder: the program, its colours beside it, the Explorer thumbnail
  # provider with its two scripts, the script a world is dropped on for its
  # page, a README.txt, the manual and the licence, the text files
  # with Windows line ends. tools/build-windows.sh zips it.
  install(TARGETS wldmap wldmap_thumbnails RUNTIME DESTINATION .)
  install(FILES data/tilecolors.txt ${CMAKE_CURRENT_BINARY_DIR}/register.cmd
                ${CMAKE_CURRENT_BINARY_DIR}/unregister.cmd
                ${CMAKE_CURRENT_BINARY_DIR}/wldmap-explore.cmd DESTINATION .)
  configure_file(data/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  # The manual, made from the man page as plain text with Windows line ends:
  # the rules are written once, there.
  find_program(WLDMAP_GROFF groff REQUIRED)
  string(TIMESTAMP WLDMAP_MAN_DATE "%B %Y" UTC)
  configure_file(data/wldmap.1 ${CMAKE_CURRENT_BINARY_DIR}/wldmap.1 @ONLY)
  execute_process(COMMAND ${WLDMAP_GROFF} -man -Tascii -P-cbou -rLL=78n
                          ${CMAKE_CURRENT_BINARY_DIR}/wldmap.1
                  OUTPUT_VARIABLE manual COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" "\r\n" manual "${manual}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/MANUAL.txt "${manual}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
                ${CMAKE_CURRENT_BINARY_DIR}/MANUAL.txt DESTINATION .)
  return()
endif()

include(GNUInstallDirs)
string(TIMESTAMP WLDMAP_MAN_DATE "%B %Y" UTC)
configure_file(data/wldmap.1 ${CMAKE_CURRENT_BINARY_DIR}/wldmap.1 @ONLY)
install(TARGETS wldmap RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/tilecolors.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/wldmap)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/wldmap.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/wldmap.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/wldmap-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME wldmap.xml)
# File managers' thumbnail services run it for every world they show.
install(FILES data/wldmap.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
# The service that keeps a folder's maps current, for an admin to enable per user.
install(FILES "data/wldmap-watch@.service" DESTINATION lib/systemd/user)

# The .deb's maintainer. The project has no mailing list or address of its own,
# so the default is a name alone, which lintian calls malformed; the package then
# carries an override for that one tag. A packager sets their own Name <address>.
set(WLDMAP_MAINTAINER "wldmap developers" CACHE STRING
    "The Maintainer of the .deb, as Name <address>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WLDMAP_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION
    "wldmap reads a two-dimensional tile world saved in a .wld file and writes a PNG\nmap of it, one pixel per cell: background by depth, wall, tile and liquid.\nA desktop entry runs it on a world file dropped on it or opened with it, and\nfile managers show each world's map as its thumbnail.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# One package a component: the tool's, and the KDE plugin's, which needs the
# tool's colours and file type.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL wldmap)
set(CPACK_DEBIAN_PACKAGE_SOURCE wldmap)
set(CPACK_DEBIAN_WLDMAP_PACKAGE_NAME wldmap)
# Each package's description, its synopsis first; CPack would put one summary
# before every package's description unless the summary is false ("IGNORE").
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY IGNORE)
set(CPACK_DEBIAN_WLDMAP_DESCRIPTION
    "render a saved tile world (.wld) as a PNG map\n${CPACK_PACKAGE_DESCRIPTION}")
if(TARGET wldmap_kde_thumbnail)
  list(APPEND CPACK_COMPONENTS_ALL kde)
  set(CPACK_DEBIAN_KDE_PACKAGE_NAME wldmap-kde)
  set(CPACK_DEBIAN_KDE_PACKAGE_SECTION kde)
  set(CPACK_DEBIAN_KDE_PACKAGE_DEPENDS "wldmap (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_KDE_DESCRIPTION
      "tile world maps as previews in Dolphin and KDE's file dialogs\nA plugin for KDE's thumbnail worker that shows each saved tile world (.wld)\nas its map, the map wldmap paints, scaled down, in Dolphin and wherever KDE\napplications show file previews.")
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends from the libraries the binary links
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")

# What Debian asks of a package beyond the install tree, added to CPack's staging
# tree only: the copyright in the machine-readable format, the changelog and the
# man page compressed with gzip -9n (no name, no time), and the override.
set(deb ${CMAKE_CURRENT_BINARY_DIR}/deb)
file(STRINGS LICENSE license_lines)
set(license_text "")
foreach(line IN LISTS license_lines)
  if(line STREQUAL "")
    string(APPEND license_text " .\n")
  else()
    string(APPEND license_text " ${line}\n")
  endif()
endforeach()
file(WRITE ${deb}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: wldmap\n\nFiles: *\nCopyright: 2026 the wldmap authors\n"
     "License: Expat\n${license_text}")
# The changelog's entry is signed by the maintainer. Its format demands an
# address; for a name alone it gets one in the .invalid domain, which RFC 2606
# keeps for addresses that are none, so the signature claims no address.
set(WLDMAP_CHANGELOG_AUTHOR "${WLDMAP_MAINTAINER}")
set(WLDMAP_LINTIAN_OVERRIDE "")
if(NOT WLDMAP_MAINTAINER MATCHES "^[^<>]+ <[^<>@]+@[^<>@]+>$")
  set(WLDMAP_CHANGELOG_AUTHOR "${WLDMAP_MAINTAINER} <nobody@wldmap.invalid>")
  set(WLDMAP_LINTIAN_OVERRIDE ${deb}/lintian-overrides)
  file(WRITE ${WLDMAP_LINTIAN_OVERRIDE}
       "# The project has no address of its own, so its default Maintainer is a name\n"
       "# alone; a packager sets WLDMAP_MAINTAINER to Name <address>.\n"
       "PACKAGE: malformed-contact Maintainer *\n")
endif()
string(TIMESTAMP WLDMAP_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(REPLACE ";" " " WLDMAP_PACKAGES "${CPACK_COMPONENTS_ALL}")
configure_file(data/changelog ${deb}/changelog @ONLY)
configure_file(cmake/deb-staging.cmake.in ${deb}/staging.cmake @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${deb}/staging.cmake)
include(CPack)
