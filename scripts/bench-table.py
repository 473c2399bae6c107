#!/usr/bin/env python3
"""Builds the benchmark table from Google Benchmark's JSON files and measures
the started service itself: idle CPU and wake-ups, and CPU per MB pulled.

    bench-table.py --json DIR --tools DIR [--smoke] [--wine FILE]
    bench-table.py --wine FILE --wine-only

--json holds <Benchmark>.json for every benchmark executable; --tools is the
host build's tools folder (pagewick, sc/pagewick-sc, scanner-sim/pagewick-scanner-sim).
--wine is the output of scripts/wine-bench.sh (its "result" lines): its rows
join the table; --wine-only prints those rows alone.
Prints one table: figure, goal, measured, baseline, ratio, met. --smoke
measures the started service briefly: the table shows that every figure comes
out, not what it is. Exits with 1 when a row has no figure (a figure that
misses its goal is shown, not failed: the machine may be busy).
"""
import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


class BenchResults:
    def __init__(self, folder):
        self.runs = {}
        for path in sorted(pathlib.Path(folder).glob("*.json")):
            data = json.loads(path.read_text())
            for run in data.get("benchmarks", []):
                if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
                    continue
                self.runs[run["name"]] = run

    def seconds(self, prefix, kind="real_time"):
        """Time per iteration in seconds of the run whose name starts with prefix."""
        for name, run in self.runs.items():
            if name == prefix or name.startswith(prefix + "/"):
                return run[kind] * UNIT_SECONDS[run.get("time_unit", "ns")]
        return None


def milliseconds(value):
    return None if value is None else f"{value * 1e3:.3f} ms"


def microseconds(value):
    return None if value is None else f"{value * 1e6:.2f} us"


def wine_results(path):
    """The "result" lines of scripts/wine-bench.sh by chunk size: bare_ms, program_ms, cpu_ms_per_mb."""
    results = {}
    for line in pathlib.Path(path).read_text().splitlines():
        parts = line.split()
        if not parts or parts[0] != "result":
            continue
        fields = dict(part.split("=", 1) for part in parts[1:] if "=" in part)
        try:
            results[fields["chunk"]] = {key: float(value) for key, value in fields.items() if key != "chunk"}
        except (KeyError, ValueError):
            pass
    return results


def add_wine_rows(table, path):
    results = wine_results(path)
    for chunk in ("65536", "524288"):
        result = results.get(chunk, {})
        bare, program = result.get("bare_ms"), result.get("program_ms")
        table.compare(f"pagewick.exe under Wine vs the bare driver loop, 20 MB image, {chunk} B chunks", "<= 1.20x",
                      None if program is None else program / 1e3, None if bare is None else bare / 1e3, limit=1.20)
    for chunk in ("65536", "524288"):
        per_mb = results.get(chunk, {}).get("cpu_ms_per_mb")
        table.add(f"pagewick.exe under Wine, service CPU per MB pulled, {chunk} B chunks", "—",
                  None if per_mb is None or per_mb < 0 else f"{per_mb:.2f} ms/MB")


class Table:
    def __init__(self):
        self.rows = []

    def add(self, figure, goal, measured, baseline="—", ratio=None, met=None):
        ratio_text = "—" if ratio is None else f"{ratio:.2f}x"
        met_text = "—" if met is None else ("met" if met else "NOT MET")
        self.rows.append((figure, goal, measured or "missing", baseline, ratio_text, met_text))

    def compare(self, figure, goal, measured, baseline, limit=None, at_least=None):
        """A time against its baseline's time: ratio = measured / baseline."""
        if measured is None or baseline is None:
            self.add(figure, goal, milliseconds(measured), milliseconds(baseline) or "missing")
            return
        ratio = measured / baseline
        met = None
        if limit is not None:
            met = ratio <= limit
        if at_least is not None:
            met = baseline / measured >= at_least
        self.add(figure, goal, milliseconds(measured), milliseconds(baseline), ratio, met)

    def print(self):
        header = ("figure", "goal", "measured", "baseline", "ratio", "met")
        widths = [max(len(str(row[i])) for row in self.rows + [header]) for i in range(len(header))]
        line = lambda row: "| " + " | ".join(str(cell).ljust(widths[i]) for i, cell in enumerate(row)) + " |"
        print(line(header))
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        for row in self.rows:
            print(line(row))
        print("ratio: measured time / baseline time (below 1 is faster than the baseline)")


