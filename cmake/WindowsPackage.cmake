# `package-windows`: the programs for Windows with the README and the licence,
# in a5merge-VERSION-windows-x64.zip (one folder of that name inside).
set(windows_package a5merge-${PROJECT_VERSION}-windows-x64)
set(windows_stage ${CMAKE_BINARY_DIR}/package/${windows_package})
add_custom_target(package-windows
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${windows_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${windows_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:a5merge-cli> ${PROJECT_SOURCE_DIR}/README.md
            ${PROJECT_SOURCE_DIR}/LICENSE ${windows_stage}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/${windows_package}.zip
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/package
            ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${windows_package}.zip --format=zip
            ${windows_package}
    COMMAND ${CMAKE_COMMAND} -E echo "Made ${CMAKE_BINARY_DIR}/${windows_package}.zip"
    DEPENDS a5merge-cli
    VERBATIM)
