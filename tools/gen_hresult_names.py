#!/usr/bin/env python3
"""Generates diag/hresult_names.cpp, the constant table behind HresultName.

The names and values come from the published API headers only: the mingw-w64
headers (Debian's mingw-w64-common) and, for DirectPlay Voice and XACT, which
mingw-w64 lacks, Wine's Windows headers (Debian's libwine-dev). Values are never
transcribed by hand: the headers' own compiler (i686-w64-mingw32-gcc) expands
their macros and evaluates every constant, and the values are read back from
the assembly it writes. The DirectX sample framework's ten codes are the one
exception: no header here declares them, so they are given below in the
framework's own MAKE_HRESULT form and evaluated the same way.

Usage:
  gen_hresult_names.py [--output FILE] [--compare FILE] [--report]

--compare regenerates and fails unless FILE matches byte for byte; the exit
code is 77 (a skipped test to ctest) when the headers are not installed.
"""

import argparse
import os
import re
import subprocess
import sys

MINGW_INCLUDE = "/usr/share/mingw-w64/include"
WINE_INCLUDE = "/usr/include/wine/wine/windows"
COMPILER = "i686-w64-mingw32-gcc"
SKIP = 77

MINGW_HEADERS = [
    "windows.h", "objbase.h", "d3d9.h", "ddraw.h", "d3dx9.h", "dxfile.h",
    "d3dx9xof.h", "dsound.h", "dmerror.h", "vfwmsgs.h", "mmstream.h",
    "mediaerr.h", "wbemcli.h", "dinput.h", "dinputd.h", "dplay8.h", "dxgi.h",
    "d3d10.h", "comadmin.h", "scarderr.h",
]
# Wine's xact.h and xact3.h disagree: xact.h gives SEEKTIMEBEYONDWAVEEND the
# value of SEEKTIMEBEYONDCUEEND. xact3.h keeps every code distinct.
WINE_HEADERS = ["windows.h", "objbase.h", "dvoice.h", "xact3.h"]

# Published in the DirectX SDK samples' DXUT.h, which no header tree here has.
DXUT_CODES = [
    ("DXUTERR_NODIRECT3D", 0x0901),
    ("DXUTERR_NOCOMPATIBLEDEVICES", 0x0902),
    ("DXUTERR_MEDIANOTFOUND", 0x0903),
    ("DXUTERR_NONZEROREFCOUNT", 0x0904),
    ("DXUTERR_CREATINGDEVICE", 0x0905),
    ("DXUTERR_RESETTINGDEVICE", 0x0906),
    ("DXUTERR_CREATINGDEVICEOBJECTS", 0x0907),
    ("DXUTERR_RESETTINGDEVICEOBJECTS", 0x0908),
    ("DXUTERR_INCORRECTVERSION", 0x0909),
    ("DXUTERR_DEVICEREMOVED", 0x090A),
]


def facility(value):
    return (value >> 16) & 0x1FFF


def in_facilities(*facilities):
    return lambda v: facility(v) in facilities and v >= 0x10000


def in_ranges(*ranges):
    return lambda v: any(low <= v <= high for low, high in ranges)


class Family:
    def __init__(self, label, part_keys, headers, pattern, accepts):
        self.label = label
        self.part_keys = part_keys
        self.headers = headers
        self.pattern = re.compile(pattern)
        self.accepts = accepts


WIN32_LAST = 14080
WIN32_HRESULT_BASE = 0x80070000

