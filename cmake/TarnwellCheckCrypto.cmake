# Refuses a Windows libcrypto that would read an OpenSSL configuration, or load engines or
# provider modules, from a folder an ordinary user can create. The folders are compiled into
# the DLL: a path without a drive letter ("/opt/...", "\opt\...") is resolved on the current
# drive, where anyone may make it, and a configuration found there names DLLs that OpenSSL
# loads into the agent. The agent itself never asks for a configuration, so the library must
# not load one by itself either.
#
#   tarnwell_check_crypto_dll(<libcrypto DLL> <OpenSSL include folder>)
# or as a script: cmake -DDLL=<DLL> -DINCLUDE_DIR=<folder> -P TarnwellCheckCrypto.cmake

function(tarnwell_check_crypto_dll dll include_dir)
    set(_problems "")
    if(NOT EXISTS "${dll}")
        message(FATAL_ERROR "OpenSSL's crypto DLL ${dll} is not there")
    endif()
    # One read of the DLL for every string looked at below.
    file(STRINGS "${dll}" _strings REGEX "^((OPENSSLDIR|ENGINESDIR|MODULESDIR): \"|OpenSSL [0-9])")
    foreach(_name OPENSSLDIR ENGINESDIR MODULESDIR)
        set(_lines "${_strings}")
        list(FILTER _lines INCLUDE REGEX "^${_name}: \"")
        list(LENGTH _lines _count)
        if(NOT _count EQUAL 1)
            list(APPEND _problems "it does not name its ${_name} once")
            continue()
        endif()
        string(REGEX REPLACE "^${_name}: \"(.*)\"$" "\\1" _folder "${_lines}")
        if(NOT _folder MATCHES "^[A-Za-z]:[/\\\\]")
            list(APPEND _problems
                 "its ${_name} \"${_folder}\" is not an absolute path with a drive letter")
        endif()
    endforeach()

    # The DLL does not say whether it loads a configuration by itself; the header of the same
    # build does, and its version must be the DLL's.
    set(_configuration "${include_dir}/openssl/configuration.h")
    set(_version_header "${include_dir}/openssl/opensslv.h")
    if(NOT EXISTS "${_configuration}" OR NOT EXISTS "${_version_header}")
        list(APPEND _problems "${include_dir} lacks openssl/configuration.h or opensslv.h")
    else()
        file(STRINGS "${_configuration}" _autoload REGEX "define +OPENSSL_NO_AUTOLOAD_CONFIG")
        if(NOT _autoload)
            list(APPEND _problems
                 "it loads an OpenSSL configuration by itself (built without no-autoload-config)")
        endif()
        file(STRINGS "${_version_header}" _text REGEX "define +OPENSSL_VERSION_TEXT")
        string(REGEX MATCH "\"(OpenSSL [^\"]*)\"" _ "${_text}")
        set(_version "${CMAKE_MATCH_1}")
        set(_dll_version "${_strings}")
        list(FILTER _dll_version INCLUDE REGEX "^OpenSSL [0-9]")
        list(FIND _dll_version "${_version}" _found)
        if(_version STREQUAL "" OR _found EQUAL -1)
            list(APPEND _problems
                 "its version is not that of the headers in ${include_dir} (\"${_version}\")")
        endif()
    endif()

    if(_problems)
        list(JOIN _problems ";\n  " _text)
        message(FATAL_ERROR
            "${dll} cannot be bundled with the agent:\n  ${_text}.\n"
            "Build OpenSSL with no-autoload-config and with --prefix and --openssldir set to "
            "folders on a drive that only administrators can create (tools/build-win64-toolchain "
            "does), or remove the old toolchain folder so that tools/build-windows unpacks the "
            "current one.")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    tarnwell_check_crypto_dll("${DLL}" "${INCLUDE_DIR}")
endif()
