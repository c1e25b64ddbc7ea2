# The Debian package of the packer: mksetup in /usr/bin, the shipped 32-bit setup stub and its
# 64-bit twin in /usr/share/mksetup, where the installed packer finds them (scripts/package.sh).
set(MKSETUP_PACKAGE_MAINTAINER "selfextract maintainers <maintainers@users.noreply.c-seed-59fe179d.example>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mksetup)
set(CPACK_PACKAGE_VENDOR "selfextract")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${MKSETUP_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packs a folder into a self-extracting setup program for Windows")
set(CPACK_PACKAGE_DESCRIPTION "mksetup turns a folder into setup.exe, a small GUI program for\n\
32-bit Windows that carries the folder as a zlib-compressed resource,\n\
unpacks it below the temporary folder with its recorded times, rolls\n\
back on a failure or a cancel and opens a launch file. It also lists,\n\
verifies and extracts existing setup programs. The stubs it packs onto\n\
come with it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MKSETUP_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The libraries mksetup links (libc6, zlib1g, libstdc++6, libgcc-s1) with the versions it needs,
# as dpkg-shlibdeps reads them off the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
