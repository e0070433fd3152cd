# cmake -DVERSION=<x.y.z> -DFILES_WXS=<generated file list> -DFACTS_WXS=<package_facts.wxs>
#       -DSETTINGS_CHECK=<tarnwell_settings_check.dll> -DOUTPUT=<file.msi> -P make_msi.cmake
#
# Builds the MSI from tarnwell.wxs, the file list and the fragment of package_facts.cmake, then
# adds with msibuild what wixl has no element for:
# - the settings file's component is marked "never overwrite": an upgrade then keeps an edited
#   config\server.ini (the older version is removed only after the newer one is in, and the
#   component is the same in both);
# - the version of the agent's program and library (wixl leaves every file unversioned), so
#   that a repair or an upgrade compares versions, not dates;
# - the settings properties: each one's component is installed only when the property is given,
#   and its IniFile row writes the property into [server] of server.ini. No RemoveIniValues
#   runs: an upgrade without the property would otherwise remove the key that an earlier
#   install wrote, with the older version's component. Uninstalling removes the whole file.
# Last, after every edit, the package is signed when sign.cmake finds a key to sign with.
cmake_minimum_required(VERSION 3.25)

include("${CMAKE_CURRENT_LIST_DIR}/package_facts.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/sign.cmake")
list(JOIN TARNWELL_LOGS_GRANT " " _logs_grant)

if(NOT EXISTS "${SETTINGS_CHECK}")
    message(FATAL_ERROR "no settings check DLL: ${SETTINGS_CHECK}")
endif()
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
find_program(MSIINFO msiinfo REQUIRED)
get_filename_component(_files_dir "${FILES_WXS}" DIRECTORY)

# wixl resolves the file list's Source paths relative to the list's own folder, and takes
# no absolute one.
file(RELATIVE_PATH _settings_check "${_files_dir}" "${SETTINGS_CHECK}")
execute_process(
    COMMAND "${WIXL}" -a x64 -D "Version=${VERSION}" -D "LogsGrant=${_logs_grant}"
            -D "SettingsCheck=${_settings_check}" -o "${OUTPUT}"
            "${CMAKE_CURRENT_LIST_DIR}/tarnwell.wxs" "${FILES_WXS}" "${FACTS_WXS}"
    WORKING_DIRECTORY "${_files_dir}"
    RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "wixl failed: ${_status}")
endif()

# One option (-q or -i) and its argument, which may hold semicolons.
function(_msibuild option argument)
    execute_process(COMMAND "${MSIBUILD}" "${OUTPUT}" ${option} "${argument}"
                    RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
        message(FATAL_ERROR "msibuild ${option} ${argument} failed: ${_status}")
    endif()
endfunction()

# 256: a 64-bit component; 128: never overwrite the key path file once it exists.
_msibuild(-q "UPDATE `Component` SET `Attributes` = 384 WHERE `Component` = 'ServerSettings'")

# Their version resources carry the package's version with a fourth number, 0. A file hash is
# for unversioned files only.
execute_process(COMMAND "${MSIINFO}" export "${OUTPUT}" File
    OUTPUT_VARIABLE _files RESULT_VARIABLE _status)
foreach(_file tarnwell.exe quillmark.dll)
    if(NOT _status EQUAL 0 OR NOT _files MATCHES "\n([^\t\n]+)\t[^\t\n]+\t${_file}\t")
        message(FATAL_ERROR "no ${_file} in the File table of ${OUTPUT}")
    endif()
    _msibuild(-q "UPDATE `File` SET `Version` = '${VERSION}.0' WHERE `File` = '${CMAKE_MATCH_1}'")
    _msibuild(-q "DELETE FROM `MsiFileHash` WHERE `File_` = '${CMAKE_MATCH_1}'")
endforeach()

execute_process(COMMAND "${MSIINFO}" export "${OUTPUT}" Property
    OUTPUT_VARIABLE _properties RESULT_VARIABLE _status)
if(NOT _status EQUAL 0 OR NOT _properties MATCHES "\nSecureCustomProperties\t([^\r\n]*)")
    message(FATAL_ERROR "no SecureCustomProperties in ${OUTPUT}")
endif()
set(_secure "${CMAKE_MATCH_1}")

get_filename_component(_output_dir "${OUTPUT}" DIRECTORY)
set(_idt_dir "${_output_dir}/IniFile-idt")
file(REMOVE_RECURSE "${_idt_dir}")
file(MAKE_DIRECTORY "${_idt_dir}")
set(_rows "IniFile\tFileName\tDirProperty\tSection\tKey\tValue\tAction\tComponent_\r\n"
          "s72\tl255\tS72\tl96\tl128\tl255\ti2\ts72\r\n"
          "IniFile\tIniFile\r\n")
foreach(_option IN LISTS TARNWELL_SETTINGS_OPTIONS)
    tarnwell_split_fact("${_option}" _property _key)
    tarnwell_setting_component(${_property} _component)
    string(APPEND _secure ";${_property}")
    # 64: the condition is looked at again when the product is reinstalled.
    _msibuild(-q "UPDATE `Component` SET `Condition` = '${_property}', `Attributes` = 320 WHERE `Component` = '${_component}'")
    # Action 0: add the key, or replace its value.
    list(APPEND _rows "Ini_${_property}\tserver.ini\tConfigFolder\tserver\t${_key}\t[${_property}]\t0\t${_component}\r\n")
endforeach()
string(JOIN "" _rows ${_rows})
file(WRITE "${_idt_dir}/IniFile.idt" "${_rows}")
_msibuild(-i "${_idt_dir}/IniFile.idt")
file(REMOVE_RECURSE "${_idt_dir}")
# After the files (InstallFiles, 4000), where the installer's standard order has it.
_msibuild(-q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)")
_msibuild(-q "UPDATE `Property` SET `Value` = '${_secure}' WHERE `Property` = 'SecureCustomProperties'")

tarnwell_sign("${OUTPUT}")
