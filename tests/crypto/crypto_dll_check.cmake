# cmake -DCHECK=<TarnwellCheckCrypto.cmake> -DWORK=<folder> -P crypto_dll_check.cmake
#
# The Windows build's check of the crypto DLL it bundles, over DLL stand-ins that hold the
# strings a real one holds: each row names the folders compiled in, whether the headers say the
# library loads no configuration by itself, and whether the check lets it through.
cmake_minimum_required(VERSION 3.25)

set(_good_dirs "C:/Program Files/Common Files/SSL|C:/Program Files/OpenSSL/lib/engines-3|C:/Program Files/OpenSSL/lib/ossl-modules")
# row: name | OPENSSLDIR | ENGINESDIR | MODULESDIR | no autoload (1/0) | accepted (1/0) | message
set(_rows
    "folders on a drive, no configuration by itself|${_good_dirs}|1|1|"
    "the build machine's prefix, resolved on the current drive|/opt/win64/openssl/ssl|C:/e|C:/m|1|0|OPENSSLDIR \"/opt/win64/openssl/ssl\" is not an absolute path"
    "a modules folder without a drive letter|C:/s|C:/e|\\\\opt\\\\m|1|0|MODULESDIR"
    "an engines folder on a share|C:/s|//host/e|C:/m|1|0|ENGINESDIR"
    "a relative folder|C:/s|C:/e|lib/ossl-modules|1|0|MODULESDIR"
    "loads a configuration by itself|${_good_dirs}|0|0|loads an OpenSSL configuration by itself")

set(_index 0)
foreach(_row IN LISTS _rows)
    string(REPLACE "|" ";" _fields "${_row}")
    list(GET _fields 0 _name)
    list(GET _fields 4 _no_autoload)
    list(GET _fields 5 _accepted)
    list(LENGTH _fields _count)
    set(_message "")
    if(_count GREATER 6)
        list(GET _fields 6 _message)
    endif()

    math(EXPR _index "${_index} + 1")
    set(_dir "${WORK}/row${_index}")
    file(REMOVE_RECURSE "${_dir}")
    list(GET _fields 1 _ssl)
    list(GET _fields 2 _engines)
    list(GET _fields 3 _modules)
    # Binary noise around the strings, as in a real DLL.
    file(WRITE "${_dir}/bin/libcrypto-3-x64.dll"
         "MZ\n\nOpenSSL 3.0.20 7 Apr 2026\nOPENSSLDIR: \"${_ssl}\"\nENGINESDIR: \"${_engines}\"\n"
         "MODULESDIR: \"${_modules}\"\n\n")
    file(WRITE "${_dir}/include/openssl/opensslv.h"
         "# define OPENSSL_VERSION_TEXT \"OpenSSL 3.0.20 7 Apr 2026\"\n")
    set(_configuration "# define OPENSSL_CONFIGURATION_H\n")
    if(_no_autoload)
        string(APPEND _configuration "# ifndef OPENSSL_NO_AUTOLOAD_CONFIG\n"
                                     "#  define OPENSSL_NO_AUTOLOAD_CONFIG\n# endif\n")
    endif()
    file(WRITE "${_dir}/include/openssl/configuration.h" "${_configuration}")

    execute_process(
        COMMAND "${CMAKE_COMMAND}" "-DDLL=${_dir}/bin/libcrypto-3-x64.dll"
                "-DINCLUDE_DIR=${_dir}/include" -P "${CHECK}"
        RESULT_VARIABLE _result OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
    if(_accepted AND NOT _result EQUAL 0)
        message(SEND_ERROR "${_name}: refused\n${_output}")
    elseif(NOT _accepted AND _result EQUAL 0)
        message(SEND_ERROR "${_name}: accepted")
    elseif(NOT _accepted)
        string(REGEX REPLACE "[ \n]+" " " _flat "${_output}")
        string(FIND "${_flat}" "${_message}" _at)
        if(_at EQUAL -1)
            message(SEND_ERROR "${_name}: the message does not say \"${_message}\"\n${_output}")
        endif()
    endif()
endforeach()
