# `package-windows`: the programs for Windows with the README and the licence
# in a5merge-VERSION-windows-x64.zip (one folder of that name inside), and
# the per-user installer a5merge-VERSION-setup.exe (NSIS's makensis).
set(windows_package a5merge-${PROJECT_VERSION}-windows-x64)
set(windows_stage ${CMAKE_BINARY_DIR}/package/${windows_package})
add_custom_target(package-zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${windows_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${windows_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:a5merge> $<TARGET_FILE:a5merge-cli>
            ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${windows_stage}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/${windows_package}.zip
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
            ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${windows_package}.zip --format=zip
            ${windows_package}
    COMMAND ${CMAKE_COMMAND} -E echo "Made ${CMAKE_BINARY_DIR}/${windows_package}.zip"
    DEPENDS a5merge a5merge-cli
    VERBATIM)

# The installer is built with everything else, so that its test runs it.
find_program(MAKENSIS makensis REQUIRED)
set(installer ${CMAKE_BINARY_DIR}/a5merge-${PROJECT_VERSION}-setup.exe)
set(window_program $<TARGET_FILE:a5merge>)
set(cli_program $<TARGET_FILE:a5merge-cli>)
configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/installer.nsi.in
               ${CMAKE_BINARY_DIR}/installer.nsi.in @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/installer.nsi INPUT ${CMAKE_BINARY_DIR}/installer.nsi.in)
add_custom_command(OUTPUT ${installer}
    COMMAND ${MAKENSIS} -V2 ${CMAKE_BINARY_DIR}/installer.nsi
    DEPENDS a5merge a5merge-cli ${CMAKE_BINARY_DIR}/installer.nsi ${PROJECT_SOURCE_DIR}/README.md
            ${PROJECT_SOURCE_DIR}/LICENSE
    COMMENT "Making the installer ${installer}")
add_custom_target(installer ALL DEPENDS ${installer})
add_custom_target(package-windows DEPENDS package-zip installer)