# In order of precedence where two families name one value.
FAMILIES = [
    Family("Windows system error codes", 1778, {"winerror.h"},
           r"^(ERROR_|RPC_S_|RPC_X_|EPT_S_|OR_|DNS_|WSA|FRS_)"
           r"|^(WAIT_TIMEOUT|SCHED_E_SERVICE_NOT_LOCALSYSTEM|S_OK|S_FALSE)$",
           in_ranges((0, WIN32_LAST))),
    Family("the same in HRESULT form (facility 7)", 1775, set(), r"^$",
           lambda v: False),
    Family("COM, OLE, RPC, storage, automation", 518, {"winerror.h"},
           r"^(E_|CO_|RPC_E_|OLE_|STG_|DISP_E_|TYPE_E_|MK_|XACT_|CONTEXT_|"
           r"SCHED_|DV_E_|REGDB_|CLASS_E_|MEM_E_|EVENT_S_|OLEOBJ_|CACHE_|"
           r"CLIENTSITE_|INPLACE_|ENUM_|CONVERT10_|CLIPBRD_|DATA_|VIEW_|"
           r"DRAGDROP_|CLASSFACTORY_|MARSHAL_|CS_E_|CAT_E_|OLEOBJ_)",
           lambda v: (facility(v) in (0, 1, 2, 3, 4, 8)
                      and (v >= 0x80000000 or facility(v) != 0))),
    Family("security and cryptography", 327, {"winerror.h"},
           r"^(NTE_|CRYPT_|SEC_|OSS_|CERT_|CERTSRV_E_|TRUST_E_|DIGSIG_E_|"
           r"MSSIPOTF_E_|XENROLL_E_|PERSIST_E_)"
           r"|^(ERROR_AUDITING_DISABLED|ERROR_ALL_SIDS_FILTERED)$",
           in_facilities(9, 11)),
    Family("Direct3D 9, DirectDraw, D3DX", 225,
           {"d3d9.h", "d3d9types.h", "ddraw.h", "d3dx9.h", "d3dx9core.h",
            "d3dx9mesh.h", "d3dx9tex.h", "d3dx9anim.h", "d3dx9effect.h",
            "d3dx9shader.h", "d3dx9xof.h", "dxfile.h"},
           r"^(D3DERR_|DDERR_|D3DXERR_|DXFILEERR_|D3DXFERR_)|^D3DOK_NOAUTOGEN$",
           in_ranges((0x0876086F, 0x0876086F), (0x88760005, 0x88760B5C),
                     (0xC8770BB8, 0xC8770BDB))),
    Family("WMI", 185, {"wbemcli.h"},
           r"^(WBEM_E_|WBEM_S_|WBEMMOF_E_|WBEMESS_E_)", in_facilities(4)),
    Family("DirectSound, DirectMusic", 136, {"dsound.h", "dmerror.h"},
           r"^(DSERR_|DMUS_E_|DMUS_S_)|^DS_NO_VIRTUALIZATION$",
           in_facilities(0x878)),
    Family("DirectShow, media streaming", 134, {"vfwmsgs.h", "mmstream.h"},
           r"^(VFW_E_|VFW_S_|MS_E_|MS_S_)", in_facilities(4)),
    Family("COM+ administration", 112, {"winerror.h", "comadmin.h"},
           r"^(COMADMIN_E_|COMQC_E_|MSDTC_E_)", in_facilities(0x11)),
    Family("DirectPlay 8, DirectPlay Voice", 112, {"dplay8.h", "dvoice.h"},
           r"^(DPNERR_|DVERR_|DV_)", in_facilities(0x15)),
    Family("setup", 66, {"winerror.h"}, r"^SPAPI_E_", in_facilities(0xF)),
    Family("smart cards", 59, {"winerror.h", "scarderr.h"}, r"^SCARD_",
           in_facilities(0x10)),
    Family("XACT audio engine", 28, {"xact3.h"}, r"^XACTENGINE_E_",
           in_facilities(0xAC7)),
    Family("DirectInput", 22, {"dinput.h", "dinputd.h"}, r"^DIERR_",
           in_ranges((0x80040200, 0x80040402))),
    Family("DXGI, Direct3D 10", 14, {"winerror.h", "dxgi.h", "d3d10.h"},
           r"^(DXGI_ERROR_|DXGI_STATUS_)"
           r"|^D3D10_ERROR_TOO_MANY_UNIQUE_STATE_OBJECTS$",
           in_facilities(0x87A, 0x879)),
    Family("DirectX sample framework", 10, {"<stdin>"}, r"^DXUTERR_",
           in_ranges((0x80040901, 0x8004090A))),
]
WIN32, WIN32_HRESULT = FAMILIES[0], FAMILIES[1]

