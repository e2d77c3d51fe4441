# The tests that run on Windows (under wine here): the portable tables of the
# core and a5merge-cli end to end, with the cases only Windows has.

# GoogleTest from Debian's sources, built with the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its visibility attributes mean nothing to a Windows build: quiet, and kept
# out of the link-time optimisation that would repeat the warnings.
foreach(gtest_target gtest gtest_main)
    target_compile_options(${gtest_target} PRIVATE -w)
    set_target_properties(${gtest_target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION OFF)
endforeach()
include(GoogleTest)

# Paths of this machine as Windows programs under wine see them (Z: is /).
function(a5merge_wine_path out path)
    string(REPLACE "/" "\\\\" windows "${path}")
    set(${out} "Z:${windows}" PARENT_SCOPE)
endfunction()
a5merge_wine_path(test_data ${CMAKE_CURRENT_SOURCE_DIR}/data)
set(A5MERGE_WINDOWS_GHOSTSCRIPT "" CACHE FILEPATH
    "gswin64c.exe the tests run (tools/build-ghostscript-windows.sh makes one)")
set(test_environment "")
if(A5MERGE_WINDOWS_GHOSTSCRIPT)
    a5merge_wine_path(ghostscript ${A5MERGE_WINDOWS_GHOSTSCRIPT})
    list(APPEND test_environment "A5MERGE_GHOSTSCRIPT=${ghostscript}")
endif()

add_library(a5merge_test_support STATIC
    support/fake_captions.h
    support/fake_desktop.h
    support/fake_form.h
    support/ps_samples.cpp
    support/ps_samples.h
    support/run_process.h
    support/run_process_windows.cpp
    support/temp_folder.cpp
    support/temp_folder.h
)
target_include_directories(a5merge_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(a5merge_test_support PUBLIC a5merge_state gtest PRIVATE psapi)
target_compile_definitions(a5merge_test_support PRIVATE A5MERGE_TEST_DATA="${test_data}")

add_executable(a5merge_core_tests
    drop_zones_test.cpp
    ghostscript_test.cpp
    input_check_test.cpp
    merge_command_test.cpp
    path_helpers_test.cpp
    startup_test.cpp
    text_files_test.cpp
    text_search_test.cpp
    writer_test.cpp
)
target_link_libraries(a5merge_core_tests PRIVATE a5merge_input a5merge_merge a5merge_ghostscript
    a5merge_handlers
    a5merge_test_support gtest_main)
gtest_discover_tests(a5merge_core_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "${test_environment}")

add_executable(a5merge_cli_tests cli_test.cpp)
target_link_libraries(a5merge_cli_tests PRIVATE a5merge_platform a5merge_test_support gtest_main)
add_dependencies(a5merge_cli_tests a5merge-cli)
a5merge_wine_path(cli_under_test ${CMAKE_BINARY_DIR}/src/cli/a5merge-cli.exe)
target_compile_definitions(a5merge_cli_tests PRIVATE
    A5MERGE_CLI="${cli_under_test}"
    A5MERGE_VERSION="${PROJECT_VERSION}")
gtest_discover_tests(a5merge_cli_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "${test_environment}")
a5merge_windows_manifest(a5merge_core_tests)

# The prefix the tests run in, made once by the build (tools/wine-prefix.sh).
# The windows' tests have one of their own (see cmake/wine-run-x.sh.in).
add_custom_command(OUTPUT ${A5MERGE_WINEPREFIX}/.a5merge-ready ${A5MERGE_WINEPREFIX}-x/.a5merge-ready
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/wine-prefix.sh ${A5MERGE_WINEPREFIX}
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/wine-prefix.sh ${A5MERGE_WINEPREFIX}-x
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/wine-prefix.sh
    COMMENT "Making the wine prefixes of the tests")
add_custom_target(wine-prefix ALL DEPENDS ${A5MERGE_WINEPREFIX}/.a5merge-ready
                                          ${A5MERGE_WINEPREFIX}-x/.a5merge-ready)

# What the runner's Windows plumbing is tested with where real Ghostscript
# cannot be made to do it.
add_executable(stand_in_child support/stand_in_child.cpp)
target_link_options(stand_in_child PRIVATE -municode)
a5merge_wine_path(stand_in_child_path ${CMAKE_CURRENT_BINARY_DIR}/stand_in_child.exe)
add_dependencies(a5merge_core_tests stand_in_child)
target_compile_definitions(a5merge_core_tests PRIVATE A5MERGE_STAND_IN="${stand_in_child_path}")

# The window, driven in-process.
add_executable(a5merge_window_tests win32_window_test.cpp)
target_link_libraries(a5merge_window_tests PRIVATE a5merge_win32 a5merge_test_support gtest_main)
a5merge_windows_manifest(a5merge_window_tests WINDOW)
set_target_properties(a5merge_window_tests PROPERTIES
    CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run-x.sh)
add_dependencies(a5merge_window_tests a5merge stand_in_child)
target_compile_definitions(a5merge_window_tests PRIVATE A5MERGE_STAND_IN="${stand_in_child_path}")
a5merge_wine_path(window_under_test ${CMAKE_BINARY_DIR}/src/win32/a5merge.exe)
target_compile_definitions(a5merge_window_tests PRIVATE A5MERGE_WINDOW_PROGRAM="${window_under_test}")
gtest_discover_tests(a5merge_window_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "${test_environment}"
               FIXTURES_REQUIRED x_display RESOURCE_LOCK x_display)
target_link_libraries(a5merge_window_tests PRIVATE ws2_32)
# One Xvfb for them, started first and ended last.
add_test(NAME x_display_start
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/xvfb.sh start ${CMAKE_BINARY_DIR}/xvfb
            ${A5MERGE_WINEPREFIX}-x)
add_test(NAME x_display_stop
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/xvfb.sh stop ${CMAKE_BINARY_DIR}/xvfb
            ${A5MERGE_WINEPREFIX}-x)
set_tests_properties(x_display_start PROPERTIES FIXTURES_SETUP x_display)
# And a print server of their own, whose printer is a socket the test listens on.
add_test(NAME private_cups_start
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/private-cups.sh start ${CMAKE_BINARY_DIR}/cups)
add_test(NAME private_cups_stop
    COMMAND sh ${PROJECT_SOURCE_DIR}/tools/private-cups.sh stop ${CMAKE_BINARY_DIR}/cups)
set_tests_properties(private_cups_start PROPERTIES FIXTURES_SETUP x_display)
set_tests_properties(private_cups_stop PROPERTIES FIXTURES_CLEANUP x_display)
set_tests_properties(x_display_stop PROPERTIES FIXTURES_CLEANUP x_display)

# The installer, installed and removed under wine.
configure_file(windows_installer_test.sh ${CMAKE_CURRENT_BINARY_DIR}/windows_installer_test.sh
               @ONLY)
add_test(NAME installer_installs_and_uninstalls
    COMMAND sh ${CMAKE_CURRENT_BINARY_DIR}/windows_installer_test.sh
            ${CMAKE_BINARY_DIR}/a5merge-${PROJECT_VERSION}-setup.exe
            ${CMAKE_BINARY_DIR}/wine-run-x.sh ${A5MERGE_WINEPREFIX}-x $<TARGET_FILE:a5merge>
            $<TARGET_FILE:a5merge-cli> $<TARGET_FILE:stand_in_child>)
# (The window runs on the tests' display.)
set_tests_properties(installer_installs_and_uninstalls PROPERTIES TIMEOUT 180
    FIXTURES_REQUIRED x_display RESOURCE_LOCK x_display)
