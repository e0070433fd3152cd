# tarnwell_add_qtest(<name> SOURCES ... [LIBS ...] [ENVIRONMENT VAR=value ...]
#                    [LABELS ...] [TIMEOUT seconds] [TRANSLATION])
#
# Builds one QtTest executable into a folder of its own, so that everything a test puts
# beside its program (logs/, translator/, config/) is private to that test, and registers it
# with pinned locale, an offscreen platform and a private runtime directory. Tests labelled
# "thread" are the ones CI also runs under ThreadSanitizer. TRANSLATION builds the agent's
# translation first and names its file in TNW_TEST_TRANSLATION.
set(TARNWELL_TEST_RUNTIME "${CMAKE_BINARY_DIR}/test-runtime")
file(MAKE_DIRECTORY "${TARNWELL_TEST_RUNTIME}")
file(CHMOD "${TARNWELL_TEST_RUNTIME}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

# Cross-built for Windows, the tests run under wine in the prefix TARNWELL_WINE_PREFIX (made by
# tools/test --windows), through a launcher that shows their output and sets WINEPATH, where
# the Windows processes find Qt, OpenSSL and the compiler runtime.
if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(TARNWELL_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "The tests' wine prefix")
    # The toolchain's own Qt first: with the copies in bin/ found first, a QApplication never came
    # up under wine with the offscreen platform (the copies serve the installed layout).
    set(_wine_path "Z:${TARNWELL_WIN64_ROOT}/qt5/bin" "Z:${TARNWELL_WIN64_ROOT}/openssl/bin" "Z:${TARNWELL_RUNTIME_DIR}")
    foreach(_dir IN LISTS TARNWELL_MINGW_RUNTIME_DIRS)
        list(APPEND _wine_path "Z:${_dir}")
    endforeach()
    string(REPLACE "/" "\\" TARNWELL_WINEPATH "${_wine_path}")
    set(TARNWELL_WINE "${CMAKE_CROSSCOMPILING_EMULATOR}")
    set(TARNWELL_QTEST_LAUNCHER "${CMAKE_BINARY_DIR}/wine-qtest")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/toolchains/wine-qtest.in" "${TARNWELL_QTEST_LAUNCHER}"
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    # The Windows openssl command would look for its settings under the prefix it was built for.
    file(WRITE "${CMAKE_BINARY_DIR}/openssl.cnf" "")
    set(TARNWELL_WINE_ENVIRONMENT
        "WINEPREFIX=${TARNWELL_WINE_PREFIX}" "WINEDEBUG=-all" "OPENSSL_CONF=Z:${CMAKE_BINARY_DIR}/openssl.cnf"
        "QT_PLUGIN_PATH=Z:${TARNWELL_WIN64_ROOT}/qt5/plugins")
endif()

function(tarnwell_add_qtest name)
    cmake_parse_arguments(T "TRANSLATION" "TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    set_target_properties(${name} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests/${name}")
    tarnwell_target_settings(${name})
    if(T_TRANSLATION)
        target_compile_definitions(${name} PRIVATE
            TNW_TEST_TRANSLATION="${TARNWELL_RUNTIME_DIR}/translator/tarnwellv4_selvane_ko.qm")
        add_dependencies(${name} tarnwell_translations)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    if(TARNWELL_QTEST_LAUNCHER)
        add_test(NAME ${name} COMMAND "${TARNWELL_QTEST_LAUNCHER}" $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;XDG_RUNTIME_DIR=${TARNWELL_TEST_RUNTIME};QTEST_FUNCTION_TIMEOUT=90000;${TARNWELL_WINE_ENVIRONMENT};${T_ENVIRONMENT}")
endfunction()

# tarnwell_add_wine_version_run(<name> <test target> <winecfg version> <reported version>
#                               [test functions...])
#
# Registers a further run of a QtTest program under wine that first switches the prefix to
# another Windows version (winecfg -v win10, win7); the program reads the version it must see
# (QSysInfo::productVersion(): "10", "7sp1") from TNW_WINDOWS_VERSION. The runs that switch the version hold a lock, since the prefix is shared.
function(tarnwell_add_wine_version_run name target winecfg_version version)
    # winecfg's output goes nowhere: when it is the prefix's first program, the desktop process
    # that it starts would otherwise hold ctest's pipe open until the time-out.
    set(_launch "'${TARNWELL_WINE}' winecfg -v ${winecfg_version} >/dev/null 2>&1 && exec '${TARNWELL_QTEST_LAUNCHER}' \"$@\"")
    add_test(NAME ${name}
             COMMAND sh -c "${_launch}" sh $<TARGET_FILE:${target}> ${ARGN})
    get_test_property(${target} ENVIRONMENT _environment)
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${_environment};TNW_WINDOWS_VERSION=${version}"
        RESOURCE_LOCK wine_windows_version
        TIMEOUT 120)
endfunction()