# Values that several families name, shown under all their names in this order.
JOINED = [
    (0x00040001, ["OLE_S_STATIC", "MS_S_PENDING"]),
    (0x00040002, ["OLE_S_MAC_CLIPFORMAT", "MS_S_NOUPDATE"]),
    (0x00040003, ["MS_S_ENDOFSTREAM", "WBEM_S_DIFFERENT"]),
    (0x80040200, ["DIERR_INSUFFICIENTPRIVS", "VFW_E_INVALIDMEDIATYPE"]),
    (0x80040201, ["DIERR_DEVICEFULL", "VFW_E_INVALIDSUBTYPE",
                  "DMO_E_INVALIDSTREAMINDEX"]),
    (0x80040202, ["DIERR_MOREDATA", "VFW_E_NEED_OWNER", "DMO_E_INVALIDTYPE"]),
    (0x80040203, ["DIERR_NOTDOWNLOADED", "VFW_E_ENUM_OUT_OF_SYNC",
                  "DMO_E_TYPE_NOT_SET"]),
    (0x80040204, ["DIERR_HASEFFECTS", "VFW_E_ALREADY_CONNECTED",
                  "DMO_E_NOTACCEPTING"]),
    (0x80040205, ["DIERR_NOTEXCLUSIVEACQUIRED", "VFW_E_FILTER_ACTIVE",
                  "DMO_E_TYPE_NOT_ACCEPTED"]),
    (0x80040206, ["DIERR_INCOMPLETEEFFECT", "VFW_E_NO_TYPES",
                  "DMO_E_NO_MORE_ITEMS"]),
    (0x80040207, ["DIERR_NOTBUFFERED", "VFW_E_NO_ACCEPTABLE_TYPES"]),
    (0x80040208, ["DIERR_EFFECTPLAYING", "VFW_E_INVALID_DIRECTION"]),
    (0x80040209, ["DIERR_UNPLUGGED", "VFW_E_NOT_CONNECTED"]),
    (0x8004020A, ["DIERR_REPORTFULL", "VFW_E_NO_ALLOCATOR"]),
    (0x8004020B, ["DIERR_MAPFILEFAIL", "VFW_E_RUNTIME_ERROR"]),
    (0x80040401, ["DIERR_CANCELLED", "MS_E_SAMPLEALLOC"]),
    (0x80040402, ["DIERR_BADINF", "MS_E_PURPOSEID"]),
    (12, ["ERROR_INVALID_ACCESS", "DIERR_NOTACQUIRED"]),
    (21, ["ERROR_NOT_READY", "DIERR_NOTINITIALIZED"]),
    (30, ["ERROR_READ_FAULT", "DIERR_INPUTLOST"]),
    (119, ["ERROR_BAD_DRIVER_LEVEL", "DIERR_BADDRIVERVER"]),
    (170, ["ERROR_BUSY", "DIERR_ACQUIRED"]),
    (259, ["ERROR_NO_MORE_ITEMS", "DIERR_NOMOREITEMS"]),
    (1150, ["ERROR_OLD_WIN_VERSION", "DIERR_OLDDIRECTINPUTVERSION"]),
    (1153, ["ERROR_RMODE_APP", "DIERR_BETADIRECTINPUTVERSION"]),
    (1168, ["ERROR_NOT_FOUND", "E_PROP_ID_UNSUPPORTED"]),
    (1170, ["ERROR_SET_NOT_FOUND", "E_PROP_SET_UNSUPPORTED"]),
    (1247, ["ERROR_ALREADY_INITIALIZED", "DIERR_ALREADYINITIALIZED"]),
]
JOINED_COUNT = 28

# Where a family names one value several times, the name to keep. Each must be
# one of the value's published names; the first-defined name wins elsewhere.
CHOSEN = {
    0x00000000: "S_OK",
    0x00000001: "S_FALSE",
    0x80040000: "OLE_E_FIRST",
    0x800400FF: "OLE_E_LAST",
    0x8876017C: "D3DERR_OUTOFVIDEOMEMORY",
    0x8876021C: "DDERR_WASSTILLDRAWING",
    0x800403F2: "VFW_E_BAD_KEY",
    11024: "WSA_QOS_EUNKOWNPSOBJ",
}

# HRESULT forms of Windows codes that keep a name other than the plain code's.
# Each is published either as the HRESULT or as the plain code.
TWIN_CHOSEN = {
    0x80070001: "ERROR_INVALID_FUNCTION",
    0x80070005: "E_ACCESSDENIED",
    0x80070006: "E_HANDLE",
    0x8007000E: "E_OUTOFMEMORY",
    0x80070057: "E_INVALIDARG",
}

# Range markers between DIERR_DRIVERFIRST and DIERR_DRIVERLAST: the first few
# driver-specific codes are named by their offset from the first.
DRIVER_OFFSETS = range(1, 6)

# The driver-specific DirectInput range stays unnamed past its markers, even
# where newer DirectShow codes have moved in; only the names chosen above stay.
UNNAMED = [(0x80040306, 0x800403FE)]

# Plain Windows codes whose HRESULT form is left unnamed.
NO_TWIN = {0, 200, 201}


