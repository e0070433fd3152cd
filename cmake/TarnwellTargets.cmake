# Warning and sanitizer settings shared by every target of the project.
function(tarnwell_target_settings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wcast-align
                                                 $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
    endif()
    if(TARNWELL_SANITIZE STREQUAL "address")
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                                 -fno-sanitize-recover=undefined
                                                 -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    elseif(TARNWELL_SANITIZE STREQUAL "thread")
        target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
        target_link_options(${target} PRIVATE -fsanitize=thread)
    elseif(NOT TARNWELL_SANITIZE STREQUAL "")
        message(FATAL_ERROR "TARNWELL_SANITIZE must be empty, 'address' or 'thread'")
    endif()
endfunction()
