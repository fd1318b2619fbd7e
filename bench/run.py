#!/usr/bin/env python3
"""Measures reelfix on generated MJPEG AVI sources and prints the figures.

Makes the sources (with FFmpeg when present, otherwise with bench/make_source), builds reelfix
in Release in its own build directory, then times, alternately and after one warm-up round:

  * a 200-second source: reelfix, `cat src > dst`, `dd` (a copy through the program's own
    memory, for comparison: GNU cat 9 copies inside the kernel) and, with FFmpeg, a stream copy
    that also inserts Huffman tables (`ffmpeg -c copy -bsf:v mjpeg2jpeg`);
  * a 3-minute and a 60-minute source made with the same settings: reelfix on each.

It prints the median wall and CPU times, the ratios reelfix / cat and 60 min / 3 min, the peak
resident memory of every reelfix run, and the throughput of the Google Benchmark of
fix_jpeg_frame.

With FFmpeg and reelprep (built when FFmpeg's libraries are found), it then times reelprep on a
180-second 1280x720 H.264/AAC movie at 30 frames a second against the two-step route of the
README (its FFmpeg command, then reelfix), alternately, and prints the peak memory of reelprep
on a 3-minute and a 20-minute movie of the same kind (--skip-prep leaves all this out). Each destination is removed before each run (outside the timed span) unless
--replace is given.
The page cache is warm: every source is read once before the first round, and written data
is synced before every timed run so that earlier writes do not spill into it.

With --baseline OLD_BINARY an older reelfix is timed in the same rounds as well, and the
outputs and console texts of both are compared (the date text at offsets 320..343 masked).

It is a measuring tool, not a test: it exits 0 once the figures are printed, whatever they are.
"""

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Sources: (seconds, purpose). The 3- and 60-minute ones share their settings.
SHORT_SECONDS = 200
PAIR_SECONDS = (180, 3600)

# FFmpeg settings: 320x240 at quality 5 gives about 33 MB for 200 seconds.
FFMPEG_SIZE = "320x240"
FFMPEG_QUALITY = 5
# Fallback frame sizes for bench/make_source: about 33 MB for 200 seconds, and smaller frames
# for the 3/60-minute pair, since the generator holds the whole file in memory twice.
FALLBACK_FRAME_SIZE = 10300
FALLBACK_PAIR_FRAME_SIZE = 4000

DATE_TEXT = (320, 344)  # bytes of the destination that hold the conversion's date


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7, help="timed rounds (default 7)")
    parser.add_argument("--cache", help="where sources and outputs go (default: "
                        "$REELFIX_BENCH_CACHE, $XDG_CACHE_HOME/reelfix-bench or /tmp/reelfix-bench)")
    parser.add_argument("--build", default=os.path.join(REPO, "build-bench"),
                        help="Release build directory (default: build-bench in the repository)")
    parser.add_argument("--reelfix", help="time this binary instead of building one")
    parser.add_argument("--baseline", help="also time this older reelfix binary and compare outputs")
    parser.add_argument("--no-ffmpeg", action="store_true",
                        help="make sources with bench/make_source and skip the FFmpeg timing")
    parser.add_argument("--replace", action="store_true",
                        help="let every run replace the previous run's destination instead of "
                        "removing it first (adds the file system's cost of freeing it)")
    parser.add_argument("--skip-jpeg-bench", action="store_true",
                        help="do not run the fix_jpeg_frame Google Benchmark")
    parser.add_argument("--skip-prep", action="store_true",
                        help="do not measure reelprep")
    parser.add_argument("--prep-rounds", type=int, default=3,
                        help="timed rounds of reelprep and the two-step route (default 3)")
    parser.add_argument("--skip-strace", action="store_true",
                        help="do not count reelfix's read and write calls with strace -c")
    return parser.parse_args()


def cache_directory(args):
    if args.cache:
        return os.path.abspath(args.cache)
    if os.environ.get("REELFIX_BENCH_CACHE"):
        return os.path.abspath(os.environ["REELFIX_BENCH_CACHE"])
    if os.environ.get("XDG_CACHE_HOME"):
        return os.path.join(os.environ["XDG_CACHE_HOME"], "reelfix-bench")
    return "/tmp/reelfix-bench"


def run_checked(argv, what):
    result = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stdout)
        sys.exit(f"{what} failed (exit status {result.returncode})")
    return result.stdout