# --- The started service, measured from /proc --------------------------------

def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of the line; the split starts at field 3.
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def voluntary_switches(pid):
    """Voluntary context switches (wake-ups) of each thread of the process, by thread id."""
    counts = {}
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            for line in (task / "status").read_text().splitlines():
                if line.startswith("voluntary_ctxt_switches:"):
                    counts[int(task.name)] = int(line.split()[1])
        except FileNotFoundError:
            pass
    return counts


SERVICE_THREAD_NAME = "pw-service"


def service_thread(pid):
    """The id of the service thread (it names itself), or None."""
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            if (task / "comm").read_text().strip() == SERVICE_THREAD_NAME:
                return int(task.name)
        except FileNotFoundError:
            pass
    return None


class ServiceWorld:
    """A fresh host world with pagewick installed as the service Service1."""

    def __init__(self, tools):
        self.tools = pathlib.Path(tools)
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="pagewick-bench-"))
        self.env = dict(os.environ, PAGEWICK_WORLD=str(self.root))
        self.simulator = None
        self.pid = None
        self.run([self.tools / "pagewick", "/install", "/silent"])
        # Someone at the console: with nobody there the service pulls nothing
        # and the pictures wait on the scanner.
        self.sc("console", "user")

    def run(self, command):
        result = subprocess.run([str(part) for part in command], env=self.env, capture_output=True, text=True,
                                timeout=60)
        if result.returncode != 0:
            raise RuntimeError(f"{' '.join(map(str, command))} failed: {result.stdout}{result.stderr}")
        return result.stdout

    def sc(self, *arguments):
        return self.run([self.tools / "sc" / "pagewick-sc", *arguments])

    def plug(self, *arguments, wire_log=None):
        """Serves the simulator; with wire_log, it writes one line per request there."""
        log = open(wire_log, "w") if wire_log else None
        extra = ["--verbose"] if wire_log else []
        self.simulator = subprocess.Popen(
            [str(self.tools / "scanner-sim" / "pagewick-scanner-sim"), "--root", str(self.root), *extra, *arguments],
            env=self.env, stdout=subprocess.DEVNULL, stderr=log or subprocess.DEVNULL)
        if log:
            log.close()
        socket = self.root / "devices" / "E.sock"
        deadline = time.monotonic() + 10
        while not socket.exists():
            if time.monotonic() > deadline or self.simulator.poll() is not None:
                raise RuntimeError("the scanner simulator did not plug in")
            time.sleep(0.01)

    def start(self):
        self.sc("start", "Service1")
        self.sc("wait", "Service1", "RUNNING", "10000")
        for line in self.sc("query", "Service1").splitlines():
            if line.strip().startswith("PID"):
                self.pid = int(line.split(":")[1])
        if not self.pid:
            raise RuntimeError("the started service names no process")

    def close(self):
        try:
            if self.pid:
                self.sc("stop", "Service1")
                self.sc("wait", "Service1", "STOPPED", "10000")
                deadline = time.monotonic() + 10
                while os.path.exists(f"/proc/{self.pid}") and time.monotonic() < deadline:
                    with open(f"/proc/{self.pid}/stat") as stat:
                        if stat.read().rsplit(")", 1)[1].split()[0] == "Z":
                            break
                    time.sleep(0.02)
            self.run([self.tools / "pagewick", "/uninstall", "/silent"])
        finally:
            if self.simulator and self.simulator.poll() is None:
                self.simulator.terminate()
                self.simulator.wait(timeout=10)
            shutil.rmtree(self.root, ignore_errors=True)


