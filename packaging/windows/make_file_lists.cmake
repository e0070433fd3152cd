# cmake -DSTAGE=<install tree> -DWXS=<file> -DNSH=<file> -P make_file_lists.cmake
#
# Both packages take their file lists from the install tree, so neither can hold a file the
# other lacks, and a new runtime DLL needs no edit here.
#   WXS: the MSI's directories and components (the ComponentGroup "TarnwellFiles", below the
#        directory INSTALLDIR). STAGE must lie beside WXS: wixl resolves a Source relative to the
#        folder of its .wxs file and finds no absolute one.
#   NSH: the NSIS uninstaller's deletions.
# config\server.ini is the administrator's: its component is named ServerSettings for
# make_msi.cmake and its folder ConfigFolder for package_facts.wxs; the NSIS uninstaller leaves
# it to its own check. logs\ is created empty.
cmake_minimum_required(VERSION 3.25)

get_filename_component(_wxs_dir "${WXS}" DIRECTORY)
file(RELATIVE_PATH _stage_source "${_wxs_dir}" "${STAGE}")
set(_settings "config/server.ini")
# Fixed per path, so that an upgrade finds the same components (and keeps server.ini).
set(_guid_namespace "6f1c9a52-3d47-5b8e-9a0c-2e7d4f61b835")

function(_id prefix path out)
    string(SHA1 _hash "${path}")
    string(SUBSTRING "${_hash}" 0 24 _hash)
    set(${out} "${prefix}${_hash}" PARENT_SCOPE)
endfunction()

function(_guid path out)
    string(UUID _uuid NAMESPACE "${_guid_namespace}" NAME "${path}" TYPE SHA1 UPPER)
    set(${out} "${_uuid}" PARENT_SCOPE)
endfunction()

set(_components "")
set(_deletions "")
set(_folders "")

# Writes the elements of one directory (relative path, empty for the top) into _text.
function(_directory relative indent)
    set(_text "")
    set(_full "${STAGE}")
    if(relative)
        set(_full "${STAGE}/${relative}")
    endif()
    file(GLOB _entries LIST_DIRECTORIES true RELATIVE "${_full}" "${_full}/*")
    list(SORT _entries)
    set(_has_files FALSE)
    foreach(_entry IN LISTS _entries)
        set(_path "${_entry}")
        if(relative)
            set(_path "${relative}/${_entry}")
        endif()
        string(REPLACE "/" "\\" _windows_path "${_path}")
        if(IS_DIRECTORY "${STAGE}/${_path}")
            _id(d "${_path}" _dir_id)
            if(_path STREQUAL "config")
                # The settings components of package_facts.wxs live here.
                set(_dir_id ConfigFolder)
            endif()
            _directory("${_path}" "${indent}    ")
            string(APPEND _text "${indent}<Directory Id=\"${_dir_id}\" Name=\"${_entry}\">\n"
                                "${_sub_text}${indent}</Directory>\n")
            list(APPEND _folders "${_windows_path}")
        else()
            set(_has_files TRUE)
            _id(c "${_path}" _component_id)
            if(_path STREQUAL _settings)
                # make_msi.cmake marks this component by its name.
                set(_component_id ServerSettings)
            endif()
            _id(f "${_path}" _file_id)
            _guid("${_path}" _component_guid)
            if(NOT _path STREQUAL _settings)
                list(APPEND _deletions "${_windows_path}")
            endif()
            string(APPEND _text
                "${indent}<Component Id=\"${_component_id}\" Guid=\"${_component_guid}\""
                " Win64=\"yes\">\n"
                "${indent}    <File Id=\"${_file_id}\" Name=\"${_entry}\""
                " Source=\"${_stage_source}/${_path}\" KeyPath=\"yes\"/>\n"
                "${indent}</Component>\n")
            list(APPEND _components "${_component_id}")
        endif()
    endforeach()
    if(relative AND NOT _has_files AND NOT _entries)
        # An empty folder (logs\) is a component of its own that creates it.
        _id(c "${relative}/" _component_id)
        _guid("${relative}/" _component_guid)
        string(APPEND _text
            "${indent}<Component Id=\"${_component_id}\" Guid=\"${_component_guid}\" Win64=\"yes\">\n"
            "${indent}    <CreateFolder/>\n"
            "${indent}</Component>\n")
        list(APPEND _components "${_component_id}")
    endif()
    set(_sub_text "${_text}" PARENT_SCOPE)
    set(_components "${_components}" PARENT_SCOPE)
    set(_deletions "${_deletions}" PARENT_SCOPE)
    set(_folders "${_folders}" PARENT_SCOPE)
endfunction()

if(NOT EXISTS "${STAGE}/tarnwell.exe")
    message(FATAL_ERROR "${STAGE} is no install tree: no tarnwell.exe")
endif()
_directory("" "            ")

set(_refs "")
foreach(_component IN LISTS _components)
    string(APPEND _refs "            <ComponentRef Id=\"${_component}\"/>\n")
endforeach()
file(WRITE "${WXS}"
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<!-- Generated from the install tree by make_file_lists.cmake. -->\n"
    "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
    "    <Fragment>\n"
    "        <DirectoryRef Id=\"INSTALLDIR\">\n"
    "${_sub_text}"
    "        </DirectoryRef>\n"
    "        <ComponentGroup Id=\"TarnwellFiles\">\n"
    "${_refs}"
    "        </ComponentGroup>\n"
    "    </Fragment>\n"
    "</Wix>\n")

set(_nsh "; Generated from the install tree by make_file_lists.cmake.\n")
foreach(_file IN LISTS _deletions)
    string(APPEND _nsh "Delete \"$INSTDIR\\${_file}\"\n")
endforeach()
# Deepest first, as the walk lists them; RMDir without /r leaves a folder that still holds
# something (logs\ with the users' logs, config\ with an edited server.ini).
foreach(_folder IN LISTS _folders)
    string(APPEND _nsh "RMDir \"$INSTDIR\\${_folder}\"\n")
endforeach()
file(WRITE "${NSH}" "${_nsh}")
