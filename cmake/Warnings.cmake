# Every project target calls vx_target_defaults() so that warning policy lives in one place.
function(vx_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion)
    if(VX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    target_compile_definitions(${target} PRIVATE _GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endfunction()
