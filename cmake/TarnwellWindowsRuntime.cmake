# The Windows program folder holds every DLL the agent needs, so that it starts on a PC that
# has neither Qt, OpenSSL nor the compiler's runtime. The DLLs are found by reading the PE
# imports of the built program and library (and of the Qt plugins), copied beside them after
# each build, and the same list is installed.
#
#   tarnwell_windows_runtime(EXECUTABLES <target>... LIBRARIES <target>...)

# Qt loads its platform plugin, and the native look, from these subfolders of the program's.
set(TARNWELL_QT_PLUGINS Qt5::QWindowsIntegrationPlugin Qt5::QWindowsVistaStylePlugin)

function(tarnwell_windows_runtime)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "EXECUTABLES;LIBRARIES")

    get_target_property(_qt_core_dll Qt5::Core IMPORTED_LOCATION_RELEASE)
    get_filename_component(_qt_bin "${_qt_core_dll}" DIRECTORY)
    get_filename_component(_plugin_root "${_qt_bin}/../plugins" ABSOLUTE)
    get_filename_component(_openssl_bin "${OPENSSL_INCLUDE_DIR}/../bin" ABSOLUTE)
    # An unfit crypto DLL stops the configuration already; the build checks the one it copies.
    include(TarnwellCheckCrypto)
    file(GLOB _crypto_dlls "${_openssl_bin}/libcrypto*.dll")
    foreach(_dll IN LISTS _crypto_dlls)
        tarnwell_check_crypto_dll("${_dll}" "${OPENSSL_INCLUDE_DIR}")
    endforeach()
    # The compiler's own runtime as the toolchain file found it (empty for a native build, whose
    # compiler runtime lies beside Qt's DLLs).
    set(_search_dirs "${_qt_bin}" "${_openssl_bin}" ${TARNWELL_MINGW_RUNTIME_DIRS})

    set(_plugins "")
    foreach(_plugin_target IN LISTS TARNWELL_QT_PLUGINS)
        get_target_property(_file ${_plugin_target} IMPORTED_LOCATION_RELEASE)
        file(RELATIVE_PATH _relative "${_plugin_root}" "${_file}")
        list(APPEND _plugins "${_relative}")
    endforeach()

    set(_executables "")
    foreach(_target IN LISTS arg_EXECUTABLES)
        list(APPEND _executables "$<TARGET_FILE:${_target}>")
    endforeach()
    set(_libraries "")
    foreach(_target IN LISTS arg_LIBRARIES)
        list(APPEND _libraries "$<TARGET_FILE:${_target}>")
    endforeach()

    set(_list_file "${CMAKE_BINARY_DIR}/tarnwell_runtime_files.txt")
    set(_script "${PROJECT_SOURCE_DIR}/cmake/TarnwellResolveRuntime.cmake")
    # Runs on every build: a DLL deleted from the program folder comes back, and a new import
    # is picked up without a fresh configure.
    add_custom_target(tarnwell_windows_runtime ALL
        COMMAND "${CMAKE_COMMAND}"
                "-DEXECUTABLES=$<JOIN:${_executables},$<SEMICOLON>>"
                "-DLIBRARIES=$<JOIN:${_libraries},$<SEMICOLON>>"
                "-DPLUGINS=$<JOIN:${_plugins},$<SEMICOLON>>"
                "-DPLUGIN_ROOT=${_plugin_root}"
                "-DSEARCH_DIRS=$<JOIN:${_search_dirs},$<SEMICOLON>>"
                "-DOBJDUMP=${CMAKE_OBJDUMP}"
                "-DDESTINATION=${TARNWELL_RUNTIME_DIR}"
                "-DLIST_FILE=${_list_file}"
                "-DCRYPTO_INCLUDE_DIR=${OPENSSL_INCLUDE_DIR}"
                -P "${_script}"
        BYPRODUCTS "${_list_file}"
        COMMENT "Runtime DLLs and Qt plugins beside the program"
        VERBATIM)
    add_dependencies(tarnwell_windows_runtime ${arg_EXECUTABLES} ${arg_LIBRARIES})

    # The installed tree gets what the build copied, from the program folder itself.
    install(CODE "
        file(STRINGS \"${_list_file}\" _runtime_files)
        foreach(_file IN LISTS _runtime_files)
            get_filename_component(_dir \"\${_file}\" DIRECTORY)
            file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${_dir}\" TYPE SHARED_LIBRARY
                 FILES \"${TARNWELL_RUNTIME_DIR}/\${_file}\")
        endforeach()")
endfunction()
