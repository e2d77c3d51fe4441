# The Debian package (make package): dependencies from the libraries linked.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME a5merge)
set(CPACK_PACKAGE_VENDOR "a5merge")
set(CPACK_PACKAGE_CONTACT "a5merge maintainers <maintainers@a5merge.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "put two half-page PostScript drawings on one A4 sheet")
# Lines of the extended description stay under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "A small window takes one PostScript file for the top half of an A4 sheet\n"
    "and one for the bottom half, checks both, and writes one PostScript file\n"
    "for the whole sheet, or a PDF of it made by Ghostscript in a sandbox.\n"
    "a5merge-cli does the same from a shell.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded when printing, so no library links it: named here, with the linked ones.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcups2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine, ghostscript, bubblewrap")
set(CPACK_STRIP_FILES ON)
include(CPack)

# What the package holds, built without the tests and benchmarks.
add_custom_target(a5merge-installed-files
    DEPENDS a5merge a5merge-cli a5merge-icons a5merge-compressed-docs)
