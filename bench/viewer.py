#!/usr/bin/env python3
"""The real data viewer, timed and measured as the user meets it.

  viewer.py firstpaint --build B --db FILE [--runs N] [--display xvfb|offscreen]
      Process start to the first painted chart of `RideZodazo FILE` (a record
      file opened on its own), with an empty summary cache ("cold") and with
      the summary cached by an earlier run ("warm"); then redraws after a
      mouse-wheel step over the chart, step sent to the chart painted
      (hook QUILLARK_BENCH_PROBE / _WHEEL / _EXIT, viewer/viewerbenchprobe.h),
      and VmHWM at the end. Interleaved run by run with a bare Qt window
      process (qk-bench-window) from start to its first paint.

  viewer.py csv --build B --db FILE [--runs N] --day YYYY-MM-DD
      Batch CSV of one minute and of one day against sqlite3 -csv of the
      same rows (by time, as a user would type it, and by the id range the
      viewer finds), interleaved run by run.

Prints QKROW lines like bench/recorder.py. Every process it starts it stops
by its id.
"""
import argparse
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from recorder import Session, probe_lines, row  # noqa: E402


def run_viewer(s, build, db, probe, cache, **extra):
    env = dict(s.env, QUILLARK_BENCH_PROBE=probe, XDG_CACHE_HOME=cache, **extra)
    if os.path.exists(probe):
        os.remove(probe)
    t0 = time.monotonic_ns()
    p = subprocess.Popen([os.path.join(build, "RideZodazo"), db], env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.stop(p, 1800)
    return t0, probe_lines(probe), all_lines(probe)


def all_lines(path):
    out = []
    if os.path.exists(path):
        for line in open(path):
            what, value = line.split()
            out.append((what, int(value)))
    return out


def firstpaint(args, s):
    probe = os.path.join(s.home, "probe")
    warm = os.path.join(s.home, "cache-warm")
    window = os.path.join(args.build, "bench/projectopen/qk-bench-window")
    # The warm cache: one run that waits for the summary (not measured).
    t0, m, _ = run_viewer(s, args.build, args.db, probe, warm, QUILLARK_BENCH_WAIT_SUMMARY="1",
                          QUILLARK_BENCH_EXIT="1")
    if "summary" not in m:
        raise SystemExit("no summary built: %s" % m)
    build_s = (m["summary"] - t0) / 1e9
    cold, hot, floor, ratio_cold, ratio_warm, wheel, hwm = [], [], [], [], [], [], []
    for run in range(args.runs):
        order = [0, 1, 2] if run % 2 == 0 else [2, 1, 0]
        for k in order:
            if k == 0:
                cache = tempfile.mkdtemp(prefix="qk-cold-", dir=s.home)
                t0, m, _ = run_viewer(s, args.build, args.db, probe, cache,
                                      QUILLARK_BENCH_EXIT="1")
                shutil.rmtree(cache, ignore_errors=True)
                if "chart" not in m:
                    raise SystemExit("cold run %d: no chart painted (%s)" % (run, m))
                cold.append((m["chart"] - t0) / 1e6)
            elif k == 1:
                t0, m, lines = run_viewer(s, args.build, args.db, probe, warm,
                                          QUILLARK_BENCH_WHEEL=str(args.wheels),
                                          QUILLARK_BENCH_EXIT="1")
                if "chart" not in m:
                    raise SystemExit("warm run %d: no chart painted (%s)" % (run, m))
                hot.append((m["chart"] - t0) / 1e6)
                sent = None
                for what, value in lines:
                    if what == "wheel":
                        sent = value
                    elif what == "wheel-painted" and sent is not None:
                        wheel.append((value - sent) / 1e6)
                        sent = None
                    elif what == "vmhwm":
                        hwm.append(value / 1024)
            else:
                if os.path.exists(probe):
                    os.remove(probe)
                t0 = time.monotonic_ns()
                p = subprocess.Popen([window], env=dict(s.env, QUILLARK_BENCH_PROBE=probe,
                                                        QUILLARK_BENCH_EXIT="1"),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                s.stop(p)
                m = probe_lines(probe)
                if "window" not in m:
                    raise SystemExit("bare window run %d: no paint seen" % run)
                floor.append((m["window"] - t0) / 1e6)
        ratio_cold.append(cold[-1] / floor[-1])
        ratio_warm.append(hot[-1] / floor[-1])
    label = "%s (%.1f GiB)" % (os.path.basename(args.db), os.path.getsize(args.db) / 2 ** 30)
    row("viewer start to chart painted, cold summary, %s / anchor" % label,
        "bare Qt window, start to paint", "x", ratio_cold)
    row("viewer start to chart painted, warm summary, %s / anchor" % label,
        "bare Qt window, start to paint", "x", ratio_warm)
    row("viewer start to chart painted, cold summary", "-", "ms", cold)
    row("viewer start to chart painted, warm summary", "-", "ms", hot)
    row("viewer wheel step sent to chart painted (all steps)", "-", "ms", wheel)
    row("viewer VmHWM after open and %d wheel steps, warm" % args.wheels, "-", "MB", hwm)
    row("bare Qt window, start to first paint", "-", "ms", floor)
    row("summary build, start to summary ready (once, not interleaved)", "-", "s", [build_s])


def timed(command, out=None):
    t0 = time.monotonic()
    with open(out or os.devnull, "wb") as sink:
        subprocess.run(command, stdout=sink, stderr=subprocess.DEVNULL, check=False)
    return time.monotonic() - t0


def lines_of(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


def csv(args, s):
    day = args.day
    out = os.path.join(s.home, "out.csv")
    anchor = os.path.join(s.home, "anchor.csv")
    cases = [("one minute", day + " 12:00:00", day + " 12:00:59"),
             ("one day", day + " 00:00:00", day + " 23:59:59")]
    env = dict(s.env, QT_QPA_PLATFORM="offscreen")
    # The window's summary of the file in the user's cache (built once by a
    # window run, kept between runs as a user's is): batch export takes the
    # rows' time order from it.
    probe = os.path.join(s.home, "probe")
    _, m, _ = run_viewer(s, args.build, args.db, probe, env["XDG_CACHE_HOME"],
                         QUILLARK_BENCH_WAIT_SUMMARY="1", QUILLARK_BENCH_EXIT="1")
    if "summary" not in m:
        raise SystemExit("no summary built: %s" % m)
    for name, first, last in cases:
        lo = int(time.mktime(time.strptime(first, "%Y-%m-%d %H:%M:%S")))
        hi = int(time.mktime(time.strptime(last, "%Y-%m-%d %H:%M:%S")))
        con = sqlite3.connect("file:%s?mode=ro" % args.db, uri=True)
        ours, by_time, by_id, r_time, r_id = [], [], [], [], []
        ids = None
        for run in range(args.runs):
            sides = ["ours", "time", "id"] if run % 2 == 0 else ["id", "time", "ours"]
            for side in sides:
                if side == "ours":
                    t0 = time.monotonic()
                    subprocess.run([os.path.join(args.build, "RideZodazo"), "--csv", out,
                                    "--from", first, "--to", last, args.db], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    ours.append(time.monotonic() - t0)
                elif side == "time":
                    by_time.append(timed(["sqlite3", "-csv", args.db,
                                          "select serialno, channel1, channel2, pointDate from "
                                          "fennolink where pointDate between %d and %d" % (lo, hi)],
                                         anchor))
                else:
                    if ids is None:
                        ids = con.execute("select min(id), max(id) from fennolink where "
                                          "pointDate between ? and ?", (lo, hi)).fetchone()
                    by_id.append(timed(["sqlite3", "-csv", args.db,
                                        "select serialno, channel1, channel2, pointDate from "
                                        "fennolink where id between %d and %d" % ids], anchor))
            r_time.append(ours[-1] / by_time[-1])
            r_id.append(ours[-1] / by_id[-1])
        label = "%s (%d CSV lines, sqlite3 %d lines)" % (name, lines_of(out), lines_of(anchor))
        row("batch CSV %s / sqlite3 -csv by pointDate" % label, "sqlite3 -csv, where pointDate",
            "x", r_time)
        row("batch CSV %s / sqlite3 -csv by id range" % label, "sqlite3 -csv, where id", "x", r_id)
        row("batch CSV %s" % name, "-", "s", ours)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("what", choices=["firstpaint", "csv"])
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))), "build"))
    ap.add_argument("--db", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--wheels", type=int, default=10)
    ap.add_argument("--day", default="2026-01-21")
    ap.add_argument("--display", choices=["xvfb", "offscreen"], default="xvfb")
    args = ap.parse_args()
    args.build = os.path.abspath(args.build)
    s = Session(args.build, args.display)
    try:
        firstpaint(args, s) if args.what == "firstpaint" else csv(args, s)
    finally:
        s.close()


if __name__ == "__main__":
    sys.exit(main())
