# cmake -DSOURCE=<file> -DDESTINATION=<file> -P TarnwellCopyIfAbsent.cmake
# Copies SOURCE to DESTINATION only when DESTINATION does not exist yet, so that a file
# someone edited in the build tree survives the next build.
if(NOT EXISTS "${DESTINATION}")
    get_filename_component(_dir "${DESTINATION}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    file(COPY_FILE "${SOURCE}" "${DESTINATION}")
endif()
