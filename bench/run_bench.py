#!/usr/bin/python3
"""End-to-end benchmark of the built tool, piped, against the least-work reference program.

Usage: run_bench.py TOOL LEAST_WORK TRANSLATE_BENCH
Prints the per-line cost as a ratio to the reference (median of alternating pairs), peak
resident memory for short and long inputs and for one 64 MiB line, and the round trip from a
good line to the next prompt beside a failing line's.
"""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MARKER = b"apps.microsoft.com/detail/"
PAIRS = 9


def failing_lines(count):
    return b"".join(b"https://apps.microsoft.com/search?query=app%d&hl=en-us\n" % n
                    for n in range(count))


def run(command, input_path, env=None):
    """Wall time in seconds of one piped run."""
    with open(input_path, "rb") as source:
        begun = time.perf_counter()
        subprocess.run(command, stdin=source, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=env, check=True)
        return time.perf_counter() - begun


def peak_memory(program, input_path, env):
    """Peak resident memory in KiB of one piped run. GNU time measures it from a small
    process of its own: a child of this one would count this interpreter's memory too."""
    with tempfile.NamedTemporaryFile() as report:
        run(["/usr/bin/time", "-f", "%M", "-o", report.name, program], input_path, env)
        return int(report.read().split()[-1])


def stand_in_opener(folder):
    """An opener that does nothing, first on PATH, so that good lines open nothing real."""
    shutil.copy("/bin/true", os.path.join(folder, "xdg-open"))
    return dict(os.environ, PATH=folder + ":" + os.environ["PATH"])


def round_trips(tool, env, count=200):
    """Median seconds from sending a line to seeing the next prompt, good and failing lines."""
    child = subprocess.Popen([tool], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
    output = child.stdout.fileno()

    def trip(line):
        begun = time.perf_counter()
        os.write(child.stdin.fileno(), line)
        while not os.read(output, 4096).endswith(b"Url: "):
            pass
        return time.perf_counter() - begun

    while not os.read(output, 4096).endswith(b"Url: "):
        pass
    good, failing = [], []
    for n in range(count):
        good.append(trip(MARKER + b"9WZDNCRFJ3P%d\n" % n))
        failing.append(trip(b"https://apps.microsoft.com/search?query=%d\n" % n))
    child.stdin.close()
    child.wait()
    return statistics.median(good), statistics.median(failing)


def translation_ratios(translate_bench):
    """Runs the translation benchmarks and sets each against its baseline."""
    report = subprocess.run([translate_bench, "--benchmark_format=json",
                             "--benchmark_min_time=0.2"], capture_output=True, check=True)
    times = {entry["name"]: entry["real_time"] for entry in json.loads(report.stdout)["benchmarks"]}
    print("TranslateStoreAddress against memmem for the marker and one copy, same run:")
    for name, value in times.items():
        if name.startswith("Translate/"):
            data = name.split("/", 1)[1]
            baseline = times["SearchAndCopy/" + data]
            print(f"  {data:22} {value:12.0f} ns, baseline {baseline:10.0f} ns, "
                  f"ratio {value / baseline:.2f}")


def main():
    tool, reference, translate_bench = sys.argv[1:4]
    translation_ratios(translate_bench)
    with tempfile.TemporaryDirectory() as folder:
        env = stand_in_opener(folder)
        inputs = {name: os.path.join(folder, name) for name in ("short", "long", "huge")}
        for name, count in (("short", 10_000), ("long", 300_000)):
            with open(inputs[name], "wb") as out:
                out.write(failing_lines(count))
        with open(inputs["huge"], "wb") as out:
            out.write(MARKER)
            for _ in range(64):
                out.write(b"x" * (1 << 20))
            out.write(b"\n")

        ratios, tool_times, reference_times = [], [], []
        for _ in range(PAIRS):
            tool_time = run([tool], inputs["long"], env)
            reference_time = run([reference], inputs["long"])
            tool_times.append(tool_time)
            reference_times.append(reference_time)
            ratios.append(tool_time / reference_time)
        print(f"300,000 failing lines, piped, median of {PAIRS} alternating pairs:")
        print(f"  tool {statistics.median(tool_times) * 1000:.0f} ms, least-work reference "
              f"{statistics.median(reference_times) * 1000:.0f} ms, "
              f"ratio {statistics.median(ratios):.2f} (pairs {min(ratios):.2f} to "
              f"{max(ratios):.2f})")

        short_peak, long_peak, huge_peak = (peak_memory(tool, inputs[name], env)
                                            for name in ("short", "long", "huge"))
        print(f"peak resident memory: {short_peak} KiB after 10,000 lines, {long_peak} KiB "
              f"after 300,000 ({(long_peak / short_peak - 1) * 100:+.1f}%)")
        print(f"  one 64 MiB line: {huge_peak / 1024:.0f} MiB ({huge_peak / (64 << 10):.2f} "
              f"times the line)")

        good, failing = round_trips(tool, env)
        print(f"line to next prompt, median of 200: good line (opener started) "
              f"{good * 1e6:.0f} us, failing line {failing * 1e6:.0f} us "
              f"(ratio {good / failing:.1f})")


if __name__ == "__main__":
    main()
