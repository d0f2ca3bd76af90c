#!/usr/bin/env python3
"""Runs kelo-host under Wine and compares what it prints with what it must.

    check_probe.py --sources DIR --version X.Y.Z --expect WHAT -- COMMAND...

WHAT is one of
  describe          the settings window of kelo.auf (--describe)
  compile-failure   the probe where the effect compiler fails with error text:
                    the compiler's report, then the failed load, same code
  missing-effect    the probe without kelo.fx: only the failed load, with
                    D3DXERR_INVALIDDATA
  missing-effect:yes  the same with the box answered Yes (KELO_MESSAGEBOX=yes):
                    with no debugger attached the plug-in goes on as after No
  unchanged         the probe with an effect that changes nothing
  add-ycoffs:TRACK  the probe with the effect whose two passes each add
                    ycOffs, the track "Y(offs)" set to TRACK
  load-failure:DLL  kelo-host refuses the plug-in, naming DLL

The reports are rebuilt here from the report format, with the lines of their
call sites read from the sources, and compared item by item. Exit status 77
(Wine missing) passes through as a skip.
"""
import argparse
import re
import subprocess
import sys

REPORT_FILE = "./renderer/support.cpp"
BOX_CAPTION = "Unexpected error encountered"
BOX_FLAGS = "0x00000014"  # MB_ICONERROR | MB_YESNO
IDYES = 6
IDNO = 7
LOAD_FAILED = "エフェクトのロードに失敗しました"
# The published names of the codes these runs can meet.
HRESULT_NAMES = {
    0x80004001: "E_NOTIMPL",
    0x80004005: "E_FAIL",
    0x88760B59: "D3DXERR_INVALIDDATA",
}
D3DXERR_INVALIDDATA = 0x88760B59
# The probe's frame.
PROBE_PIXELS = 37 * 19
TRACK_NAMES = ["Y(offs)", "Y(gain)", "Cb(offs)", "Cb(gain)", "Cr(offs)", "Cr(gain)",
               "R(offs)", "R(gain)", "R(gamm)", "G(offs)", "G(gain)", "G(gamm)",
               "B(offs)", "B(gain)", "B(gamm)"]
CHECK_NAMES = ["F16", "pow2"]


def escape(text):
    out = []
    for c in text:
        if c == "\\":
            out.append("\\\\")
        elif c == "\n":
            out.append("\\n")
        elif c == "\t":
            out.append("\\t")
        elif ord(c) < 0x20 or ord(c) == 0x7F:
            out.append("\\x%02X" % ord(c))
        else:
            out.append(c)
    return "".join(out)


def unescape(text):
    return re.sub(r"\\(\\|n|t|x[0-9A-F]{2})",
                  lambda m: {"\\": "\\", "n": "\n", "t": "\t"}.get(m.group(1))
                  or chr(int(m.group(1)[1:], 16)), text)


def site_line(sources, marker):
    """The line of the report site whose source line holds marker."""
    path = f"{sources}/renderer/support.cpp"
    with open(path, encoding="utf-8") as source:
        lines = [n for n, text in enumerate(source, 1)
                 if "REPORT_FAILURE(" in text and marker in text]
    if len(lines) != 1:
        sys.exit(f"FAIL: {path}: expected one report site with {marker!r}, found lines {lines}")
    return lines[0]


def report(line, hr, message, answer=IDNO):
    """The debug item and the box item of one report with a message."""
    code = f"{HRESULT_NAMES[hr]} (0x{hr:08x})"
    debug = f"{REPORT_FILE}({line}): {message} hr={code}\n"
    box = (f"File: {REPORT_FILE}\nLine: {line}\nError Code: {code}\n"
           f"Calling: {message}\nDo you want to debug the application?")
    return (f"debug\t{escape(debug)}",
            f"box\t{BOX_CAPTION}\t{BOX_FLAGS}\tshown\t{answer}\t{escape(box)}")


def frame(result, changes=()):
    pixels = sum(count for _, count in changes)
    items = [f"proc\t{result}\tpixels-changed {pixels}\tpadding-changed 0"]
    items += [f"change\t{delta}\tpixels {count}" for delta, count in changes]
    return items