def run_compiler(mode, include_flags, source, check=True):
    return subprocess.run([COMPILER, mode, "-w", "-x", "c"] + include_flags +
                          ["-o", "-", "-"], input=source, capture_output=True,
                          text=True, check=check)


def preprocess(include_flags, headers, defines):
    source = "".join("#include <%s>\n" % h for h in headers) + defines
    return source, run_compiler("-E", include_flags + ["-dD"], source).stdout


LINE_MARKER = re.compile(r'^# \d+ "([^"]*)"')
DEFINE = re.compile(r"^#define ([A-Za-z_]\w*)(?:\s|$)")
ENUMERATOR = re.compile(r"\b([A-Z][A-Z0-9_]*)\s*=[^=]")


def declarations(preprocessed):
    """Object-like macros and enumerators, each with its header and its
    position, in the order the headers define them."""
    found = {}
    header = ""
    for line in preprocessed.splitlines():
        marker = LINE_MARKER.match(line)
        if marker:
            header = os.path.basename(marker.group(1))
            continue
        define = DEFINE.match(line)
        names = [define.group(1)] if define else (
            [] if line.startswith("#") else ENUMERATOR.findall(line))
        for name in names:
            found.setdefault(name, (header, len(found)))
    return found


def evaluate(include_flags, source, names):
    """Values of names as the compiler computes them; names that are not
    integer constants are left out."""
    names = list(names)
    while True:
        program = source + "const unsigned int kelo_values[] = {\n" + "".join(
            "(unsigned int)(%s),\n" % n for n in names) + "};\n"
        first_value = source.count("\n") + 2
        run = run_compiler("-S", include_flags + ["-O0"], program, check=False)
        if run.returncode == 0:
            break
        bad = {int(line) - first_value for line in
               re.findall(r"^<stdin>:(\d+):\d+: error", run.stderr, re.M)}
        bad = {i for i in bad if 0 <= i < len(names)}
        if not bad:
            sys.exit("cannot evaluate the constants:\n" + run.stderr)
        names = [n for i, n in enumerate(names) if i not in bad]
    longs = run.stdout.split("_kelo_values:", 1)[1]
    values = re.findall(r"^\s*\.long\s+(\S+)", longs, re.M)[:len(names)]
    # Addresses (a macro that names a string, say) are not result codes.
    return {n: int(v) & 0xFFFFFFFF for n, v in zip(names, values)
            if re.fullmatch(r"-?\d+", v)}


def harvest():
    """Every declaration of interest: name -> (value, header, position)."""
    dxut = "".join(
        "#define %s MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x%04X)\n"
        % (name, code) for name, code in DXUT_CODES)
    wanted = ({n for _, names in JOINED for n in names} |
              set(CHOSEN.values()) | set(TWIN_CHOSEN.values()))
    # Wine's tree comes after mingw-w64's, so it only adds what mingw-w64 lacks.
    trees = [
        (["-isystem", MINGW_INCLUDE], MINGW_HEADERS, dxut),
        (["-isystem", MINGW_INCLUDE, "-idirafter", WINE_INCLUDE],
         WINE_HEADERS, ""),
    ]
    found = {}
    for tree, (include_flags, headers, defines) in enumerate(trees):
        source, text = preprocess(include_flags, headers, defines)
        decls = declarations(text)
        names = [n for n in decls
                 if n in wanted or any(f.pattern.search(n) for f in FAMILIES)]
        for name, value in evaluate(include_flags, source, names).items():
            header, position = decls[name]
            found.setdefault(name, (value, header, (tree, position)))
    return found


def family_of(name, value, header):
    for family in FAMILIES:
        if (header in family.headers and family.pattern.search(name)
                and family.accepts(value)):
            return family
    return None


