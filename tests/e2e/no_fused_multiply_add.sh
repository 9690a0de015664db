#!/bin/sh
# Fails when one of the programs given contains a fused multiply-add instruction: the signal
# code rounds every product and every sum on its own, so it is built without contraction
# (-ffp-contract=off) also in the functions compiled for AVX2 and AVX-512, which have them.
status=0
for program in "$@"; do
    found=$(objdump -d --no-show-raw-insn "$program" | grep -E -c '\sv?fn?m(add|sub)[0-9a-z]*\s')
    if [ "$found" -ne 0 ]; then
        echo "$program: $found fused multiply-add instruction(s)"
        status=1
    fi
done
exit $status