SHUT_DOWN = ["exit\t1", "exit\t1"]


def compiler_report(actual):
    """The compiler's text and code, as the first debug item gives them."""
    pattern = (r"debug\t" + re.escape(REPORT_FILE) +
               r"\(\d+\): (.+) hr=\S+ \(0x([0-9a-f]{8})\)\\n")
    match = re.fullmatch(pattern, actual[1]) if len(actual) > 1 else None
    if not match:
        sys.exit("FAIL: item 2 is not a report with the compiler's text:\n  " +
                 (actual[1] if len(actual) > 1 else "(missing)"))
    hr = int(match.group(2), 16)
    if hr not in HRESULT_NAMES or hr < 0x80000000:
        sys.exit(f"FAIL: the compiler's code 0x{hr:08x} is not a failure this check knows")
    return unescape(match.group(1)), hr


def describe(version):
    width = max(len(name) for name in TRACK_NAMES + CHECK_NAMES)
    lines = ["RAVuvuv(test)",
             f"  RAVuvuv(test) version {version} - GPU colour correction (Direct3D 9)",
             "track bars (15):"]
    lines += [f"  {name:<{width}}  {-256:6d} .. {256:<6d}  default 0" for name in TRACK_NAMES]
    lines += ["check boxes (2):"]
    lines += [f"  {name:<{width}}  off by default" for name in CHECK_NAMES]
    return lines


def expected_items(what, args, actual):
    kind, _, value = what.partition(":")
    if kind == "describe":
        return describe(args.version)
    if kind == "compile-failure":
        text, hr = compiler_report(actual)
        compiler_debug, compiler_box = report(site_line(args.sources, "(hr, wide)"), hr, text)
        load_debug, load_box = report(site_line(args.sources, LOAD_FAILED), hr, LOAD_FAILED)
        return (["init\t0", compiler_debug, load_debug, compiler_box, load_box] +
                frame(0) + SHUT_DOWN)
    if kind == "missing-effect":
        answer = IDYES if value == "yes" else IDNO
        return (["init\t0", *report(site_line(args.sources, LOAD_FAILED), D3DXERR_INVALIDDATA,
                                    LOAD_FAILED, answer)] + frame(0) + SHUT_DOWN)
    if kind == "unchanged":
        return ["init\t1"] + frame(1) + SHUT_DOWN
    if kind == "add-ycoffs":
        # ycOffs.y is track / 256 on the texel scale, track * 16 in the
        # host's units; each of the two passes adds it once.
        move = 2 * int(value) * 16
        return ["init\t1"] + frame(1, [(f"{move:+d} +0 +0", PROBE_PIXELS)]) + SHUT_DOWN
    sys.exit(f"unknown expectation {what}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sources", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--expect", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    output = run.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
    errors = run.stderr.decode("utf-8", errors="replace").replace("\r\n", "\n")
    if run.returncode == 77:
        print(output, end="")
        return 77
    print(output, end="")
    print(errors, end="", file=sys.stderr)

    if args.expect.startswith("load-failure:"):
        library = args.expect.partition(":")[2]
        needs = f"it needs {library} (error 126), which cannot be loaded"
        if run.returncode == 0 or "cannot load (error 126" not in errors or needs not in errors:
            print(f"FAIL: expected a failed load naming {library}: exit status {run.returncode}, "
                  f"standard error:\n{errors}")
            return 1
        return 0
    if run.returncode != 0:
        print(f"FAIL: exit status {run.returncode}")
        return 1

    actual = output.splitlines()
    expected = expected_items(args.expect, args, actual)
    failed = False
    for index in range(max(len(expected), len(actual))):
        want = expected[index] if index < len(expected) else "(nothing)"
        got = actual[index] if index < len(actual) else "(nothing)"
        if want != got:
            print(f"FAIL: item {index + 1}:\n  expected: {want}\n  actual:   {got}")
            failed = True
    if not failed:
        print(f"OK: {len(expected)} items as expected")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