def build(args, need_generator, need_prep):
    """Configures and builds in Release; returns the build directory."""
    configure = ["cmake", "-S", REPO, "-B", args.build, "-DCMAKE_BUILD_TYPE=Release",
                 "-DREELFIX_BUILD_TESTS=OFF", "-DREELFIX_BUILD_BENCHMARKS=ON"]
    if shutil.which("ninja") and not os.path.exists(os.path.join(args.build, "CMakeCache.txt")):
        configure += ["-G", "Ninja"]
    run_checked(configure, "configuring the Release build")
    targets = ["reelfix", "time_command"]
    if need_generator:
        targets.append("make_source")
    if not args.skip_jpeg_bench:
        targets.append("jpeg_fixup_bench")
    if need_prep:
        targets.append("reelprep")
    run_checked(["cmake", "--build", args.build, "-j2", "--target"] + targets, "building")


def make_sources(cache, build_dir, use_ffmpeg):
    """Returns {seconds: path}, generating what the cache lacks."""
    sources = {}
    for seconds in (SHORT_SECONDS,) + PAIR_SECONDS:
        if use_ffmpeg:
            name = f"ffmpeg-{FFMPEG_SIZE}-q{FFMPEG_QUALITY}-{seconds}s.avi"
        else:
            frame = FALLBACK_FRAME_SIZE if seconds == SHORT_SECONDS else FALLBACK_PAIR_FRAME_SIZE
            name = f"builder-{frame}B-{seconds}s.avi"
        path = os.path.join(cache, name)
        sources[seconds] = path
        if os.path.exists(path):
            continue
        print(f"making {name} ...", flush=True)
        part = path + ".part"
        if use_ffmpeg:
            run_checked(["ffmpeg", "-v", "error", "-y",
                         "-f", "lavfi", "-i", f"testsrc2=size={FFMPEG_SIZE}:rate=15",
                         "-f", "lavfi", "-i", "sine=sample_rate=11024", "-t", str(seconds),
                         "-c:v", "mjpeg", "-q:v", str(FFMPEG_QUALITY),
                         "-c:a", "pcm_u8", "-ac", "1", "-ar", "11024", "-f", "avi", part],
                        f"FFmpeg making {name}")
        else:
            run_checked([os.path.join(build_dir, "bench", "make_source"), part, str(seconds),
                         str(frame)], f"make_source making {name}")
        os.replace(part, path)
    return sources


def warm(path):
    with open(path, "rb") as f:
        while f.read(1 << 20):
            pass


def timed_run(timer, command):
    """One run of the command through bench/time_command, the destination removed first
    unless it is to be replaced, and written data synced. Records wall time, CPU time (user
    and system) and peak resident memory."""
    if not command.replace and os.path.exists(command.dest):
        os.remove(command.dest)
    os.sync()
    argv = [timer] + (["-o", command.stdout_path] if command.stdout_path else []) + ["--"]
    result = subprocess.run(argv + command.argv, stdout=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command.argv)} failed (exit status {result.returncode})")
    wall_us, user_us, system_us, peak_kb = (int(v) for v in result.stdout.split())
    command.times.append(wall_us / 1e6)
    command.cpu_times.append((user_us + system_us) / 1e6)
    command.peaks.append(peak_kb)


class Command:
    """A command line, the destination it writes (removed before each run unless `replace`),
    and its figures."""

    def __init__(self, label, argv, dest, stdout_to_dest=False, replace=False):
        self.label = label
        self.argv = argv
        self.dest = dest
        self.stdout_path = dest if stdout_to_dest else None
        self.replace = replace
        self.times = []
        self.cpu_times = []
        self.peaks = []

    def median_ms(self):
        return statistics.median(self.times) * 1000

    def median_cpu_ms(self):
        return statistics.median(self.cpu_times) * 1000


def ratio(a, b):
    """a / b: the median of the ratios of the runs in one round (a slow moment of the machine
    then touches both), then the ratios of the wall and CPU time medians."""
    per_round = statistics.median(x / y for x, y in zip(a.times, b.times))
    return (f"{per_round:.2f} per round (median), {a.median_ms() / b.median_ms():.2f} wall time, "
            f"{a.median_cpu_ms() / b.median_cpu_ms():.2f} CPU time")


def measure(timer, commands, rounds):
    """One warm-up round, then `rounds` rounds; each round runs every command once, the order
    turning by one each round."""
    for command in commands:
        timed_run(timer, command)
        command.times, command.cpu_times, command.peaks = [], [], []
    for r in range(rounds):
        for i in range(len(commands)):
            timed_run(timer, commands[(i + r) % len(commands)])


