# Our own targets only; third-party code keeps its own flags.
function(tonflux_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
