# Authenticode signatures (osslsigncode, SHA-256) for the Windows packages, with the key and
# certificate in TARNWELL_SIGN_PFX, its password in the file TARNWELL_SIGN_PASSWORD_FILE and
# an RFC 3161 time-stamp server in TARNWELL_SIGN_TIMESTAMP (no time stamp when unset).
# tools/package-windows --sign sets them. Without TARNWELL_SIGN_PFX nothing is signed.
#   cmake -DFILE=<file> -P sign.cmake      signs one file (the installer and its uninstaller)
#   cmake -DDIR=<folder> -P sign.cmake     signs every .exe and .dll below the folder
#   include(sign.cmake), tarnwell_sign(<file>)
cmake_policy(VERSION 3.25)

function(tarnwell_sign file)
    if(NOT DEFINED ENV{TARNWELL_SIGN_PFX} OR "$ENV{TARNWELL_SIGN_PFX}" STREQUAL "")
        return()
    endif()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    # Never the password itself: a command line is readable by every user of the machine.
    if("$ENV{TARNWELL_SIGN_PASSWORD_FILE}" STREQUAL "")
        message(FATAL_ERROR "TARNWELL_SIGN_PFX without TARNWELL_SIGN_PASSWORD_FILE: "
                            "sign with tools/package-windows --sign")
    endif()
    set(_timestamp "")
    if(NOT "$ENV{TARNWELL_SIGN_TIMESTAMP}" STREQUAL "")
        set(_timestamp -ts "$ENV{TARNWELL_SIGN_TIMESTAMP}")
    endif()
    execute_process(
        COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "$ENV{TARNWELL_SIGN_PFX}"
                -readpass "$ENV{TARNWELL_SIGN_PASSWORD_FILE}" -h sha256
                -n "Tarnwell sign-on agent" ${_timestamp} -in "${file}" -out "${file}.signed"
        RESULT_VARIABLE _status
        OUTPUT_VARIABLE _output
        ERROR_VARIABLE _output)
    if(NOT _status EQUAL 0)
        file(REMOVE "${file}.signed")
        message(FATAL_ERROR "signing ${file} failed: ${_output}")
    endif()
    file(RENAME "${file}.signed" "${file}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(DEFINED FILE)
        tarnwell_sign("${FILE}")
    elseif(DEFINED DIR)
        file(GLOB_RECURSE _files LIST_DIRECTORIES false "${DIR}/*.exe" "${DIR}/*.dll")
        foreach(_file IN LISTS _files)
            tarnwell_sign("${_file}")
        endforeach()
    else()
        message(FATAL_ERROR "usage: cmake -DFILE=<file> | -DDIR=<folder> -P sign.cmake")
    endif()
endif()
