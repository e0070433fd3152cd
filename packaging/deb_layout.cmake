# Run by cpack between the staging install and the making of the package.
#
# In the Debian package logs/ is a link to /var/opt/tarnwell/logs: variable data of a package
# in /opt belongs under /var/opt, a folder that the package does not own survives dpkg's
# removal without warnings, and the maintainer scripts give it the permissions of a folder that
# every user of the machine writes to (see linux/postinst).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
set(_logs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/logs")
if(NOT IS_DIRECTORY "${_logs}" OR IS_SYMLINK "${_logs}")
    message(FATAL_ERROR "staged install has no logs folder at ${_logs}")
endif()
file(GLOB _content "${_logs}/*")
if(_content)
    message(FATAL_ERROR "the logs folder is replaced by a link but holds ${_content}")
endif()
file(REMOVE_RECURSE "${_logs}")
file(CREATE_LINK "/var/opt/tarnwell/logs" "${_logs}" SYMBOLIC)
