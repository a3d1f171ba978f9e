# Installs the tool as a Linux desktop program: `cmake --install build --prefix DIR`.
#
# The embedded qt.conf (Prefix=.) makes Qt look for its plug-ins and QML
# modules beside the executable, and Qt finds the executable's folder through
# /proc/self/exe, that is behind every link. So the executable lives in a
# folder of its own, lib/<application id>/, with links there to the plug-ins
# and QML modules of the Qt installation, and bin/ holds a link to it.
if(NOT UNIX OR APPLE)
  return()
endif()

include(GNUInstallDirs)

set(TESSALY_APP_ID example.tessaly.ServerConfigTool)
set(TESSALY_PACKAGE_NAME tessaly-config-tool)
set(TESSALY_INSTALL_APPDIR lib/${TESSALY_APP_ID})
set(TESSALY_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TESSALY_PACKAGE_NAME})
set(TESSALY_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# What the packaging scripts need to know about this build, for the shell.
file(WRITE ${CMAKE_BINARY_DIR}/package-info.sh
  "package_name='${TESSALY_PACKAGE_NAME}'\npackage_version='${PROJECT_VERSION}'\n"
  "app_id='${TESSALY_APP_ID}'\nqt_plugins='${TESSALY_QT_PLUGINS}'\nqt_qml='${TESSALY_QT_QML}'\n")

# The command-line companion lives beside the window's executable.
install(TARGETS tessaly-config-tool tessaly-config-cli RUNTIME DESTINATION ${TESSALY_INSTALL_APPDIR})

# The links are made when installing, since only then the prefix is known:
# relative where the target lies under the prefix (as in the Debian package),
# absolute otherwise. They go through file(INSTALL), so that DESTDIR and the
# install manifest apply to them as to every other file.
install(CODE "set(tessaly_links_dir \"${CMAKE_CURRENT_BINARY_DIR}/install-links\")")
install(CODE [[
  function(tessaly_install_link folder name target)
    get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
    string(FIND "${target}" "${prefix}/" at)
    if(at EQUAL 0)
      file(RELATIVE_PATH target "${prefix}/${folder}" "${target}")
    endif()
    file(REMOVE_RECURSE "${tessaly_links_dir}/${folder}/${name}")
    file(MAKE_DIRECTORY "${tessaly_links_dir}/${folder}")
    file(CREATE_LINK "${target}" "${tessaly_links_dir}/${folder}/${name}" SYMBOLIC)
    file(INSTALL DESTINATION "${prefix}/${folder}" TYPE FILE FILES "${tessaly_links_dir}/${folder}/${name}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
  endfunction()
]])
install(CODE "
  tessaly_install_link(${TESSALY_INSTALL_APPDIR} plugins \"${TESSALY_QT_PLUGINS}\")
  tessaly_install_link(${TESSALY_INSTALL_APPDIR} qml \"${TESSALY_QT_QML}\")
  get_filename_component(tessaly_prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  tessaly_install_link(${CMAKE_INSTALL_BINDIR} tessaly-config-tool
    \"\${tessaly_prefix}/${TESSALY_INSTALL_APPDIR}/tessaly-config-tool\")
  tessaly_install_link(${CMAKE_INSTALL_BINDIR} tessaly-config-cli
    \"\${tessaly_prefix}/${TESSALY_INSTALL_APPDIR}/tessaly-config-cli\")
")

install(FILES ${TESSALY_PACKAGING_DIR}/${TESSALY_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${TESSALY_PACKAGING_DIR}/${TESSALY_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

# The icon, drawn from the same source as the one the tool embeds.
set(icon_source ${PROJECT_SOURCE_DIR}/resources/svg/tesstool.svg)
find_program(TESSALY_RSVG_CONVERT rsvg-convert)
if(NOT TESSALY_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert (Debian: librsvg2-bin) renders the icons; scripts/setup.sh installs it")
endif()
set(icon_files "")
foreach(size 48 128 256)
  set(icon ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}/${TESSALY_APP_ID}.png)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}
    COMMAND ${TESSALY_RSVG_CONVERT} -w ${size} -h ${size} ${icon_source} -o ${icon}
    DEPENDS ${icon_source}
    VERBATIM)
  list(APPEND icon_files ${icon})
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${icon_source} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
  RENAME ${TESSALY_APP_ID}.svg)

# Manual pages are installed compressed; -n leaves the time out of the file.
set(man_pages "")
foreach(page tessaly-config-tool tessaly-config-cli)
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/${page}.1.gz)
  add_custom_command(OUTPUT ${man_page}
    COMMAND gzip -9nc ${TESSALY_PACKAGING_DIR}/${page}.1 > ${man_page}
    DEPENDS ${TESSALY_PACKAGING_DIR}/${page}.1)
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  list(APPEND man_pages ${man_page})
endforeach()

add_custom_target(tessaly_install_files ALL DEPENDS ${icon_files} ${man_pages})

# The command's shell completion and the schema of its JSON documents.
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly-config-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME tessaly-config-cli)
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly-config-cli.schema.json DESTINATION ${TESSALY_INSTALL_DOCDIR})

# The Roboto fonts are embedded in the executable.
install(FILES ${TESSALY_PACKAGING_DIR}/copyright ${PROJECT_SOURCE_DIR}/resources/Roboto-LICENSE.txt
  DESTINATION ${TESSALY_INSTALL_DOCDIR})
