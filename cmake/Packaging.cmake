# The Debian package (make package): dependencies from the libraries linked.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME psmerge)
set(CPACK_PACKAGE_VENDOR "psmerge")
set(CPACK_PACKAGE_CONTACT "psmerge maintainers <maintainers@psmerge.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "put two half-page PostScript drawings on one A4 sheet")
set(CPACK_PACKAGE_DESCRIPTION "A small window takes one PostScript file for the top half of \
an A4 sheet and one for the bottom half, checks both, and writes one PostScript \
file for the whole sheet. psmerge-cli does the same from a shell.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wine")
set(CPACK_STRIP_FILES ON)
include(CPack)
