# cmake -DVERSION=<x.y.z> -DFILES_WXS=<generated file list> -DOUTPUT=<file.msi> -P make_msi.cmake
#
# Builds the MSI from tarnwell.wxs and the file list, then marks the settings file's component
# "never overwrite", which wixl has no attribute for: an upgrade then keeps an edited
# config\server.ini (the older version is removed only after the newer one is in, and the
# component is the same in both).
cmake_minimum_required(VERSION 3.25)

find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
get_filename_component(_files_dir "${FILES_WXS}" DIRECTORY)

# wixl resolves the file list's Source paths relative to the list's own folder.
execute_process(
    COMMAND "${WIXL}" -a x64 -D "Version=${VERSION}" -o "${OUTPUT}"
            "${CMAKE_CURRENT_LIST_DIR}/tarnwell.wxs" "${FILES_WXS}"
    WORKING_DIRECTORY "${_files_dir}"
    RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "wixl failed: ${_status}")
endif()

# 256: a 64-bit component; 128: never overwrite the key path file once it exists.
execute_process(
    COMMAND "${MSIBUILD}" "${OUTPUT}" -q
            "UPDATE `Component` SET `Attributes` = 384 WHERE `Component` = 'ServerSettings'"
    RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "msibuild failed: ${_status}")
endif()
