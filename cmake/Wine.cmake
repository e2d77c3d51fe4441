# Windows programs built here run under wine: CTest runs them through
# wine-run.sh, in a prefix of this build folder's own.
set(A5MERGE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
# The same for a program that makes windows: on an Xvfb of its own.
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run-x.sh.in ${CMAKE_BINARY_DIR}/wine-run-x.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)

# Gives a Windows program its manifest (cmake/windows/program.manifest.in);
# WINDOW after the target: a program with a window.
function(a5merge_windows_manifest target)
    set(program ${target})
    set(window_settings "")
    set(dependencies "")
    if("WINDOW" IN_LIST ARGN)
        set(window_settings "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>\n")
        set(dependencies "  <dependency>\n    <dependentAssembly>\n      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n    </dependentAssembly>\n  </dependency>\n")
    endif()
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.manifest.in ${manifest} @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
