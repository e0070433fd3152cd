# What both Windows packages set up besides their files, written down once. The NSIS fragment,
# the MSI fragment and the two .reg files are generated from these lists (make_fragments.cmake),
# and the package test reads them back to check what the packages and the .reg files did:
#   cmake -P package_facts.cmake     prints one fact a line, its fields separated by "|":
#     value  <key below HKLM\Software\Classes>  <value name, empty for the default>  <data>
#     logs   <icacls arguments after the folder>
#     option <public property and installer option>  <key in [server] of config\server.ini>
cmake_policy(VERSION 3.25)

# The tarnwell: link handler, for every user of the machine: key below HKLM\Software\Classes,
# value name (empty: the key's default value), data. @INSTALL_DIR@ stands for the install
# folder, without a trailing backslash. No data may hold a single quote (NSIS quotes with it).
set(TARNWELL_LINK_HANDLER_KEY "tarnwell")
set(TARNWELL_LINK_HANDLER_VALUES
    "tarnwell||URL:tarnwell Protocol"
    "tarnwell|URL Protocol|"
    "tarnwell\\DefaultIcon||\"@INSTALL_DIR@\\tarnwell.exe\",0"
    "tarnwell\\shell\\open\\command||\"@INSTALL_DIR@\\tarnwell.exe\" \"%1\"")
# The value whose data tells whose handler it is: an uninstall removes the handler only while it
# still starts this copy, so that removing an old copy does not unregister a newer one.
set(TARNWELL_LINK_HANDLER_OWNER "tarnwell\\shell\\open\\command")

# The rights of logs\, where the agent writes its daily log as the signed-in user. The inherited
# rights of the install folder (Users may read everything) are cut off. Users may create files
# (WD on a folder) and pass through it, but neither list it nor make folders in it. A file
# belongs to its creator alone (CREATOR OWNER), so nobody reads another user's sign-on
# addresses; and it is never executable: under Program Files a file that users can both write
# and run would defeat an application-control rule that trusts the folder. OWNER RIGHTS takes
# away the owner's implicit right to change the file's rights, which would bring execute back.
set(_file_rights "(RD,WD,AD,REA,WEA,RA,WA,DE,RC,S)")
set(TARNWELL_LOGS_GRANT
    "/inheritance:r" "/grant:r"
    "*S-1-5-18:(OI)(CI)F"
    "*S-1-5-32-544:(OI)(CI)F"
    "*S-1-5-32-545:(WD,X,RA,REA,S)"
    "*S-1-3-0:(OI)(IO)${_file_rights}"
    "*S-1-3-4:(OI)(IO)${_file_rights}")
unset(_file_rights)

# The server settings that an install can set: MSI public property (also the installer's
# option /NAME=value) and its key in [server] of config\server.ini. A setting given replaces
# its key; one not given (or given empty) leaves the file's key as it is.
set(TARNWELL_SETTINGS_OPTIONS
    "SERVER_IP|ip"
    "SERVER_PORT|port"
    "ENABLE_CERTIFICATE_VERIFICATION|enable_certificate_verification")

# Splits "a|b|c" into the variables named after it.
function(tarnwell_split_fact fact)
    string(REPLACE "|" ";" _parts "${fact}")
    set(_index 0)
    foreach(_name IN LISTS ARGN)
        list(GET _parts ${_index} _part)
        set(${_name} "${_part}" PARENT_SCOPE)
        math(EXPR _index "${_index} + 1")
    endforeach()
endfunction()

# The MSI component that writes one setting, installed only when the setting is given.
function(tarnwell_setting_component property out)
    set(${out} "Setting_${property}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    foreach(_value IN LISTS TARNWELL_LINK_HANDLER_VALUES)
        tarnwell_split_fact("${_value}" _key _name _data)
        message(NOTICE "value|${_key}|${_name}|${_data}")
    endforeach()
    list(JOIN TARNWELL_LOGS_GRANT " " _grant)
    message(NOTICE "logs|${_grant}")
    foreach(_option IN LISTS TARNWELL_SETTINGS_OPTIONS)
        tarnwell_split_fact("${_option}" _property _key)
        message(NOTICE "option|${_property}|${_key}")
    endforeach()
endif()
