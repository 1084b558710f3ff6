#!/usr/bin/env python3
"""Mutation testing of our own: puts one small fault at a time into a private copy of the tree,
rebuilds it incrementally, runs the tests, and reports which test caught each fault.

  scripts/mutate.py [--check] [--jobs N] [--only TEXT] [--table FILE] [--work DIR]

The mutants are listed in tests/mutation/mutants.txt (see there for the format). Each one's
text must occur exactly once in its file; a stale mutant fails the whole run before anything
is built (`--check` does only that). The copy lives in build-mutate/src with its own build
directory build-mutate/build, both kept between runs: only what changed is copied and rebuilt.

Per mutant: the unit tests (stopping at the first failure), then, if none failed, the fast
reliability scripts, then for a mutant in a program or host that only a real server shows (the
settings window, the X11 windows) the CTest tests that look at it, with the servers their
fixtures start. Every program is built, and each has mutants. One line per mutant, `caught by <test>` or `SURVIVED`, then
`mutation: killed K of N`. Exit status 0 when every mutant was applied and built (whatever
survived), 1 for a stale table, 2 for a mutant that does not build.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# The reliability scripts a mutant faces when the unit tests let it through; the slow ones
# (render_extremes, soak) and those needing an installation are left to `make test`.
RELIABILITY = ["test_store_attacks.sh", "test_render_outputs.sh", "test_saver_no_display.sh",
               "test_translations.sh"]
UNIT_TARGETS = ["unit_tests"]
RELIABILITY_TARGETS = ["all"]
TEST_TIMEOUT = 600  # seconds; a mutant that makes a test hang counts as caught
# The unit tests that most likely catch a fault in each part run first, the rest only if those
# pass: a caught mutant then costs seconds rather than the whole suite.
FIRST_TESTS = {
    "sources/": "*Oscillator*:Random*:Frame*:Title*:ViewSetup*:OrganismSetup*:ColorThemes*:"
                "ExtremeValues*:Sheet*",
    "platform/services/": "Store*:ExtremeValues*:Sheet*:ViewDriver*",
    "platform/sheet/": "Sheet*:CheckSheet*:WholeNumber*",
    "platform/raster/": "CircleBlend*:FastGraphics*:ViewFrames*",
    "platform/graphics/": "DamageRegion*:ViewDamage*:Canvas*:HugePages*:Color*:ViewFrames*:"
                          "FastGraphics*:*CairoTitle*",
    "hosts/core/": "SizeArgument*:FrameScheduler*:ResourceLookup*:DisplayLayout*:ViewDriver*:"
                   "SimulatedClock*:FpsOverlay*:StopSignals*:SettingsOptions*:DrawingBackend*:Render*",
    "hosts/render/": "Render*:OutputFiles*:Y4m*",
    "hosts/wayland/": "BufferPair*:SurfaceScale*:KeyWatch*",
    "programs/nimbrel/": "SaverOptions*:RenderOptions*:SettingsOptions*:SizeArgument*:Render.*",
}
# What only a real server shows: the CTest tests (by regular expression) that a mutant under
# each path faces last. The unmutated tree runs all of them first.
SERVER_TESTS = {
    "programs/nimbrel-settings/": r"^integration\.test_settings$",
    "hosts/preview/": r"^integration\.test_settings$",
    "hosts/x11/": r"^integration\.(test_saver_window|test_x11_monitors)$",
    "programs/nimbrel/main.cpp": r"^integration\.test_saver_window$",
    "programs/describe-settings/": r"^reliability\.test_xscreensaver_controls$",
}


class Mutant:
    def __init__(self, line, path, before, after, note):
        self.line, self.path, self.note = line, path, note
        self.before, self.after = before.replace("\\n", "\n"), after.replace("\\n", "\n")

    def name(self):
        return f"{self.path}: {self.note}"


def parse_table(table):
    """One mutant a line, `FILE | TEXT | REPLACEMENT | note`; `#` lines are comments."""
    mutants = []
    for number, raw in enumerate(table.read_text().splitlines(), 1):
        if raw.startswith("#") or not raw.strip():
            continue
        fields = [f.strip() for f in raw.split(" | ")]
        if len(fields) != 4 or not fields[0] or not fields[1] or not fields[3]:
            sys.exit(f"{table}:{number}: not `FILE | TEXT | REPLACEMENT | note`: {raw!r}")
        mutants.append(Mutant(number, *fields))
    return mutants


def check(mutants, root):
    """Every mutant's text occurs exactly once, and the replacement differs. Problems, listed."""
    problems = []
    for m in mutants:
        source = root / m.path
        if m.before == m.after:
            problems.append(f"line {m.line} ({m.name()}): no change")
        elif not source.is_file():
            problems.append(f"line {m.line} ({m.name()}): no such file")
        else:
            found = source.read_text().count(m.before)
            if found != 1:
                problems.append(f"line {m.line} ({m.name()}): text found {found} times, not once")
    return problems


def tracked_files():
    out = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True)
    return [f for f in out.stdout.decode().split("\0") if f]


def sync_copy(src):
    """Copies the tracked files of the working tree into src, touching only those that differ,
    so the build there redoes only what changed since the last run."""
    wanted = set(tracked_files())
    for name in wanted:
        origin, copy = ROOT / name, src / name
        if not origin.is_file():
            continue
        data = origin.read_bytes()
        if copy.is_file() and copy.read_bytes() == data:
            continue
        copy.parent.mkdir(parents=True, exist_ok=True)
        copy.write_bytes(data)
        shutil.copymode(origin, copy)
    for copy in src.rglob("*"):
        if copy.is_file() and str(copy.relative_to(src)) not in wanted:
            copy.unlink()