def build_table(found):
    """value -> (name, family of its first name)."""
    named = {}  # value -> [(precedence, position, name, family)]
    for name, (value, header, position) in found.items():
        family = family_of(name, value, header)
        if family is not None:
            named.setdefault(value, []).append(
                (FAMILIES.index(family), position, name, family))

    def require(value, name):
        if name not in found or found[name][0] != value:
            sys.exit("%s is not published as 0x%08X" % (name, value))

    table = {}
    for value, choices in named.items():
        choices.sort()
        name, family = choices[0][2], choices[0][3]
        if value in CHOSEN:
            name = CHOSEN[value]
            require(value, name)
            family = family_of(name, *found[name][:2]) or family
        table[value] = (name, family)

    for low, high in UNNAMED:
        for value in [v for v in table if low <= v <= high and v not in CHOSEN]:
            del table[value]

    first = found["DIERR_DRIVERFIRST"][0]
    for offset in DRIVER_OFFSETS:
        table[first + offset] = ("DIERR_DRIVERFIRST+%d" % offset,
                                 table[first][1])

    for value, names in JOINED:
        if value > WIN32_LAST:
            for name in names:
                require(value, name)
        table[value] = (" & ".join(names),
                        family_of(names[0], *found[names[0]][:2]))
    if len(JOINED) != JOINED_COUNT:
        sys.exit("expected %d joined entries" % JOINED_COUNT)

    for value in [v for v, (_, f) in table.items() if f is WIN32]:
        if value in NO_TWIN:
            continue
        twin = WIN32_HRESULT_BASE + value
        name = table[value][0]
        if twin in TWIN_CHOSEN:
            name = TWIN_CHOSEN[twin]
            if found.get(name, (None,))[0] not in (value, twin):
                sys.exit("%s is not published as %d or 0x%08X"
                         % (name, value, twin))
        table[twin] = (name, WIN32_HRESULT)

    for value, name in list(CHOSEN.items()) + list(TWIN_CHOSEN.items()):
        if table.get(value, ("",))[0] != name:
            sys.exit("0x%08X should be %s" % (value, name))
    return table


def joined_windows_names(found):
    """The DirectInput and property-set names that join a Windows code are
    published as HRESULTs; check they are the HRESULT form of that code."""
    for value, names in JOINED:
        if value <= WIN32_LAST:
            if found[names[0]][0] != value:
                sys.exit("%s is not %d" % (names[0], value))
            if found[names[1]][0] != WIN32_HRESULT_BASE + value:
                sys.exit("%s is not the HRESULT form of %d" % (names[1], value))


def render(table):
    lines = [
        "// Generated by tools/gen_hresult_names.py from the published API headers;",
        "// do not edit. Sorted by key as an unsigned 32-bit value.",
        '#include "diag/hresult_table.h"',
        "",
        "const HresultNameEntry kHresultNames[] = {",
    ]
    for value in sorted(table):
        lines.append('    {0x%08Xu, WIDE("%s")},' % (value, table[value][0]))
    lines += [
        "};",
        "",
        "const size_t kHresultNameCount = sizeof kHresultNames / sizeof kHresultNames[0];",
        "",
    ]
    return "\n".join(lines)


def report(table):
    rows = []
    for family in FAMILIES:
        entries = [n for n, f in table.values() if f is family]
        rows.append((family.label, len(entries), family.part_keys,
                     len(set(entries))))
    print("%-40s %6s %6s %6s" % ("family", "keys", "part", "names"),
          file=sys.stderr)
    for label, keys, part, names in rows:
        print("%-40s %6d %6d %6d" % (label, keys, part, names), file=sys.stderr)
    print("%-40s %6d %6d %6d" % ("all", len(table), 5501,
                                 len({n for n, _ in table.values()})),
          file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output")
    parser.add_argument("--compare")
    parser.add_argument("--report", action="store_true")
    args = parser.parse_args()

    missing = [p for p in (os.path.join(MINGW_INCLUDE, "winerror.h"),
                           os.path.join(WINE_INCLUDE, "dvoice.h"))
               if not os.path.exists(p)]
    if not any(os.access(os.path.join(d, COMPILER), os.X_OK)
               for d in os.environ.get("PATH", "").split(os.pathsep)):
        missing.append(COMPILER)
    if missing:
        print("skipped: %s missing (Debian packages g++-mingw-w64-i686, "
              "mingw-w64-common, libwine-dev)" % ", ".join(missing))
        return SKIP

    found = harvest()
    joined_windows_names(found)
    table = build_table(found)
    text = render(table)
    if args.report:
        report(table)
    if args.output:
        with open(args.output, "w", newline="\n") as out:
            out.write(text)
    if args.compare:
        with open(args.compare, newline="") as committed:
            old = committed.read()
        if old != text:
            for number, (a, b) in enumerate(zip(old.splitlines(),
                                                text.splitlines()), 1):
                if a != b:
                    print("line %d differs:\n  committed: %s\n  generated: %s"
                          % (number, a, b))
                    break
            else:
                print("committed %d lines, generated %d" % (
                    len(old.splitlines()), len(text.splitlines())))
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
