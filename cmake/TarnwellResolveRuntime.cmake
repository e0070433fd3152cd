# cmake -DEXECUTABLES=<exe;...> -DLIBRARIES=<dll;...> -DPLUGINS=<subdir/dll;...>
#       -DPLUGIN_ROOT=<dir> -DSEARCH_DIRS=<dir;...> -DOBJDUMP=<objdump> -DDESTINATION=<dir>
#       -DLIST_FILE=<file> -DCRYPTO_INCLUDE_DIR=<dir> -P TarnwellResolveRuntime.cmake
#
# Copies every DLL that the programs, libraries and plugins import, directly or through each
# other, from SEARCH_DIRS into DESTINATION, and the plugins (paths relative to PLUGIN_ROOT)
# into the same subfolders of DESTINATION. LIST_FILE records what was copied, relative to
# DESTINATION, so that the install rules put exactly these files into the installed tree.
# OpenSSL's crypto DLL is checked before it is copied (TarnwellCheckCrypto.cmake), against the
# headers in CRYPTO_INCLUDE_DIR.
cmake_minimum_required(VERSION 3.25)
include("${CMAKE_CURRENT_LIST_DIR}/TarnwellCheckCrypto.cmake")

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM "windows+pe")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL "objdump")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${OBJDUMP}")

# DLLs of Windows itself: never bundled, and not found in SEARCH_DIRS. Anything else left
# unresolved is a DLL the program would miss on a clean PC, and fails the build.
set(_system_dlls
    "^api-ms-win-.*" "^ext-ms-.*" advapi32 comdlg32 crypt32 d3d9 d3d11 dwmapi dxgi gdi32 imm32
    kernel32 msvcrt mpr netapi32 ole32 oleaut32 opengl32 secur32 setupapi shell32 shlwapi user32
    userenv uxtheme version winmm ws2_32 wtsapi32 iphlpapi dnsapi bcrypt ncrypt normaliz)
list(TRANSFORM _system_dlls REPLACE "^([a-z0-9_]+)$" "^\\1\\\\.dll$")

set(_plugin_files "")
foreach(_plugin IN LISTS PLUGINS)
    list(APPEND _plugin_files "${PLUGIN_ROOT}/${_plugin}")
endforeach()

# The resolver looks DLLs up by lower-cased name, as Windows matches them without regard to
# case; on this machine's case-sensitive disk Qt5Core.dll would never match. So it searches a
# folder of lower-case links instead, the first search folder winning as on Windows.
get_filename_component(_index "${LIST_FILE}.dlls" ABSOLUTE)
file(REMOVE_RECURSE "${_index}")
file(MAKE_DIRECTORY "${_index}")
foreach(_dir IN LISTS SEARCH_DIRS DESTINATION)
    file(GLOB _dlls "${_dir}/*.[dD][lL][lL]")
    foreach(_dll IN LISTS _dlls)
        get_filename_component(_name "${_dll}" NAME)
        string(TOLOWER "${_name}" _name)
        if(NOT EXISTS "${_index}/${_name}")
            file(CREATE_LINK "${_dll}" "${_index}/${_name}" SYMBOLIC)
        endif()
    endforeach()
endforeach()

file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES ${EXECUTABLES}
    LIBRARIES ${LIBRARIES}
    MODULES ${_plugin_files}
    DIRECTORIES "${_index}"
    PRE_EXCLUDE_REGEXES ${_system_dlls}
    RESOLVED_DEPENDENCIES_VAR _resolved
    UNRESOLVED_DEPENDENCIES_VAR _unresolved
    CONFLICTING_DEPENDENCIES_PREFIX _conflict)

# The program's own folder is searched as well, and holds the copies of an earlier build: of
# the two, the original is the one to copy.
foreach(_name IN LISTS _conflict_FILENAMES)
    set(_original "")
    foreach(_path IN LISTS _conflict_${_name})
        get_filename_component(_dir "${_path}" DIRECTORY)
        if(_dir STREQUAL _index)
            set(_original "${_path}")
        elseif(NOT _dir STREQUAL DESTINATION)
            set(_original "")
            break()
        endif()
    endforeach()
    if(NOT _original)
        message(FATAL_ERROR "${_name} found in more than one folder: ${_conflict_${_name}}")
    endif()
    list(APPEND _resolved "${_original}")
endforeach()

if(_unresolved)
    list(JOIN _unresolved ", " _names)
    message(FATAL_ERROR "Runtime DLLs not found in ${SEARCH_DIRS}: ${_names} (a DLL of Windows "
                        "itself belongs in the list of system DLLs in ${CMAKE_CURRENT_LIST_FILE})")
endif()

foreach(_file IN LISTS _resolved)
    get_filename_component(_name "${_file}" NAME)
    if(_name MATCHES "^[lL][iI][bB][cC][rR][yY][pP][tT][oO].*\\.[dD][lL][lL]$")
        get_filename_component(_real "${_file}" REALPATH)
        tarnwell_check_crypto_dll("${_real}" "${CRYPTO_INCLUDE_DIR}")
    endif()
endforeach()

set(_copied "")
file(MAKE_DIRECTORY "${DESTINATION}")
foreach(_link IN LISTS _resolved)
    get_filename_component(_file "${_link}" REALPATH)
    get_filename_component(_dir "${_file}" DIRECTORY)
    get_filename_component(_name "${_file}" NAME)
    # The project's own DLLs are built into DESTINATION and installed as targets.
    if(NOT _dir STREQUAL DESTINATION)
        file(COPY_FILE "${_file}" "${DESTINATION}/${_name}" ONLY_IF_DIFFERENT)
        list(APPEND _copied "${_name}")
    endif()
endforeach()
foreach(_plugin IN LISTS PLUGINS)
    get_filename_component(_dir "${DESTINATION}/${_plugin}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    file(COPY_FILE "${PLUGIN_ROOT}/${_plugin}" "${DESTINATION}/${_plugin}" ONLY_IF_DIFFERENT)
    list(APPEND _copied "${_plugin}")
endforeach()

list(SORT _copied)
list(JOIN _copied "\n" _text)
file(CONFIGURE OUTPUT "${LIST_FILE}" CONTENT "${_text}\n")
