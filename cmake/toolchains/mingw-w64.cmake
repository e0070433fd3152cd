# Cross build for x86-64 Windows with Debian's mingw-w64 (posix threads), against the Qt and
# OpenSSL built for Windows under TARNWELL_WIN64_ROOT (default /opt/win64, made by
# tools/build-windows). ctest runs the test programs through wine.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_triplet}-windres)

# Where this compiler keeps its own runtime DLLs: the program folder gets copies of them, and
# the tests under wine find them there.
set(TARNWELL_MINGW_RUNTIME_DIRS "")
foreach(_dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
                    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${_path}")
        get_filename_component(_path "${_path}" REALPATH)
        get_filename_component(_dir "${_path}" DIRECTORY)
        list(APPEND TARNWELL_MINGW_RUNTIME_DIRS "${_dir}")
    endif()
endforeach()
list(REMOVE_DUPLICATES TARNWELL_MINGW_RUNTIME_DIRS)

if(NOT TARNWELL_WIN64_ROOT)
    set(TARNWELL_WIN64_ROOT "$ENV{TARNWELL_WIN64_ROOT}")
endif()
if(NOT TARNWELL_WIN64_ROOT)
    set(TARNWELL_WIN64_ROOT /opt/win64)
endif()
# Try-compile projects read the toolchain file again and need the same root.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARNWELL_WIN64_ROOT)

set(CMAKE_FIND_ROOT_PATH
    /usr/${_triplet}
    "${TARNWELL_WIN64_ROOT}/qt5"
    "${TARNWELL_WIN64_ROOT}/openssl")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(Qt5_DIR "${TARNWELL_WIN64_ROOT}/qt5/lib/cmake/Qt5" CACHE PATH "Qt 5 built for Windows")
set(OPENSSL_ROOT_DIR "${TARNWELL_WIN64_ROOT}/openssl" CACHE PATH "OpenSSL built for Windows")
# The translations are made by the build machine's lrelease: the .qm format is the same everywhere.
set(Qt5LinguistTools_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt5LinguistTools
    CACHE PATH "The build machine's Qt Linguist tools")

find_program(TARNWELL_WINE NAMES wine wine64)
if(TARNWELL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${TARNWELL_WINE}")
endif()