def write_newer(path, text):
    """Writes the file with a modification time later than any object built from it."""
    path.write_text(text)
    now = time.time_ns()
    os.utime(path, ns=(now, now))


def run(cmd, cwd, timeout=None, env=None):
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout, env=env)
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired as e:
        out = (e.stdout or b"") + (e.stderr or b"")
        return "timeout", out.decode(errors="replace") if isinstance(out, bytes) else out


def build(build_dir, targets, jobs):
    return run(["cmake", "--build", str(build_dir), "-j", str(jobs), "--target", *targets], ROOT)


def failed_gtests(output):
    names = []
    for line in output.splitlines():
        if line.startswith("[  FAILED  ] ") and "." in line:
            name = line[len("[  FAILED  ] "):].split()[0].rstrip(",")
            if name not in names:
                names.append(name)
    return names


def run_tests(src, build_dir, jobs, path=None, every=False):
    """The names of the tests that fail: the first one, or with `every` all of them. Without a
    path (the unmutated tree) every test runs."""
    code, out = build(build_dir, UNIT_TARGETS, jobs)
    if code != 0:
        return ["build"], out
    first = next((f for prefix, f in FIRST_TESTS.items() if path and path.startswith(prefix)),
                 None)
    failed = []
    for tests in ([first, "-" + first] if first and not every else ["*"]):
        code, out = run([str(build_dir / "tests/unit/unit_tests"), "--gtest_brief=1",
                         "--gtest_filter=" + tests] + ([] if every else ["--gtest_fail_fast"]),
                        build_dir / "tests/unit", TEST_TIMEOUT)
        if code != 0:
            status = "timeout" if code == "timeout" else f"status {code}"
            failed += failed_gtests(out) or [f"unit_tests ({status})"]
            if not every:
                return failed, None
    code, out = build(build_dir, RELIABILITY_TARGETS, jobs)
    if code != 0:
        return ["build"], out
    env = dict(os.environ, NIMBREL_BUILD=str(build_dir), NIMBREL_SOURCE=str(src))
    for script in RELIABILITY:
        code, _ = run(["bash", str(src / "tests/reliability" / script)], src, TEST_TIMEOUT, env)
        if code not in (0, 77):
            failed.append(script.removesuffix(".sh"))
            if not every:
                return failed, None
    servers = sorted({r for prefix, r in SERVER_TESTS.items() if path is None or
                      path.startswith(prefix)})
    for regex in servers:
        code, out = run(["ctest", "--test-dir", str(build_dir), "-R", regex, "--output-on-failure"],
                        src, 2 * TEST_TIMEOUT, env)
        if code != 0:
            failed.append(regex.strip("^$").replace("\\", ""))
            if not every:
                return failed, out if path is None else None
    return failed, None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true", help="only check that no mutant is stale")
    parser.add_argument("--jobs", type=int, default=int(os.environ.get("JOBS", "1")))
    parser.add_argument("--only", action="append",
                        help="only the mutants whose file or note contains this text (repeatable)")
    parser.add_argument("--every", action="store_true",
                        help="run every test on every mutant and list all that catch it")
    parser.add_argument("--table", type=Path, default=ROOT / "tests/mutation/mutants.txt")
    parser.add_argument("--work", type=Path, default=ROOT / "build-mutate")
    args = parser.parse_args()

    mutants = parse_table(args.table)
    problems = check(mutants, ROOT)
    for p in problems:
        print(f"stale mutant {p}", file=sys.stderr)
    if problems:
        return 1
    if args.check:
        print(f"{len(mutants)} mutants, every one found exactly once")
        return 0
    if args.only:
        mutants = [m for m in mutants if any(t in m.path or t in m.note for t in args.only)]

    src, build_dir = args.work / "src", args.work / "build"
    src.mkdir(parents=True, exist_ok=True)
    sync_copy(src)
    if not (build_dir / "CMakeCache.txt").exists():
        code, out = run(["cmake", "-S", str(src), "-B", str(build_dir), "-G", "Ninja",
                         "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], ROOT)
        if code != 0:
            print(out, file=sys.stderr)
            return 2
    started = time.monotonic()
    failed, out = run_tests(src, build_dir, args.jobs)
    if failed:
        print(f"the unmutated tree fails: {', '.join(failed)}\n{out or ''}", file=sys.stderr)
        return 2

    killed, broken = 0, []
    for m in mutants:
        source = src / m.path
        original = source.read_text()
        write_newer(source, original.replace(m.before, m.after, 1))
        t0 = time.monotonic()
        try:
            caught, out = run_tests(src, build_dir, args.jobs, m.path, args.every)
        finally:
            write_newer(source, original)
        seconds = time.monotonic() - t0
        if caught == ["build"]:
            broken.append(m)
            print(f"{m.name()}: DOES NOT BUILD\n{out[-2000:]}", flush=True)
        elif caught:
            killed += 1
            print(f"{m.name()}: caught by {', '.join(caught)} ({seconds:.0f} s)", flush=True)
        else:
            print(f"{m.name()}: SURVIVED ({seconds:.0f} s)", flush=True)
    # Puts the copy back as the tree has it, so the next run starts from a built state.
    build(build_dir, UNIT_TARGETS + RELIABILITY_TARGETS, args.jobs)
    print(f"time: {(time.monotonic() - started) / 60:.0f} min")
    print(f"mutation: killed {killed} of {len(mutants) - len(broken)}")
    return 2 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
