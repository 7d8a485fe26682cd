#!/usr/bin/env python3
"""Mutation testing of the node: each mutant of mutants.py is applied to a private copy of the
tree, the copy is rebuilt, and the node's tests run until the first one fails (the mutant is
killed) or all pass (it survived). The worktree's own files are never written."""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from concurrent.futures import FIRST_COMPLETED, ThreadPoolExecutor, wait
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from mutants import MUTANTS  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
# Tests that do not run the node's code, or whose minutes would be spent mostly on other things
# (the demo session, the hundred replugs, DDS Security); `make test` runs them all the same.
DEFAULT_EXCLUDE = r"^(ros2_layer_|packaging_files$|demo_|keyboard_|joy_mapping|faults_|security_)"


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--work", default=str(ROOT / "build" / "mutate"),
                        help="where the copy of the tree, its build and the results go")
    parser.add_argument("--prefix", default=str(ROOT / "build" / "ros_prefix"),
                        help="the installed interfaces (make interfaces)")
    parser.add_argument("--mutants", default="", help="numbers to run, such as 3,7 (default: all)")
    parser.add_argument("--exclude", default=DEFAULT_EXCLUDE, help="regex of test names left out")
    parser.add_argument("--jobs", type=int, default=2, help="tests run at once, and build jobs")
    return parser.parse_args()


def tree_files():
    listed = subprocess.run(
        ["git", "-C", str(ROOT), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        check=True, capture_output=True).stdout.decode().split("\0")
    return [name for name in listed if name and (ROOT / name).is_file()]


def sync_tree(source):
    """Copies the worktree into `source`, leaving unchanged files alone so the build stays
    incremental; files the worktree no longer has go (the test folders are globbed)."""
    names = tree_files()
    kept = set(names)
    for path in sorted(source.rglob("*"), reverse=True):
        if path.is_file() or path.is_symlink():
            if str(path.relative_to(source)) not in kept:
                path.unlink()
        elif path.is_dir() and not any(path.iterdir()):
            path.rmdir()
    for name in names:
        target = source / name
        data = (ROOT / name).read_bytes()
        if not target.exists() or target.read_bytes() != data:
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, target)


def write_if_changed(path, text):
    if path.read_text() != text:
        path.write_text(text)


def build_env():
    env = dict(os.environ)
    # ccache's base_dir makes __FILE__ relative, and the journal test checks the call site's path.
    env.pop("CCACHE_BASEDIR", None)
    return env


def configure(source, build, prefix, log):
    # Run again on a kept build as well: the test folders are globbed, and the list of tests
    # must be the tree's, not the one of the last run.
    command = ["cmake", "-S", str(source), "-B", str(build)]
    if not (build / "CMakeCache.txt").exists():
        command += ["-G", "Ninja", f"-DCMAKE_PREFIX_PATH={prefix}",
                    "-DPython3_EXECUTABLE=/usr/bin/python3", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        if shutil.which("ccache") and "CMAKE_CXX_COMPILER_LAUNCHER" not in os.environ:
            command += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
    if subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, env=build_env()).returncode:
        return False
    return True


def build_tests(build, tests, jobs, log):
    """Builds the tests' programs alone (with what they depend on, the node among it): a test
    program's target has the test's name."""
    listed = subprocess.run(["ninja", "-C", str(build), "-t", "targets", "all"], check=True,
                            capture_output=True, text=True).stdout
    known = {line.split(":")[0] for line in listed.splitlines()}
    targets = [test["name"] for test in tests if test["name"] in known]
    return subprocess.run(["cmake", "--build", str(build), f"-j{jobs}", "--target", *targets],
                          stdout=log, stderr=subprocess.STDOUT, env=build_env()).returncode == 0


def list_tests(build, exclude):
    shown = json.loads(subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                                      capture_output=True).stdout)
    tests = []
    for test in shown["tests"]:
        if re.search(exclude, test["name"]):
            continue
        properties = {entry["name"]: entry["value"] for entry in test.get("properties", [])}
        environment = dict(os.environ)
        environment.update(item.split("=", 1) for item in properties.get("ENVIRONMENT", []))
        tests.append({"name": test["name"], "command": test.get("command"), "env": environment,
                      "cwd": properties.get("WORKING_DIRECTORY", str(build)),
                      "timeout": float(properties.get("TIMEOUT", 300))})
    return tests