def print_table(title, commands, unit="ms"):
    """Times in milliseconds, or in seconds with unit="s"."""
    scale = 1000 if unit == "ms" else 1
    width = max([26] + [len(c.label) + 2 for c in commands])
    print(title)
    print(f"  {'':<{width}}{'wall median':>12}{'min':>10}{'max':>10}{'CPU median':>12}"
          f"{'peak RSS':>11}")
    for c in commands:
        print(f"  {c.label:<{width}}{c.median_ms() * scale / 1000:>9.1f} {unit:<2}"
              f"{min(c.times) * scale:>7.1f} {unit:<2}{max(c.times) * scale:>7.1f} {unit:<2}"
              f"{c.median_cpu_ms() * scale / 1000:>9.1f} {unit:<2}{max(c.peaks) / 1024:>8.2f} MB")


def outputs_agree(a, b):
    """Compares two destinations with the date text masked."""
    with open(a, "rb") as f:
        x = bytearray(f.read())
    with open(b, "rb") as f:
        y = bytearray(f.read())
    if len(x) != len(y):
        return False
    for data in (x, y):
        data[DATE_TEXT[0]:DATE_TEXT[1]] = bytes(DATE_TEXT[1] - DATE_TEXT[0])
    return x == y


def compare_with_baseline(new, old, source, cache):
    """Converts once with each binary; returns whether the destinations agree and whether the
    console texts do (with the destination's name, which closing texts may give, made equal)."""
    results = []
    for binary, tag in ((new, "new"), (old, "old")):
        dest = os.path.join(cache, f"check-{tag}.avi")
        text = subprocess.run([binary, source, dest], stdout=subprocess.PIPE).stdout
        results.append((dest, text.replace(dest.encode(), b"DEST")))
    same_file = outputs_agree(results[0][0], results[1][0])
    same_text = results[0][1] == results[1][1]
    for dest, _ in results:
        os.remove(dest)
    return same_file, same_text


READ_CALLS = ("read", "pread64", "readv", "preadv", "preadv2")
WRITE_CALLS = ("write", "pwrite64", "writev", "pwritev", "pwritev2")


def system_calls(binary, source, cache):
    """Runs the binary once under `strace -c` and returns {system call: number of calls}."""
    dest = os.path.join(cache, "out-strace.avi")
    summary = os.path.join(cache, "strace-summary.txt")
    subprocess.run(["strace", "-c", "-o", summary, binary, source, dest],
                   stdout=subprocess.DEVNULL, check=True)
    calls = {}
    with open(summary) as f:
        for line in f:
            fields = line.split()
            # % time, seconds, usecs/call, calls, [errors], syscall
            if len(fields) >= 5 and fields[0][0].isdigit() and fields[3].isdigit():
                calls[fields[-1]] = int(fields[3])
    os.remove(summary)
    os.remove(dest)
    return calls


def describe_calls(calls, names):
    used = [f"{n} {calls[n]}" for n in names if n in calls]
    return f"{sum(calls.get(n, 0) for n in names)} ({', '.join(used) or 'none'})"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def jpeg_bench(build_dir):
    binary = os.path.join(build_dir, "bench", "jpeg_fixup_bench")
    out = run_checked([binary, "--benchmark_repetitions=5", "--benchmark_format=json"],
                      "jpeg_fixup_bench")
    report = json.loads(out)
    rates = [b["bytes_per_second"] for b in report["benchmarks"]
             if b.get("run_type") == "iteration"]
    return statistics.median(rates)


# reelprep's inputs: FFmpeg's testsrc2 at 1280x720 and 30 frames a second with a 48 kHz stereo
# tone, H.264 (x264 "veryfast") and AAC. The 20-minute movie is the 3-minute one looped with
# its streams copied, so that making it costs little.
PREP_SECONDS = 180
PREP_LONG_SECONDS = 1200
PREP_INPUT = f"prep-h264-1280x720-30fps-{PREP_SECONDS}s.mp4"
PREP_PAIR = (f"prep-h264-1280x720-30fps-{PREP_SECONDS}s.mkv",
             f"prep-h264-1280x720-30fps-{PREP_LONG_SECONDS}s.mkv")


