# The KDE thumbnail plugin: a KIO::ThumbnailCreator that KIO's thumbnail worker
# loads for .wld files, so that Dolphin and KDE's file dialogs show each world's
# map. It goes into a package of its own, wldmap-kde, so that the tool never
# depends on Qt or KDE.
find_package(KF5KIO 5.100 QUIET)  # KIO::ThumbnailCreator came with 5.100
if(NOT KF5KIO_FOUND)
  message(STATUS "KF5 KIO 5.100 or later not found: the KDE thumbnail plugin is not built")
  return()
endif()
include(GNUInstallDirs)

# Where Qt looks for plugins, taken from Qt itself relative to its prefix
# (lib/x86_64-linux-gnu/qt5/plugins on Debian), and there the folder KIO's
# thumbnail worker searches.
get_target_property(qmake Qt5::qmake IMPORTED_LOCATION)
foreach(query QT_INSTALL_PREFIX QT_INSTALL_PLUGINS)
  execute_process(COMMAND ${qmake} -query ${query} OUTPUT_VARIABLE ${query}
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endforeach()
file(RELATIVE_PATH qt_plugins ${QT_INSTALL_PREFIX} ${QT_INSTALL_PLUGINS})
set(WLDMAP_KDE_PLUGIN_DIR ${qt_plugins}/kf5/thumbcreator CACHE STRING
    "Where the KDE thumbnail plugin is installed, under the prefix")
# The colours the installed tool uses, found from the plugin's own folder
# whatever the prefix.
file(RELATIVE_PATH to_data /${WLDMAP_KDE_PLUGIN_DIR} /${CMAKE_INSTALL_DATADIR}/wldmap)

add_library(wldmap_kde_thumbnail MODULE src/kde/world_thumbnail_creator.cpp)
set_target_properties(wldmap_kde_thumbnail PROPERTIES
  OUTPUT_NAME wldmap-thumbnail PREFIX "" AUTOMOC ON
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_link_libraries(wldmap_kde_thumbnail PRIVATE KF5::KIOGui wldmap_core wldmap_world
                                                   wldmap_colors wldmap_render wldmap_platform)
# The tool's own libraries are linked in and not exported from the plugin.
target_link_options(wldmap_kde_thumbnail PRIVATE -Wl,--exclude-libs,ALL)
target_compile_definitions(wldmap_kde_thumbnail PRIVATE WLDMAP_KDE_DATA_FOLDER="${to_data}/")
target_compile_options(wldmap_kde_thumbnail PRIVATE ${WLDMAP_STRICT_WARNINGS})
# Linked into a shared object, so compiled as position-independent code.
set_target_properties(wldmap_core wldmap_world wldmap_colors wldmap_render wldmap_model
                      wldmap_platform PROPERTIES POSITION_INDEPENDENT_CODE ON)
install(TARGETS wldmap_kde_thumbnail LIBRARY DESTINATION ${WLDMAP_KDE_PLUGIN_DIR} COMPONENT kde)

# The client of KIO's preview job that the suite runs against the installed
# plugin.
if(WLDMAP_TESTS)
  find_package(KF5KIO 5.100 REQUIRED COMPONENTS KIOWidgets)
  add_executable(preview_job_client tests/kde/preview_job_client.cpp)
  target_link_libraries(preview_job_client PRIVATE KF5::KIOWidgets)
endif()