def run_test(test, timeout, log_dir, started_processes):
    """True when the test passed within `timeout`; its output goes to log_dir."""
    started = time.monotonic()
    with open(log_dir / f"{test['name']}.log", "w") as log:
        process = subprocess.Popen(test["command"], cwd=test["cwd"], env=test["env"], stdout=log,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        started_processes.append(process)
        try:
            passed = process.wait(timeout=timeout) == 0
        except subprocess.TimeoutExpired:
            passed = False
            log.write(f"\n*** mutate: timed out after {timeout:.0f} s\n")
        finally:
            kill_session(process)
            process.wait()
    return passed, time.monotonic() - started


def kill_session(process):
    # The whole session: the test's helpers die with it (and their children by PDEATHSIG).
    if process.returncode is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def run_suite(tests, jobs, log_dir, timeouts):
    """Runs the tests in order, `jobs` at a time, until one fails; returns its name, or None."""
    log_dir.mkdir(parents=True, exist_ok=True)
    durations = {}
    pending = list(tests)
    failed = None
    processes = []
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        running = {}
        while running or (pending and failed is None):
            while pending and len(running) < jobs and failed is None:
                test = pending.pop(0)
                running[pool.submit(run_test, test, timeouts[test["name"]], log_dir,
                                    processes)] = test
            done, _ = wait(running, return_when=FIRST_COMPLETED)
            for future in done:
                test = running.pop(future)
                passed, durations[test["name"]] = future.result()
                if not passed and failed is None:
                    failed = test["name"]
                    # Only processes not yet waited for: a reaped one's number may be reused.
                    for process in processes:
                        kill_session(process)
    return failed, durations


def main():
    args = parse_args()
    work = Path(args.work).resolve()
    source, build = work / "src", work / "build"
    chosen = range(1, len(MUTANTS) + 1)
    if args.mutants:
        chosen = [int(number) for number in args.mutants.split(",")]
        for number in chosen:
            if not 1 <= number <= len(MUTANTS):
                sys.exit(f"mutate: no mutant {number}; there are {len(MUTANTS)}")
    work.mkdir(parents=True, exist_ok=True)
    build_log = open(work / "build.log", "w")
    started = time.monotonic()

    sync_tree(source)
    originals = {path: (source / path).read_text() for path in {m.path for m in MUTANTS}}
    for path, text in originals.items():
        write_if_changed(source / path, text)
    if not configure(source, build, args.prefix, build_log):
        sys.exit(f"mutate: the unmutated tree does not configure; see {work / 'build.log'}")
    tests = list_tests(build, args.exclude)
    if not build_tests(build, tests, args.jobs, build_log):
        sys.exit(f"mutate: the unmutated tree does not build; see {work / 'build.log'}")
    tests = list_tests(build, args.exclude)  # now with their programs' paths
    print(f"mutate: {len(tests)} tests: {' '.join(t['name'] for t in tests)}", flush=True)
    failed, durations = run_suite(tests, args.jobs, work / "logs" / "unmutated",
                                  {t["name"]: t["timeout"] for t in tests})
    if failed:
        sys.exit(f"mutate: {failed} fails without any mutant; see {work / 'logs' / 'unmutated'}")
    # The quick ones first, so that most mutants are killed within seconds; a mutant that makes a
    # test hang is killed by a timeout well above the test's own time.
    tests.sort(key=lambda test: durations[test["name"]])
    timeouts = {t["name"]: min(t["timeout"], max(60.0, 4 * durations[t["name"]])) for t in tests}
    print(f"mutate: unmutated suite passed in {sum(durations.values()):.0f} s of test time",
          flush=True)

    results = []
    for number in chosen:
        mutant = MUTANTS[number - 1]
        for path, text in originals.items():
            write_if_changed(source / path, text)
        original = originals[mutant.path]
        if original.count(mutant.original) != 1:
            outcome, detail = "stale", f"original text found {original.count(mutant.original)} times"
        else:
            write_if_changed(source / mutant.path, original.replace(mutant.original,
                                                                    mutant.replacement))
            mutant_started = time.monotonic()
            if not build_tests(build, tests, args.jobs, build_log):
                outcome, detail = "did-not-compile", ""
            else:
                failed, _ = run_suite(tests, args.jobs, work / "logs" / f"mutant{number}", timeouts)
                outcome, detail = ("killed", f"by {failed}") if failed else ("survived", "")
            detail = f"{detail} ({time.monotonic() - mutant_started:.0f} s)".strip()
        results.append((number, outcome, mutant, detail))
        print(f"{number:3d} {outcome:15s} {mutant.path.split('/')[-1]:22s} {mutant.what} {detail}",
              flush=True)

    for path, text in originals.items():
        write_if_changed(source / path, text)
    totals = {kind: sum(1 for r in results if r[1] == kind)
              for kind in ("killed", "survived", "stale", "did-not-compile")}
    summary = ", ".join(f"{count} {kind}" for kind, count in totals.items())
    minutes = (time.monotonic() - started) / 60
    print(f"mutate: {len(results)} mutants: {summary}; {minutes:.1f} min", flush=True)
    with open(work / "results.txt", "w") as out:
        for number, outcome, mutant, detail in results:
            out.write(f"{number}\t{outcome}\t{mutant.path}\t{mutant.what}\t{detail}\n")
        out.write(f"# {len(results)} mutants: {summary}; {minutes:.1f} min\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