def make_prep_inputs(cache):
    """Returns the 180-second MP4 and the 3- and 20-minute MKV files, made when missing."""
    def make(name, argv):
        path = os.path.join(cache, name)
        if not os.path.exists(path):
            print(f"making {name} ...", flush=True)
            part = path + ".part"
            run_checked(["ffmpeg", "-nostdin", "-v", "error", "-y"] + argv +
                        ["-f", os.path.splitext(name)[1][1:].replace("mkv", "matroska"), part],
                        f"FFmpeg making {name}")
            os.replace(part, path)
        return path

    mp4 = make(PREP_INPUT, ["-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30",
                            "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                            "-t", str(PREP_SECONDS), "-ac", "2", "-c:v", "libx264",
                            "-preset", "veryfast", "-c:a", "aac"])
    short = make(PREP_PAIR[0], ["-i", mp4, "-c", "copy"])
    loops = -(-PREP_LONG_SECONDS // PREP_SECONDS) - 1
    long = make(PREP_PAIR[1], ["-stream_loop", str(loops), "-i", mp4, "-t",
                               str(PREP_LONG_SECONDS), "-c", "copy"])
    return mp4, short, long


def measure_prep(args, timer, cache, reelfix, reelprep):
    """reelprep against the README's FFmpeg command and reelfix, then reelprep's memory."""
    mp4, short, long = make_prep_inputs(cache)
    for path in (mp4, short, long):
        warm(path)
    out = os.path.join(cache, "out-prep.avi")
    source = os.path.join(cache, "out-prep-source.avi")
    # The README's command, word for word, then reelfix; one timed command.
    two_step = (f"ffmpeg -nostdin -v error -y -i '{mp4}' -map 0:v:0 -map 0:a:0 -t 180 "
                f"-vf scale=320:240,fps=15 -c:v mjpeg -q:v 5 -c:a pcm_u8 -ac 1 -ar 11024 "
                f"'{source}' && '{reelfix}' '{source}' '{out}' > /dev/null")
    commands = [Command("reelprep", [reelprep, "-q", mp4, out], out),
                Command("FFmpeg + reelfix", ["sh", "-c", two_step], out)]
    measure(timer, commands, args.prep_rounds)
    print_table(f"reelprep: {os.path.basename(mp4)} ({os.path.getsize(mp4) / 1e6:.1f} MB)",
                commands, unit="s")
    print(f"  reelprep / FFmpeg + reelfix: {ratio(commands[0], commands[1])}"
          "  (target: at most 1.00 per round)")
    for path in (source, out):
        if os.path.exists(path):
            os.remove(path)

    # Peak memory: one run each; every movie of the 20-minute input is written and removed.
    pair = []
    for path, seconds in ((short, PREP_SECONDS), (long, PREP_LONG_SECONDS)):
        first = os.path.join(cache, "prep-part-0001.avi")
        command = Command(f"reelprep {seconds // 60} min", [reelprep, "-q", "-y", path, first],
                          first)
        timed_run(timer, command)
        for name in os.listdir(cache):
            if name.startswith("prep-part-"):
                os.remove(os.path.join(cache, name))
        pair.append(command)
    print_table(f"reelprep's peak memory: {os.path.basename(short)}, {os.path.basename(long)} "
                "(one run each, every movie written)", pair, unit="s")
    print(f"  20 min / 3 min peak memory: {max(pair[1].peaks) / max(pair[0].peaks):.2f}"
          "  (target: about 1)")
    print()


def main():
    args = parse_arguments()
    cache = cache_directory(args)
    os.makedirs(cache, exist_ok=True)
    use_ffmpeg = not args.no_ffmpeg and shutil.which("ffmpeg") is not None
    prep = use_ffmpeg and not args.skip_prep
    build(args, need_generator=not use_ffmpeg, need_prep=prep)
    timer = os.path.join(args.build, "bench", "time_command")
    reelprep = os.path.join(args.build, "prep", "reelprep")
    reelfix = os.path.abspath(args.reelfix or os.path.join(args.build, "reelfix"))
    baseline = os.path.abspath(args.baseline) if args.baseline else None

    sources = make_sources(cache, args.build, use_ffmpeg)
    for path in sources.values():
        warm(path)

    print(f"reelfix benchmark, {datetime.date.today().isoformat()}, "
          f"{os.cpu_count()} CPUs, {cpu_model()}, {platform.system()} {platform.release()}")
    print(f"reelfix: {reelfix}")
    if baseline:
        print(f"baseline: {baseline}")
    print(f"{args.rounds} rounds after one warm-up round, commands alternating; warm page cache; "
          + ("each destination replaced" if args.replace else "each destination removed first"))
    print()

    def command(label, argv, name, stdout_to_dest=False, dest_prefix=""):
        """The destination goes to standard output, or is the last argument (after
        dest_prefix, for dd's "of=")."""
        dest = os.path.join(cache, f"out-{name}.avi")
        if not stdout_to_dest:
            argv = argv + [dest_prefix + dest]
        return Command(label, argv, dest, stdout_to_dest, args.replace)

    short = sources[SHORT_SECONDS]
    # cat may copy inside the kernel (copy_file_range, GNU coreutils 9); dd always reads into
    # its own memory and writes from there, as reelfix must, so it is shown for comparison.
    commands = [command("reelfix", [reelfix, short], "reelfix"),
                command("cat", ["cat", short], "cat", stdout_to_dest=True),
                command("dd bs=256K", ["dd", f"if={short}", "bs=256K", "status=none"], "dd",
                        dest_prefix="of=")]
    if baseline:
        commands.insert(1, command("baseline", [baseline, short], "baseline"))
    if use_ffmpeg:
        commands.append(command("ffmpeg -c copy mjpeg2jpeg",
                                ["ffmpeg", "-v", "error", "-y", "-i", short, "-c", "copy",
                                 "-bsf:v", "mjpeg2jpeg"], "ffmpeg"))
    measure(timer, commands, args.rounds)
    print_table(f"{SHORT_SECONDS} s source: {os.path.basename(short)} "
                f"({os.path.getsize(short) / 1e6:.1f} MB)", commands)
    by_label = {c.label: c for c in commands}
    print(f"  reelfix / cat: {ratio(by_label['reelfix'], by_label['cat'])}  (target: at most 1.15 per round)")
    print(f"  reelfix / dd: {ratio(by_label['reelfix'], by_label['dd bs=256K'])}")
    if baseline:
        print(f"  reelfix / baseline: {ratio(by_label['reelfix'], by_label['baseline'])}")
    print()

    short_pair, long_pair = (sources[s] for s in PAIR_SECONDS)
    pair = [command("reelfix 3 min", [reelfix, short_pair], "reelfix"),
            command("reelfix 60 min", [reelfix, long_pair], "reelfix")]
    if baseline:
        pair += [command("baseline 3 min", [baseline, short_pair], "baseline"),
                 command("baseline 60 min", [baseline, long_pair], "baseline")]
    measure(timer, pair, args.rounds)
    print_table(f"3 and 60 minutes: {os.path.basename(short_pair)} "
                f"({os.path.getsize(short_pair) / 1e6:.1f} MB), {os.path.basename(long_pair)} "
                f"({os.path.getsize(long_pair) / 1e6:.1f} MB)", pair)
    print(f"  reelfix 60 min / 3 min: {ratio(pair[1], pair[0])}  (target: at most 1.30 per round)")
    if baseline:
        print(f"  baseline 60 min / 3 min: {ratio(pair[3], pair[2])}")
    print()

    peaks = [(SHORT_SECONDS, by_label["reelfix"]), (PAIR_SECONDS[0], pair[0]),
             (PAIR_SECONDS[1], pair[1])]
    print("peak resident memory of reelfix: " +
          ", ".join(f"{s} s {max(c.peaks) / 1024:.2f} MB" for s, c in peaks) +
          "  (target at most 8 MB)")

    if baseline:
        checks = [compare_with_baseline(reelfix, baseline, sources[s], cache)
                  for s in (SHORT_SECONDS,) + PAIR_SECONDS]
        print("outputs of reelfix and baseline (date masked): " +
              ("identical" if all(c[0] for c in checks) else "DIFFERENT") +
              "; console texts: " + ("identical" if all(c[1] for c in checks) else "different"))

    if not args.skip_strace and shutil.which("strace"):
        for label, binary in (("reelfix", reelfix), ("baseline", baseline)):
            if binary is None:
                continue
            calls = system_calls(binary, short, cache)
            print(f"system calls of {label} on the {SHORT_SECONDS} s source (strace -c): "
                  f"reads {describe_calls(calls, READ_CALLS)}, "
                  f"writes {describe_calls(calls, WRITE_CALLS)}"
                  + (f", fallocate {calls['fallocate']}" if "fallocate" in calls else ""))

    for c in commands + pair:
        if os.path.exists(c.dest):
            os.remove(c.dest)

    if prep:
        print()
        measure_prep(args, timer, cache, reelfix, reelprep)

    if not args.skip_jpeg_bench:
        rate = jpeg_bench(args.build)
        print(f"fix_jpeg_frame on a 25 KB frame (median of 5): {rate / 1e9:.2f} GB/s"
              "  (target at least 4 GB/s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
