# Installing and the Debian package (scripts/package-deb runs cpack).
#
# The window, mubtool and the bridge library share one private folder, so
# that the window's start-up check and `mubtool --port USB` find the library
# beside their program file; /usr/bin holds relative links to the programs.
# An installed program folder is read-only for users: the window then keeps
# its settings in the user's configuration folder.
# The Windows build packs its programs with scripts/package-windows.
if(WIN32 OR NOT TARGET upgrader)
  return()
endif()

set(MUB_PACKAGE mub-upgrader)
set(MUB_PRIVATE_DIR lib/${MUB_PACKAGE})
set(MUB_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(MUB_GENERATED ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${MUB_GENERATED})

install(TARGETS upgrader mubtool mub-station RUNTIME DESTINATION ${MUB_PRIVATE_DIR})
install(TARGETS mub_bridge_mini LIBRARY DESTINATION ${MUB_PRIVATE_DIR} NAMELINK_SKIP)
foreach(program upgrader mubtool mub-station)
  file(CREATE_LINK ../${MUB_PRIVATE_DIR}/${program} ${MUB_GENERATED}/${program} SYMBOLIC)
  install(FILES ${MUB_GENERATED}/${program} DESTINATION bin)
endforeach()

# The mark that keeps every user's settings out of the program folder.
install(FILES ${MUB_PACKAGING_DIR}/settings-per-user DESTINATION ${MUB_PRIVATE_DIR})
install(FILES ${MUB_PACKAGING_DIR}/upgrader.desktop ${MUB_PACKAGING_DIR}/mub-station.desktop DESTINATION share/applications)
install(FILES ${MUB_PACKAGING_DIR}/70-upgrader-bridge.rules DESTINATION lib/udev/rules.d)
install(FILES ${MUB_PACKAGING_DIR}/copyright DESTINATION share/doc/${MUB_PACKAGE})
# The record collector: a service, off until /etc/mub-collector is filled
# from the example.
install(TARGETS mub-collector RUNTIME DESTINATION bin)
install(FILES ${MUB_PACKAGING_DIR}/mub-collector.service DESTINATION /lib/systemd/system)
install(FILES ${MUB_PACKAGING_DIR}/collector.conf DESTINATION share/doc/${MUB_PACKAGE}/examples)

# Generated files: the desktop icon (the program icon's sizes, read by the
# program's own code), the manual pages and the compressed changelog. Sanitized builds do
# not run their programs at build time.
if(NOT MUB_SANITIZE AND NOT MUB_TSAN)
  set(icon_sizes 16 32 48 256)
  add_executable(render_icon ${MUB_PACKAGING_DIR}/render_icon.cpp)
  target_link_libraries(render_icon PRIVATE mub_app)
  set(icon_files)
  foreach(size ${icon_sizes})
    list(APPEND icon_files ${MUB_GENERATED}/icons/${size}.png)
    install(FILES ${MUB_GENERATED}/icons/${size}.png DESTINATION share/icons/hicolor/${size}x${size}/apps
            RENAME upgrader.png)
  endforeach()
  add_custom_command(OUTPUT ${icon_files}
                     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:render_icon>
                             ${MUB_GENERATED}/icons ${icon_sizes}
                     DEPENDS render_icon VERBATIM)

  add_custom_command(OUTPUT ${MUB_GENERATED}/mubtool.1.gz ${MUB_GENERATED}/upgrader.1.gz ${MUB_GENERATED}/mub-station.1.gz
                            ${MUB_GENERATED}/mub-collector.1.gz ${MUB_GENERATED}/changelog.gz
                     COMMAND ${MUB_PACKAGING_DIR}/make-manpage $<TARGET_FILE:mubtool> ${MUB_GENERATED}/mubtool.1
                     COMMAND gzip -9nf ${MUB_GENERATED}/mubtool.1
                     COMMAND gzip -9n -c ${MUB_PACKAGING_DIR}/upgrader.1 > ${MUB_GENERATED}/upgrader.1.gz
                     COMMAND gzip -9n -c ${MUB_PACKAGING_DIR}/mub-station.1 > ${MUB_GENERATED}/mub-station.1.gz
                     COMMAND gzip -9n -c ${MUB_PACKAGING_DIR}/mub-collector.1 > ${MUB_GENERATED}/mub-collector.1.gz
                     COMMAND gzip -9n -c ${MUB_PACKAGING_DIR}/changelog > ${MUB_GENERATED}/changelog.gz
                     DEPENDS mubtool ${MUB_PACKAGING_DIR}/make-manpage ${MUB_PACKAGING_DIR}/upgrader.1
                             ${MUB_PACKAGING_DIR}/mub-station.1 ${MUB_PACKAGING_DIR}/mub-collector.1
                             ${MUB_PACKAGING_DIR}/changelog)
  add_custom_target(mub_package_files ALL DEPENDS ${icon_files} ${MUB_GENERATED}/mubtool.1.gz)
  install(FILES ${MUB_GENERATED}/mubtool.1.gz ${MUB_GENERATED}/upgrader.1.gz ${MUB_GENERATED}/mub-station.1.gz
                ${MUB_GENERATED}/mub-collector.1.gz DESTINATION share/man/man1)
  install(FILES ${MUB_GENERATED}/changelog.gz DESTINATION share/doc/${MUB_PACKAGE})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${MUB_PACKAGE})
# The package carries the program's version, commit included (a Debian
# version allows "+"), so that a package names the build it holds.
execute_process(COMMAND ${CMAKE_COMMAND} -DPROJECT_VERSION=${PROJECT_VERSION} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                        -DOUTPUT=${CMAKE_BINARY_DIR}/package_version.h -P ${CMAKE_SOURCE_DIR}/cmake/program_version.cmake)
file(STRINGS ${CMAKE_BINARY_DIR}/package_version.h package_version REGEX "MUB_PROGRAM_VERSION")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" package_version "${package_version}")
set(CPACK_PACKAGE_VERSION ${package_version})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The person or team who builds the package answers for it
# (scripts/package-deb passes MUB_MAINTAINER or the git identity).
set(MUB_MAINTAINER "" CACHE STRING "Maintainer of the Debian package: Name <address>")
if(MUB_MAINTAINER STREQUAL "")
  set(CPACK_PACKAGE_CONTACT "mub-upgrader packager <root@localhost>")
else()
  set(CPACK_PACKAGE_CONTACT "${MUB_MAINTAINER}")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for cash-handling machines")
# The synopsis comes from the summary; these are the lines under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A desktop program that writes new firmware from encrypted upgrade files
(*.mub) into cash-handling machines over a USB cable, through the USB
bridge or a serial port, mubtool, its command-line companion: inspect
and pack upgrade files, upgrade headless, list the serial ports, play a
simulated machine, mub-station, a production station that upgrades
machines on many ports at once, and mub-collector, a service that keeps
every station's upgrade records in PostgreSQL and serves the shift report.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries linked are found by dpkg-shlibdeps (Qt 6 Widgets, zlib, ...);
# ALSA is opened at run time, and the window needs Qt's X11 platform plugin.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Every label is Chinese: without a CJK font the window shows empty boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libasound2, qt6-qpa-plugins, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# Our own maintainer scripts apply the udev rule; the library in the private
# folder needs no ldconfig run (which CPack would add otherwise).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${MUB_PACKAGING_DIR}/postinst ${MUB_PACKAGING_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
include(CPack)
