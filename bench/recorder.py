#!/usr/bin/env python3
"""The real recorder program, timed and measured as the user meets it.

  recorder.py firstpaint --build B --db FILE [--runs N] [--display xvfb|offscreen]
      Process start to the first painted window and to the first painted
      project centre, the project opened from the start screen's recent list
      (the program's benchmark hook QUILLARK_BENCH_PROBE / _OPEN_RECENT /
      _EXIT, see app/benchprobe.h), on a project of 16 devices whose record
      file is FILE (opened for writing: give a private copy). Interleaved run
      by run with a bare Qt window process (qk-bench-window) from start to its
      first paint.

  recorder.py memory --build B [--minutes M] [--display xvfb|offscreen] [--gl]
      The demo project (16 devices on two gateway simulator processes, 1 s)
      opened in the recorder, recording on and the first device's chart view
      open (hook QUILLARK_BENCH_USE); VmHWM and VmRSS after M minutes, beside a bare
      Qt window process on the same display. --gl lets the X11 plugin load
      the OpenGL stack, as the program did before it turned that off.

Prints QKROW lines for bench/run.sh. Starts its own Xvfb (1280x800x24) unless
--display offscreen; every process it starts it stops by its id.
"""
import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Session:
    """Xvfb, gateway simulators and a private settings home, stopped on exit."""

    def __init__(self, build, display):
        self.build = build
        self.procs = []
        self.home = tempfile.mkdtemp(prefix="qk-bench-home-")
        self.env = dict(os.environ)
        # Settings and runtime folder of its own; the cache (GStreamer's plugin
        # registry, fontconfig) kept between runs, as a user's is.
        cache = os.path.join(os.environ.get("QK_DATA", "/tmp/qk-bench"), "home-cache")
        os.makedirs(cache, exist_ok=True)
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                        XDG_RUNTIME_DIR=os.path.join(self.home, "run"), XDG_CACHE_HOME=cache)
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.env.pop("QUILLARK_BENCH_PROBE", None)
        if display == "offscreen":
            self.env["QT_QPA_PLATFORM"] = "offscreen"
        else:
            self.env["QT_QPA_PLATFORM"] = "xcb"
            self.env["DISPLAY"] = self.xvfb()
        self.dead = socket.socket()  # bound, never listening: connections refused
        self.dead.bind(("127.0.0.1", 0))

    def xvfb(self):
        """A display of its own: the first number without a lock, once its socket is there."""
        for number in range(140, 400, 3):
            if os.path.exists("/tmp/.X%d-lock" % number):
                continue
            xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x800x24",
                                     "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(200):
                if xvfb.poll() is not None or os.path.exists("/tmp/.X11-unix/X%d" % number):
                    break
                time.sleep(0.05)
            if xvfb.poll() is None:
                self.procs.append(xvfb)
                return ":%d" % number
        raise SystemExit("cannot start Xvfb")

    def gateway(self, devices):
        sim = subprocess.Popen([os.path.join(self.build, "tools/gateway_sim/quillark-gateway-sim"),
                                "--port", "0", "--devices", str(devices)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.procs.append(sim)
        m = re.search(r":(\d+) ", sim.stdout.readline())
        if not m:
            raise SystemExit("gateway simulator did not start")
        return int(m.group(1))

    def project(self, folder, name, db_name, ports):
        text = open(os.path.join(SRC, "examples/demo.qlk")).read()
        text = text.replace('\\"1502\\"', '\\"%d\\"' % ports[0])
        text = text.replace('\\"1503\\"', '\\"%d\\"' % ports[1])
        text = re.sub(r"(?m)^databaseName=.*$", "databaseName=" + db_name, text)
        text = re.sub(r"(?m)^projectName=.*$", "projectName=" + name, text)
        path = os.path.join(folder, name + ".qlk")
        with open(path, "w") as f:
            f.write(text)
        subprocess.run([os.path.join(self.build, "bench/projectopen/qk-bench-recent"), path],
                       env=self.env, check=True)
        return path

    def start(self, program, probe, **extra):
        env = dict(self.env, QUILLARK_BENCH_PROBE=probe, **extra)
        if os.path.exists(probe):
            os.remove(probe)
        t0 = time.monotonic_ns()
        p = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        return p, t0

    def stop(self, p, timeout=30):
        if p.poll() is None:
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.dead.close()
        shutil.rmtree(self.home, ignore_errors=True)


def probe_lines(path):
    marks = {}
    if os.path.exists(path):
        for line in open(path):
            what, ns = line.split()
            marks.setdefault(what, int(ns))
    return marks


def status_kib(pid, field):
    for line in open("/proc/%d/status" % pid):
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return 0


def row(figure, anchor, unit, values):
    print("QKROW\t%s\t%s\t%s\t%s" % (figure, anchor, unit, " ".join("%.4f" % v for v in values)))


def firstpaint(args, s):
    folder = os.path.dirname(os.path.abspath(args.db))
    name = os.path.splitext(os.path.basename(args.db))[0]
    port = s.dead.getsockname()[1]
    s.project(folder, name + "-paint", os.path.basename(args.db), (port, port))
    recorder = os.path.join(args.build, "quillark-lite-modbus")
    window = os.path.join(args.build, "bench/projectopen/qk-bench-window")
    probe = os.path.join(s.home, "probe")
    start_window, opened, start_project, floor, ratio = [], [], [], [], []
    # One start unmeasured: the caches a user's earlier start has filled.
    p, _ = s.start(recorder, probe, QUILLARK_BENCH_OPEN_RECENT="1", QUILLARK_BENCH_EXIT="1")
    s.stop(p, 120)
    for run in range(args.runs):
        for k in range(2):
            if (k == 0) == (run % 2 == 0):
                p, t0 = s.start(recorder, probe, QUILLARK_BENCH_OPEN_RECENT="1",
                                QUILLARK_BENCH_EXIT="1")
                s.stop(p, 120)
                m = probe_lines(probe)
                if "window" not in m or "project" not in m:
                    raise SystemExit("recorder run %d: no paint seen (%s)" % (run, m))
                start_window.append((m["window"] - t0) / 1e6)
                opened.append((m["project"] - m["window"]) / 1e6)
                start_project.append((m["project"] - t0) / 1e6)
            else:
                p, t0 = s.start(window, probe, QUILLARK_BENCH_EXIT="1")
                s.stop(p)
                m = probe_lines(probe)
                if "window" not in m:
                    raise SystemExit("bare window run %d: no paint seen" % run)
                floor.append((m["window"] - t0) / 1e6)
        # The splash's fixed 2500 ms are not start-up work.
        ratio.append((start_window[-1] - 2500) / floor[-1])
    size = os.path.getsize(args.db) / 2 ** 30
    label = "%s (%.1f GiB)" % (name, size)
    row("recorder start to window painted, less 2.5 s splash / anchor",
        "bare Qt window, start to paint", "x", ratio)
    row("recorder start to window painted (incl. splash)", "-", "ms", start_window)
    row("project open %s: recent entry to centre painted" % label, "-", "ms", opened)
    row("project open %s: same, max of the runs" % label, "-", "ms", [max(opened)])
    row("recorder start to project centre painted, %s" % label, "-", "ms", start_project)
    row("bare Qt window, start to first paint", "-", "ms", floor)


def memory(args, s):
    folder = tempfile.mkdtemp(prefix="qk-bench-memory-")
    ports = (s.gateway(8), s.gateway(8))
    s.project(folder, "demo", "demo.dat", ports)
    probe = os.path.join(s.home, "probe")
    gl = {"QT_XCB_GL_INTEGRATION": "xcb_glx" if args.gl else "none"}
    recorder, t0 = s.start(os.path.join(args.build, "quillark-lite-modbus"), probe,
                           QUILLARK_BENCH_OPEN_RECENT="1", QUILLARK_BENCH_USE="1", **gl)
    s.procs.append(recorder)
    window, _ = s.start(os.path.join(args.build, "bench/projectopen/qk-bench-window"),
                        os.path.join(s.home, "probe-window"), **gl)
    s.procs.append(window)
    deadline = time.monotonic() + 60 * args.minutes
    while time.monotonic() < deadline and recorder.poll() is None:
        time.sleep(1)
    if recorder.poll() is not None or "using" not in probe_lines(probe):
        raise SystemExit("the recorder did not open the demo project and start recording")
    hwm, rss = status_kib(recorder.pid, "VmHWM"), status_kib(recorder.pid, "VmRSS")
    floor = status_kib(window.pid, "VmRSS") if window.poll() is None else 0
    where = "Xvfb" if args.display == "xvfb" else "offscreen"
    if args.gl:
        where += " with OpenGL loaded"
    print("recorder after %.1f min on %s: VmHWM %.1f MB, VmRSS %.1f MB; bare Qt window %.1f MB"
          % (args.minutes, where, hwm / 1024, rss / 1024, floor / 1024))
    anchor = "bare Qt window %.1f MB" % (floor / 1024)
    row("recorder VmHWM, demo, %s, %g min" % (where, args.minutes), anchor, "MB", [hwm / 1024])
    row("recorder VmRSS, demo, %s, %g min" % (where, args.minutes), anchor, "MB", [rss / 1024])
    shutil.rmtree(folder, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("what", choices=["firstpaint", "memory"])
    ap.add_argument("--build", default=os.path.join(SRC, "build"))
    ap.add_argument("--db")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--minutes", type=float, default=2)
    ap.add_argument("--display", choices=["xvfb", "offscreen"], default="xvfb")
    ap.add_argument("--gl", action="store_true",
                    help="memory: let the X11 plugin load OpenGL (as the program did before)")
    args = ap.parse_args()
    args.build = os.path.abspath(args.build)
    s = Session(args.build, args.display)
    try:
        if args.what == "firstpaint":
            if not args.db or not os.path.exists(args.db):
                raise SystemExit("--db FILE: a record file (private copy)")
            firstpaint(args, s)
        else:
            memory(args, s)
    finally:
        s.close()


if __name__ == "__main__":
    sys.exit(main())
