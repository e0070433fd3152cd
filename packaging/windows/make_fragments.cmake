# Generates, from the lists of package_facts.cmake, the fragments that both Windows packages are
# built with and the two .reg files for deployment without a package:
#   tarnwell_windows_fragments(<fragment dir> <.reg dir>)
#     <fragment dir>/package_facts.nsh   macros that tarnwell.nsi inserts
#     <fragment dir>/package_facts.wxs   a fragment that make_msi.cmake builds with tarnwell.wxs
#     <.reg dir>/tarnwell-link-handler.reg, tarnwell-link-handler-remove.reg
include("${CMAKE_CURRENT_LIST_DIR}/package_facts.cmake")

# Where the .reg files point: the packages' default install folder.
set(TARNWELL_DEFAULT_INSTALL_DIR "C:\\Program Files\\Tarnwell")

function(_tarnwell_xml_escape text out)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    string(REPLACE "\"" "&quot;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(tarnwell_windows_fragments fragment_dir reg_dir)
    set(_templates "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")
    set(LINK_HANDLER_KEY "${TARNWELL_LINK_HANDLER_KEY}")
    set(NSIS_LINK_HANDLER "")
    set(WXS_LINK_HANDLER "")
    set(REG_LINK_HANDLER "")
    set(_reg_key "")
    set(_key_path "yes")
    foreach(_value IN LISTS TARNWELL_LINK_HANDLER_VALUES)
        tarnwell_split_fact("${_value}" _key _name _data)
        if(_data MATCHES "'" OR _data MATCHES "\\$")
            message(FATAL_ERROR "package_facts.cmake: no ' or $ in a value's data: ${_data}")
        endif()

        string(REPLACE "@INSTALL_DIR@" "$INSTDIR" _nsis "${_data}")
        string(APPEND NSIS_LINK_HANDLER
            "    WriteRegStr HKLM \"Software\\Classes\\${_key}\" \"${_name}\" '${_nsis}'\n")
        if(_key STREQUAL TARNWELL_LINK_HANDLER_OWNER AND _name STREQUAL "")
            set(NSIS_OWNER_KEY "${_key}")
            set(NSIS_OWNER_NAME "${_name}")
            set(NSIS_OWNER_DATA "${_nsis}")
        endif()

        # [INSTALLDIR] ends in a backslash.
        string(REPLACE "@INSTALL_DIR@\\" "[INSTALLDIR]" _msi "${_data}")
        _tarnwell_xml_escape("${_msi}" _msi)
        set(_name_attribute "")
        if(NOT _name STREQUAL "")
            _tarnwell_xml_escape("${_name}" _xml_name)
            set(_name_attribute " Name=\"${_xml_name}\"")
        endif()
        string(APPEND WXS_LINK_HANDLER
            "                <RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\${_key}\""
            "${_name_attribute} Type=\"string\" Value=\"${_msi}\" KeyPath=\"${_key_path}\"/>\n")
        set(_key_path "no")

        string(REPLACE "@INSTALL_DIR@" "${TARNWELL_DEFAULT_INSTALL_DIR}" _reg "${_data}")
        string(REPLACE "\\" "\\\\" _reg "${_reg}")
        string(REPLACE "\"" "\\\"" _reg "${_reg}")
        if(NOT _key STREQUAL _reg_key)
            string(APPEND REG_LINK_HANDLER "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\${_key}]\r\n")
            set(_reg_key "${_key}")
        endif()
        if(_name STREQUAL "")
            string(APPEND REG_LINK_HANDLER "@=\"${_reg}\"\r\n")
        else()
            string(APPEND REG_LINK_HANDLER "\"${_name}\"=\"${_reg}\"\r\n")
        endif()
    endforeach()
    if(NOT DEFINED NSIS_OWNER_DATA)
        message(FATAL_ERROR "package_facts.cmake: no default value of ${TARNWELL_LINK_HANDLER_OWNER}")
    endif()

    list(JOIN TARNWELL_LOGS_GRANT " " LOGS_GRANT)

    set(NSIS_SETTINGS_OPTIONS "")
    set(WXS_SETTINGS_COMPONENTS "")
    set(WXS_SETTINGS_REFS "")
    foreach(_option IN LISTS TARNWELL_SETTINGS_OPTIONS)
        tarnwell_split_fact("${_option}" _property _ini_key)
        string(APPEND NSIS_SETTINGS_OPTIONS
            "    ClearErrors\n"
            "    \${GetOptions} $0 \"/${_property}=\" $1\n"
            "    IfErrors +3\n"
            "    StrCmp $1 \"\" +2\n"
            "    WriteINIStr \"$INSTDIR\\config\\server.ini\" \"server\" \"${_ini_key}\" $1\n")
        tarnwell_setting_component(${_property} _component)
        string(UUID _guid NAMESPACE "6f1c9a52-3d47-5b8e-9a0c-2e7d4f61b835" NAME "setting/${_property}"
               TYPE SHA1 UPPER)
        string(APPEND WXS_SETTINGS_COMPONENTS
            "            <Component Id=\"${_component}\" Guid=\"${_guid}\" Win64=\"yes\">\n"
            "                <CreateFolder/>\n"
            "            </Component>\n")
        string(APPEND WXS_SETTINGS_REFS "            <ComponentRef Id=\"${_component}\"/>\n")
    endforeach()
    # Each ends in a line break that the template's own would double.
    foreach(_text NSIS_LINK_HANDLER WXS_LINK_HANDLER REG_LINK_HANDLER NSIS_SETTINGS_OPTIONS
            WXS_SETTINGS_COMPONENTS WXS_SETTINGS_REFS)
        string(REGEX REPLACE "\r?\n$" "" ${_text} "${${_text}}")
    endforeach()

    configure_file("${_templates}/package_facts.nsh.in" "${fragment_dir}/package_facts.nsh" @ONLY)
    configure_file("${_templates}/package_facts.wxs.in" "${fragment_dir}/package_facts.wxs" @ONLY)
    foreach(_reg tarnwell-link-handler tarnwell-link-handler-remove)
        configure_file("${_templates}/${_reg}.reg.in" "${reg_dir}/${_reg}.reg" @ONLY
                       NEWLINE_STYLE CRLF)
    endforeach()
endfunction()
