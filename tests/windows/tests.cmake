# The Windows build's tests, run under Wine by CTest.
#
# The logic tests that do not depend on Linux are the same sources as the
# Linux build's, built into one Windows program and run as one CTest test
# (a Wine process costs far more than a native one).
set(logic_test_sources
    upgrade_file/decode_upgrade_file_test.cpp upgrade_file/packed_block_test.cpp upgrade_file/rc4_md5_test.cpp
    upgrade_file/tag_lines_test.cpp link/frame_test.cpp platform/gbk_text_test.cpp
    platform/gbk_text_removal_test.cpp upgrade/detect_model_test.cpp upgrade/number_text_test.cpp
    upgrade/run_upgrade_checks_test.cpp upgrade/run_upgrade_transfer_test.cpp upgrade/scripted_machine.cpp
    upgrade/upgrade_log_test.cpp upgrade/upgrade_session_test.cpp
    settings/profile_file_test.cpp settings/settings_location_test.cpp platform/tone_player_test.cpp
    platform/event_pause_test.cpp platform/wake_wait_test.cpp
    windows/exclusive_read_windows_test.cpp windows/bridge_binding_windows_test.cpp windows/profile_file_windows_test.cpp
    window/window_startup_test.cpp window/window_commands_test.cpp window/key_repeat_filter_test.cpp
    serial/serial_faults_test.cpp serial/serial_driver_hang_test.cpp link/transport_faults_test.cpp
    windows/station_layout_test.cpp ../app/station/win32/station_layout.cpp)
# mubtool doctor's checks, and its look at the stand-in's kinds.
list(APPEND logic_test_sources tools/library_header_test.cpp tools/doctor_checks_test.cpp
     windows/doctor_bridge_windows_test.cpp)
# mubtool.exe's console handler, whose close of the console Wine cannot play.
list(APPEND logic_test_sources windows/console_close_test.cpp ../tools/mubtool/stop_signals_windows.cpp)
# The call thunk of the bridge binding exists in the 32-bit build only.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND logic_test_sources windows/bridge_call_x86_test.cpp)
endif()
list(TRANSFORM logic_test_sources PREPEND ${CMAKE_SOURCE_DIR}/tests/)
add_executable(windows_logic_tests ${logic_test_sources})
target_link_libraries(windows_logic_tests PRIVATE mub_upgrade mub_link mub_serial mub_upgrade_file mub_platform
                      mub_testsupport mub_settings mub_window_logic mub_doctor GTest::gtest GTest::gmock GTest::gtest_main)
mub_test_program(windows_logic_tests gtest <gtest/gtest.h> <gmock/gmock.h>)
# They load the stand-in bridge library in its kinds.
get_property(bridge_kinds GLOBAL PROPERTY MUB_BRIDGE_KINDS)
add_dependencies(windows_logic_tests mub_bridge_mini ${bridge_kinds})
add_test(NAME windows_logic_tests COMMAND windows_logic_tests)

# The Windows serial channel against a simulated machine on a COM port (run
# by the end-to-end script, which maps the port).
add_executable(serial_channel_windows_tests ${CMAKE_CURRENT_SOURCE_DIR}/windows/serial_channel_windows_test.cpp)
target_link_libraries(serial_channel_windows_tests PRIVATE mub_serial mub_platform GTest::gtest GTest::gmock GTest::gtest_main)
mub_test_program(serial_channel_windows_tests gtest <gtest/gtest.h> <gmock/gmock.h>)

# mubtool.exe and the stand-in BridgeMini.dll against the Linux simulated
# machine, whose mubtool comes from the Linux build.
set(MUB_LINUX_MUBTOOL ${CMAKE_SOURCE_DIR}/build/plain/bin/mubtool CACHE FILEPATH
    "mubtool of the Linux build (runs the simulated machine for the Wine tests)")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME windows_end_to_end
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_end_to_end_test.py
                 ${CMAKE_BINARY_DIR}/bin ${MUB_LINUX_MUBTOOL} ${CMAKE_BINARY_DIR}/wineprefix)

# Every test runs in the build folder's Wine prefix, whose server the
# prefix script starts (scripts/test runs it before CTest, too).
add_test(NAME windows_wine_prefix
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine-prefix ${CMAKE_BINARY_DIR}/wineprefix ${MUB_WINE_BITS})
set_tests_properties(windows_wine_prefix PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(windows_logic_tests windows_end_to_end PROPERTIES FIXTURES_REQUIRED wine
                     ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")

# upgrader.exe driven from outside (xdotool) on a virtual X server inside a
# Wine virtual desktop, against the Linux simulated machine on a COM port.
add_test(NAME windows_window
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_window_test.py
                 ${CMAKE_BINARY_DIR}/bin ${MUB_LINUX_MUBTOOL} ${CMAKE_BINARY_DIR}/wineprefix)
set_tests_properties(windows_window PROPERTIES FIXTURES_REQUIRED wine
                     ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
# mub-station.exe, the station window, against four simulated machines on
# COM ports: --count ends it; a log-off stops and logs every port.
add_test(NAME windows_station
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_station_test.py
                 ${CMAKE_BINARY_DIR}/bin ${MUB_LINUX_MUBTOOL} ${CMAKE_BINARY_DIR}/wineprefix)
set_tests_properties(windows_station PROPERTIES FIXTURES_REQUIRED wine
                     ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
# The COM links of the prefix are shared by the end-to-end tests, and the
# window's test of a log-off ends every program of the prefix: the tests
# that run programs in it take turns.
set_tests_properties(windows_logic_tests windows_window windows_end_to_end windows_station PROPERTIES
                     RESOURCE_LOCK wine_prefix)
# What runs a Windows program is labelled, so that a host whose Wine cannot
# run this build still runs the rest (scripts/test).
set_tests_properties(windows_wine_prefix windows_logic_tests windows_end_to_end windows_window windows_station
                     PROPERTIES LABELS wine)
