#!/usr/bin/env python3
"""Corrects widl's stubless proxy for [out] LPWSTR* / LPOLESTR* parameters.

widl 7 and 8 describe such a parameter in the procedure format string by the
type offset of the inner string pointer (FC_OP) instead of the reference
pointer that holds it (FC_RP [allocated_on_stack] [pointer_deref]). The NDR
engine then marshals the string pointer as if it were the parameter itself:
the call answers S_OK and the caller receives NULL. MIDL, and widl's own type
format string, put the FC_RP descriptor four bytes before the inner pointer,
so the fix is to point every such parameter at that descriptor.

Usage: fix_widl_proxy.py generated_p.c fixed_p.c
"""
import re
import sys

OUTER = re.compile(r"/\* (\d+) \((?:LPWSTR|LPOLESTR) \*\) \*/\s*\n"
                   r"\s*0x11, 0x14,[^\n]*\n"
                   r"\s*NdrFcShort\(0x2\),\s*/\* Offset= 2 \((\d+)\) \*/")
PARAM = re.compile(r"NdrFcShort\(0x([0-9a-f]+)\),(\s*)/\* type offset = (\d+) \*/")


def main():
    source, target = sys.argv[1], sys.argv[2]
    with open(source) as handle:
        text = handle.read()
    inner_to_outer = {}
    for match in OUTER.finditer(text):
        outer, inner = int(match.group(1)), int(match.group(2))
        if inner != outer + 4:
            sys.exit("fix_widl_proxy: unexpected layout at type offset %d" % outer)
        inner_to_outer[inner] = outer
    fixed = []

    def repair(match):
        offset = int(match.group(3))
        if offset not in inner_to_outer:
            return match.group(0)
        outer = inner_to_outer[offset]
        fixed.append(offset)
        return "NdrFcShort(0x%x),%s/* type offset = %d (corrected) */" % (
            outer, match.group(2), outer)

    text = PARAM.sub(repair, text)
    with open(target, "w") as handle:
        handle.write(text)
    print("fix_widl_proxy: %d string out-parameter(s) corrected" % len(fixed))


if __name__ == "__main__":
    main()