def wire_counts(path):
    """Requests of each kind in the simulator's wire log so far."""
    counts = {}
    try:
        with open(path) as log:
            for line in log:
                parts = line.split()
                if len(parts) > 1 and parts[0].startswith("#"):
                    counts[parts[1]] = counts.get(parts[1], 0) + 1
    except OSError:
        pass
    return counts


def measure_idle(tools, seconds=10.0, scanner=False):
    """CPU percent and wake-ups per second of the started service while nothing
    arrives; with the scanner plugged in (nothing waiting), it is polled every 2 s,
    and the requests per poll tick are counted from the simulator's wire log."""
    world = ServiceWorld(tools)
    wire_log = world.root.parent / (world.root.name + "-wire.log") if scanner else None
    try:
        if scanner:
            world.plug("--drive", "E", wire_log=wire_log)
        world.start()
        time.sleep(1.0)  # past the start-up
        wire0 = wire_counts(wire_log) if wire_log else {}
        cpu0, wake0, t0 = cpu_seconds(world.pid), voluntary_switches(world.pid), time.monotonic()
        time.sleep(seconds)
        cpu1, wake1, t1 = cpu_seconds(world.pid), voluntary_switches(world.pid), time.monotonic()
        wire1 = wire_counts(wire_log) if wire_log else {}
        per_thread = sorted(((wake1[tid] - wake0.get(tid, 0)) / (t1 - t0) for tid in wake1), reverse=True)
        service = service_thread(world.pid)
        service_rate = None
        if service is not None and service in wake1:
            service_rate = (wake1[service] - wake0.get(service, 0)) / (t1 - t0)
        ticks = (t1 - t0) / 2.0
        per_tick = {kind: (wire1.get(kind, 0) - wire0.get(kind, 0)) / ticks for kind in wire1}
        return 100.0 * (cpu1 - cpu0) / (t1 - t0), sum(per_thread), per_thread, per_tick, service_rate
    finally:
        world.close()
        if wire_log and wire_log.exists():
            wire_log.unlink()


