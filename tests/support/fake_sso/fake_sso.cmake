# The test SSO library and its variants, for the project's build and for the x86 build of the
# 32-bit helper (agent/sso32), each of which adds its own settings to the targets.
#   tnw_add_fake_sso_libraries(<output folder> <variable for the targets>)
# Complete, without IsSafePCRunning, without GetCurrUserInfo; on Windows also complete with its
# running check in a DLL of its own that it imports from beside it (in <output folder>/extra).
function(tnw_add_fake_sso_libraries dir out)
    set(_fake "${CMAKE_CURRENT_FUNCTION_LIST_DIR}")
    set(_variants "tnw_fake_suser|" "tnw_fake_suser_no_running|FAKE_SSO_WITHOUT_RUNNING"
                  "tnw_fake_suser_no_user|FAKE_SSO_WITHOUT_USER_INFO")
    set(_targets "")
    if(WIN32)
        add_library(tnw_fake_sso_helper SHARED "${_fake}/fake_sso_helper.c" "${_fake}/fake_sso_env.h")
        set_target_properties(tnw_fake_sso_helper PROPERTIES
            PREFIX "" RUNTIME_OUTPUT_DIRECTORY "${dir}/extra")
        list(APPEND _targets tnw_fake_sso_helper)
        list(APPEND _variants "tnw_fake_suser_with_helper|FAKE_SSO_WITH_HELPER")
    endif()
    foreach(_variant IN LISTS _variants)
        string(REPLACE "|" ";" _variant "${_variant}")
        list(GET _variant 0 _target)
        list(GET _variant 1 _definition)
        add_library(${_target} SHARED "${_fake}/fake_suser.c" "${_fake}/fake_sso_env.h")
        target_compile_definitions(${_target} PRIVATE ${_definition})
        set_target_properties(${_target} PROPERTIES
            C_VISIBILITY_PRESET hidden
            LIBRARY_OUTPUT_DIRECTORY "${dir}"
            RUNTIME_OUTPUT_DIRECTORY "${dir}")
        list(APPEND _targets ${_target})
    endforeach()
    if(WIN32)
        target_link_libraries(tnw_fake_suser_with_helper PRIVATE tnw_fake_sso_helper)
    endif()
    set(${out} ${_targets} PARENT_SCOPE)
endfunction()
