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
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;XDG_RUNTIME_DIR=${TARNWELL_TEST_RUNTIME};QTEST_FUNCTION_TIMEOUT=90000;${T_ENVIRONMENT}")
endfunction()