def measure_pull(tools, images=2, image_bytes=25_000_000, chunk=65536):
    """CPU seconds of the service process per MB pulled from the served simulator. Few
    large images, since the poll takes one image per 2 s tick and idle CPU counts too."""
    world = ServiceWorld(tools)
    try:
        arguments = ["--drive", "E", "--chunk", f"fixed:{chunk}"]
        for _ in range(images):
            arguments += ["--image-size", str(image_bytes)]
        world.plug(*arguments)
        world.start()
        cpu0 = cpu_seconds(world.pid)
        folder = world.root / "drive_c" / "Users" / "Public" / "Pictures" / "Photo1"
        last = folder / f"img{images:04d}.jpg"
        deadline = time.monotonic() + 30 + 4 * images
        while not (last.exists() and last.stat().st_size == image_bytes):
            if time.monotonic() > deadline:
                raise RuntimeError(f"the service did not pull {images} images of {image_bytes} bytes")
            time.sleep(0.05)
        time.sleep(0.2)  # the last file is closed and the folder opened
        cpu1 = cpu_seconds(world.pid)
        pulled = sum(path.stat().st_size for path in folder.glob("img*.jpg"))
        return (cpu1 - cpu0) / (pulled / 1e6), pulled
    finally:
        world.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json")
    parser.add_argument("--tools")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--wine")
    parser.add_argument("--wine-only", action="store_true")
    options = parser.parse_args()
    if options.wine_only:
        if not options.wine:
            parser.error("--wine-only needs --wine")
        table = Table()
        add_wine_rows(table, options.wine)
        table.print()
        return
    if not options.json or not options.tools:
        parser.error("--json and --tools are needed")
    idle_seconds = 4.0 if options.smoke else 10.0
    pull_bytes = 2_000_000 if options.smoke else 25_000_000
    results = BenchResults(options.json)
    table = Table()
    notes = []

    table.compare("channel in-process, 512 KiB chunk vs memcpy", "<= 1.10x",
                  results.seconds("Chunk/ChannelInProcess/524288"), results.seconds("Chunk/PlainMemcpy/524288"),
                  limit=1.10)
    table.compare("channel served, 512 KiB chunk vs bare socket (CPU)", "<= 1.25x",
                  results.seconds("Chunk/ChannelServed/524288", "cpu_time"),
                  results.seconds("Chunk/PlainSocket/524288", "cpu_time"), limit=1.25)
    table.compare("channel served, exchange vs bare socket round trips (CPU)", "<= 1.25x",
                  results.seconds("Exchange/ChannelServed", "cpu_time"),
                  results.seconds("Exchange/PlainSocket", "cpu_time"), limit=1.25)
    for chunk in ("65536", "524288"):
        table.compare(f"pull of a 5 MB image without flushes, {chunk} B chunks vs direct write", "<= 1.30x",
                      results.seconds(f"PullWithoutFlushes/{chunk}"), results.seconds(f"DirectWrite/{chunk}"),
                      limit=1.30)
        table.compare(f"pull of a 5 MB image, {chunk} B chunks vs direct write", "—",
                      results.seconds(f"Pull/{chunk}"), results.seconds(f"DirectWrite/{chunk}"))
        table.compare(f"service's pull as the console user, links refused, {chunk} B chunks vs the same pull without",
                      "<= 1.10x", results.seconds(f"PullAsConsoleUser/{chunk}"), results.seconds(f"Pull/{chunk}"),
                      limit=1.10)
    table.compare("service's pull with its flushes, 65536 B chunks, scanner at USB 2.0 speed vs the same pull without",
                  "<= 1.15x", results.seconds("PullAtUsbSpeed/65536"),
                  results.seconds("PullAtUsbSpeedWithoutFlushes/65536"), limit=1.15)
    table.compare("service's pull with its flushes, 65536 B chunks, scanner at memory speed vs the same pull without",
                  "<= 1.50x", results.seconds("Pull/65536"), results.seconds("PullWithoutFlushes/65536"), limit=1.50)
    table.add("one 64 KiB write and its flush (FlushFileBuffers) on this disk", "—",
              milliseconds(results.seconds("FlushedWrite/65536")))
    # What a pull pays beside its bytes, each alone (CPU): a 5 MB pull at 64 KiB
    # chunks makes 77 free-space queries and digests 77 chunks, acts as the
    # console user twice and opens one new file of the location.
    table.add("free-space query before each chunk (CPU)", "—",
              microseconds(results.seconds("RoomForChunk", "cpu_time")))
    table.add("digest of a 64 KiB chunk as it passes (CPU)", "—",
              microseconds(results.seconds("DigestChunk/65536", "cpu_time")))
    table.add("acting as the console user and back (CPU)", "—",
              microseconds(results.seconds("Impersonation", "cpu_time")))
    open_console = results.seconds("OpenAsConsoleUser", "cpu_time")
    open_process = results.seconds("OpenAsProcess", "cpu_time")
    table.add("a new file of the location as the console user (checked folder, final path) vs CreateFile, "
              "created and deleted (CPU)", "—", microseconds(open_console), microseconds(open_process) or "missing",
              None if open_console is None or open_process is None else open_console / open_process)
    typical = results.seconds("BM_NextImagePathTypical")
    table.add("naming, typical (1 folder, 100 images)", "< 1 ms", milliseconds(typical),
              met=None if typical is None else typical < 1e-3)
    for name, text in (("BM_NextImagePathWorstCase", "naming, worst (9,998 folders, 9,999 in the last)"),
                       ("BM_NextImagePathWorstCaseAsConsoleUser",
                        "naming, worst, as the console user with the link checks"),
                       ("BM_NextImagePathAllFolders", "naming, worst (9,999 folders, 9,998 in the last)")):
        worst = results.seconds(name)
        table.add(text, "< 20 ms", milliseconds(worst), met=None if worst is None else worst < 0.02)
    for smooth, text in (("0", "noisy photo"), ("1", "smooth scan")):
        table.compare(f"lossless turn vs decode-turn-encode q50, {text}", ">= 2x faster",
                      results.seconds(f"BM_AutoRotateLossless/smooth:{smooth}/quality:50"),
                      results.seconds(f"BM_AutoRotateDecodeTurnEncode/smooth:{smooth}/quality:50"), at_least=2.0)
    table.compare("lossless turn vs jpegtran -rotate 270, noisy photo", "—",
                  results.seconds("LosslessTurn"), results.seconds("Jpegtran270"))

    for scanner, text in ((False, "no scanner"), (True, "scanner plugged in, nothing waiting")):
        try:
            cpu_percent, wakeups, per_thread, per_tick, service_rate = measure_idle(
                options.tools, seconds=idle_seconds, scanner=scanner)
        except (RuntimeError, OSError, subprocess.SubprocessError) as failure:
            # The rows stay without figures; the table still prints.
            notes.append(f"the started service idle ({text}) was not measured: {failure}")
            table.add(f"started service idle ({text}), CPU", "< 1%", None)
            continue
        notes.append(f"wake-ups by thread ({text}; 10/s is the host world's device watcher): " +
                     ", ".join(f"{rate:.1f}/s" for rate in per_thread))
        table.add(f"started service idle ({text}), CPU over {idle_seconds:.0f} s", "< 1%", f"{cpu_percent:.2f}%",
                  met=cpu_percent < 1.0)
        table.add(f"started service idle ({text}), wake-ups", "< 20/s", f"{wakeups:.1f}/s", met=wakeups < 20)
        # The host world runs the Windows 8 path (session agents): the service
        # thread waits for its queue, so only the 2 s poll timer wakes it. With
        # the scanner plugged in, each tick also waits on the scanner's answers.
        measured = None if service_rate is None else f"{service_rate:.2f}/s"
        if scanner:
            table.add("started service idle (scanner plugged in), service thread's wake-ups per 2 s tick "
                      "(the tick and its exchanges)", "—",
                      None if service_rate is None else f"{service_rate * 2:.1f}")
        else:
            table.add(f"started service idle ({text}), service thread's wake-ups", "<= 1/s", measured,
                      met=None if service_rate is None else service_rate <= 1.0)
        if scanner:
            # Each tick reads the drive's descriptor once before the INQUIRY and the length query.
            queries = per_tick.get("descriptor", 0.0)
            table.add("started service idle (scanner plugged in), descriptor queries per 2 s tick", "1",
                      f"{queries:.2f}", met=0.7 <= queries <= 1.3)
            notes.append("requests per tick (scanner plugged in): " +
                         ", ".join(f"{kind} {rate:.2f}" for kind, rate in sorted(per_tick.items())))
    try:
        per_mb, pulled = measure_pull(options.tools, image_bytes=pull_bytes)
        table.add(f"service CPU per MB pulled ({pulled / 1e6:.0f} MB, 64 KiB chunks, served)", "<= 1.0 ms/MB",
                  f"{per_mb * 1e3:.2f} ms/MB", met=per_mb * 1e3 <= 1.0)
    except (RuntimeError, OSError, subprocess.SubprocessError) as failure:
        notes.append(f"the service's pull was not measured: {failure}")
        table.add("service CPU per MB pulled (64 KiB chunks, served)", "<= 1.0 ms/MB", None)
    if options.wine and pathlib.Path(options.wine).exists():
        add_wine_rows(table, options.wine)
    else:
        notes.append("the rows of pagewick.exe under Wine come from scripts/wine-bench.sh (not run)")

    table.print()
    for note in notes:
        print(note)
    missing = [row[0] for row in table.rows if "missing" in (row[2], row[3])]
    not_met = [row for row in table.rows if row[5] == "NOT MET"]
    if not_met:
        print(f"{len(not_met)} figure(s) not met", file=sys.stderr)
    if missing:
        print(f"{len(missing)} figure(s) missing: " + "; ".join(missing), file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
