# Read by cpack once for each generator. Only the Debian package takes the install prefix: the
# Windows installer puts the same tree under the folder that the user picks.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX "${CPACK_TARNWELL_DEB_PREFIX}")
endif()
