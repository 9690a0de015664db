#!/bin/sh
# Fails when one of the programs given contains a fused multiply-add instruction: the signal
# code rounds every product and every sum on its own, so it is built without contraction
# (-ffp-contract=off) also in the functions compiled for AVX2 and AVX-512, which have them.
# Fails as well when a program cannot be disassembled, or when none is given.
if [ $# -eq 0 ]; then
    echo "usage: $0 program..." >&2
    exit 2
fi
status=0
for program in "$@"; do
    if ! listing=$(objdump -d --no-show-raw-insn "$program"); then
        echo "$program: objdump failed"
        status=1
        continue
    fi
    found=$(printf '%s\n' "$listing" | grep -E -c '\sv?fn?m(add|sub)[0-9a-z]*\s')
    if [ "$found" -ne 0 ]; then
        echo "$program: $found fused multiply-add instruction(s)"
        status=1
    fi
done
exit $status
