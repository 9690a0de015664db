# vekmrk_warnings(target): the warning set every target of the project builds with.
function(vekmrk_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wformat=2)
endfunction()

# vekmrk_signal_code(target): code whose floating-point results are defined to the bit.
# No contraction of multiply-adds, no reassociation; every float<->double step is visible.
function(vekmrk_signal_code target)
    target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math
                                             -Wdouble-promotion -Wfloat-conversion)
endfunction()
