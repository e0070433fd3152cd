# Package settings of the Debian package.

set(CPACK_PACKAGE_NAME "tarnwell")
set(CPACK_PACKAGE_VENDOR "Tarnwell")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop sign-on agent")
set(CPACK_PACKAGE_CONTACT "Tarnwell maintainers <tarnwell@example.invalid>" CACHE STRING
    "Maintainer named in the packages")
# Values with quotes, backslashes and line breaks reach cpack unchanged.
set(CPACK_VERBATIM_VARIABLES TRUE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_TARNWELL_DEB_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_SOURCE_DIR}/cpack_generator_options.cmake")
set(CPACK_TARNWELL_DEB_SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/linux")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_SOURCE_DIR}/deb_layout.cmake")

set(CPACK_GENERATOR "DEB")

# Debian: the file name is tarnwell_<version>_<arch>.deb. Library dependencies come from
# dpkg-shlibdeps; the maintainer scripts need update-desktop-database and setfacl.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "desktop-file-utils, acl")
# The agent's messages are Korean; without one of these fonts they show as empty boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-nanum | fonts-noto-cjk")
set(CPACK_PACKAGE_DESCRIPTION
    "Opens the default web browser on the sign-on server's address with an\n"
    "encrypted, time-stamped parameter naming the signed-in user. Handles\n"
    "tarnwell: links, so that a link in a web page signs the user on to the\n"
    "page it names.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The settings file is the administrator's: an upgrade keeps the edited one, and only a purge
# removes it. It lies in /etc/opt/tarnwell (deb_layout.cmake).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_SOURCE_DIR}/linux/conffiles"
    "${CMAKE_CURRENT_SOURCE_DIR}/linux/preinst"
    "${CMAKE_CURRENT_SOURCE_DIR}/linux/postinst"
    "${CMAKE_CURRENT_SOURCE_DIR}/linux/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# Windows: the NSIS installer and the MSI are made by the windows_packages target
# (packaging/CMakeLists.txt) from packaging/windows/tarnwell.nsi and tarnwell.wxs.

include(CPack)
