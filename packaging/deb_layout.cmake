# Run by cpack between the staging install and the making of the Debian package: the program
# folder keeps its layout, but what the system expects elsewhere is moved there.
#
# logs/ links to /var/opt/tarnwell/logs: variable data of a package in /opt belongs under
# /var/opt, a folder that the package does not own survives dpkg's removal without warnings,
# and the maintainer scripts give it the permissions of a folder that every user of the machine
# writes to (see linux/postinst).
# config/ links to /etc/opt/tarnwell, where the settings of a package in /opt belong; dpkg
# keeps an edited server.ini there on upgrade and removal (it is a conffile, see
# cpack_settings.cmake).
# usr/share/doc/tarnwell gets the copyright file and the changelog.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
set(_root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(_prefix "${_root}${CPACK_PACKAGING_INSTALL_PREFIX}")

set(_logs "${_prefix}/logs")
if(NOT IS_DIRECTORY "${_logs}" OR IS_SYMLINK "${_logs}")
    message(FATAL_ERROR "staged install has no logs folder at ${_logs}")
endif()
file(GLOB _content "${_logs}/*")
if(_content)
    message(FATAL_ERROR "the logs folder is replaced by a link but holds ${_content}")
endif()
file(REMOVE_RECURSE "${_logs}")
file(CREATE_LINK "/var/opt/tarnwell/logs" "${_logs}" SYMBOLIC)

set(_config "${_prefix}/config")
if(NOT IS_DIRECTORY "${_config}" OR IS_SYMLINK "${_config}")
    message(FATAL_ERROR "staged install has no config folder at ${_config}")
endif()
file(MAKE_DIRECTORY "${_root}/etc/opt")
file(RENAME "${_config}" "${_root}/etc/opt/tarnwell")
file(CREATE_LINK "/etc/opt/tarnwell" "${_config}" SYMBOLIC)

set(_doc "${_root}/usr/share/doc/tarnwell")
file(MAKE_DIRECTORY "${_doc}")
file(COPY_FILE "${CPACK_TARNWELL_DEB_SOURCE}/copyright" "${_doc}/copyright")
file(READ "${CPACK_TARNWELL_DEB_SOURCE}/changelog" _changelog)
string(REPLACE "@VERSION@" "${CPACK_PACKAGE_VERSION}" _changelog "${_changelog}")
file(WRITE "${_doc}/changelog" "${_changelog}")
# -n: no name or time in the header, so the same sources give the same package.
execute_process(COMMAND gzip -9nf "${_doc}/changelog" RESULT_VARIABLE _gzip)
if(NOT _gzip EQUAL 0)
    message(FATAL_ERROR "gzip of ${_doc}/changelog failed: ${_gzip}")
endif()
