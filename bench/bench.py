#!/usr/bin/env python3
"""The benchmarks of the check, against OpenSSH's ssh and check_by_ssh.

Speed and CPU per check, the wait cost, output throughput, a soak, concurrency, the fault
table. bench/run.sh builds the programs, starts the test sshd and the Wine prefix and runs
this script (inside a mount namespace whose resolver is 127.0.0.1, so that no name lookup
leaves the machine); everything here talks to 127.0.0.1 only.
"""

import argparse
import base64
import json
import os
import platform
import pwd
import random
import re
import select
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

CHECK_BY_SSH = "/usr/lib/nagios/plugins/check_by_ssh"
ACCOUNT = "tavrintest"
CLK_TCK = os.sysconf("SC_CLK_TCK")
NATIVE = "native host, in-process"
WINE = "comTavrin.dll in-process (Wine)"
NATIVE_KEPT = "native host, kept connection"
WINE_KEPT = "comTavrin.dll, kept connection (Wine)"


def log(text):
    print(text, flush=True)


def note(text):
    print(f"  .. {text}", file=sys.stderr, flush=True)


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def read_env(path):
    """The fixture's KEY=VALUE lines (values may hold blanks)."""
    env = {}
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if "=" in line:
                key, value = line.split("=", 1)
                env[key] = value
    return env


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def b64(text):
    return base64.b64encode(text.encode()).decode()


def parameter(user, password, port, keyfile, command, cco="CON", con="ok", rre="NO", reuse=0):
    return (f"#ENC=T#USR={user}#PWD={b64(password)}#PROTO=A#PORT={port}#KEYF={keyfile}#KEYT=RSA"
            f"#CMD={b64(command)}#CCO={cco}#CON={con}#RRE={rre}#" + (f"REUSE={reuse}#" if reuse else ""))


def median(values):
    return statistics.median(values) if values else float("nan")


def p90(values):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(0.9 * (len(ordered) - 1))))]


def mib(n):
    return "n/a" if n is None or n < 0 else f"{n / 1048576:.1f}"


# ---------------------------------------------------------------- /proc of other processes

def stat_fields(pid):
    """The fields of /proc/PID/stat after the command name: [0] is the state, [1] the parent,
    [11:15] utime, stime, cutime and cstime."""
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()


def all_stat_fields():
    """stat_fields of every process there is, by pid (one that ends meanwhile is left out)."""
    found = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                found[int(entry)] = stat_fields(entry)
            except (OSError, IndexError):
                continue
    return found


def parents(stats):
    """pid -> parent pid, from all_stat_fields."""
    return {pid: int(fields[1]) for pid, fields in stats.items()}


def descends_from(pid, ancestor, parent):
    """Whether `ancestor` is above pid in the process tree (`parent`: pid -> parent pid)."""
    p, hops = pid, 0
    while p in parent and p > 1 and hops < 64:
        p = parent[p]
        hops += 1
        if p == ancestor:
            return True
    return False


def proc_sample(pid):
    """CPU seconds, memory and descriptors of a live process, read from its /proc."""
    if not pid:
        return None
    try:
        fields = stat_fields(pid)
        cpu = (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime
        status = {}
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                status[key] = value.strip()
        kib = lambda key: int(status.get(key, "-1 kB").split()[0]) * 1024
        return {
            "cpu_s": cpu,
            "rss": kib("VmRSS"),
            "peak_rss": kib("VmHWM"),
            "threads": int(status.get("Threads", "-1")),
            "fds": len(os.listdir(f"/proc/{pid}/fd")),
            "exe": os.readlink(f"/proc/{pid}/exe"),
        }
    except (OSError, ValueError, IndexError):
        return None


def account_uid():
    return pwd.getpwnam(ACCOUNT).pw_uid


def server_processes(sshd_pid):
    """Processes of the test account below our sshd (sessions and the commands they run)."""
    uid = account_uid()
    parent = parents(all_stat_fields())
    found = []
    for pid in parent:
        try:
            if os.stat(f"/proc/{pid}").st_uid != uid:
                continue
        except OSError:
            continue
        if descends_from(pid, sshd_pid, parent):
            found.append(pid)
    return found


def sshd_sessions_cpu_s(sshd_pid):
    """CPU time of the sshd listener's ended children (the sessions it has reaped)."""
    try:
        fields = stat_fields(sshd_pid)
        return (int(fields[13]) + int(fields[14])) / CLK_TCK  # cutime, cstime
    except (OSError, ValueError, IndexError):
        return None


def sshd_tree_cpu_s(sshd_pid):
    """CPU time of every session the sshd listener has served: its reaped children (cutime,
    cstime) and the sessions still running, with what they reaped. For kept connections, whose
    sessions outlive the series, the difference of two samples is the servers' CPU in between."""
    total = sshd_sessions_cpu_s(sshd_pid)
    if total is None:
        return None
    stats = all_stat_fields()
    parent = parents(stats)
    for pid, fields in stats.items():
        if descends_from(pid, sshd_pid, parent):
            total += sum(int(x) for x in fields[11:15]) / CLK_TCK  # utime stime cutime cstime
    return total


ACCEPTED = re.compile(rb"Accepted (password|publickey|keyboard-interactive/pam) for ")


class LoginCounter:
    """Counts the logins ("Accepted ... for") that sshd writes to its log after a mark."""

    def __init__(self, path):
        self.path = path

    def mark(self):
        try:
            return os.path.getsize(self.path)
        except OSError:
            return None

    def since(self, offset):
        if offset is None:
            return None
        try:
            with open(self.path, "rb") as f:
                f.seek(offset)
                return sum(1 for line in f if ACCEPTED.search(line))
        except OSError:
            return None


def kill_sessions(sshd_pid):
    """Ends the test account's `sshd: USER...` session processes below our own sshd (on
    127.0.0.1) with SIGKILL, as a crash or an administrator would; the connections they served
    close. Returns how many were sent the signal."""
    killed = 0
    for pid in server_processes(sshd_pid):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if not f.read().startswith(b"sshd: "):
                    continue
            os.kill(pid, signal.SIGKILL)
            killed += 1
        except OSError:
            continue
    return killed


def settle_sessions(sshd_pid, limit=3.0):
    """Waits until the sshd listener has no session children left (they have been reaped)."""
    start = time.monotonic()
    while time.monotonic() - start < limit:
        if sshd_pid not in parents(all_stat_fields()).values():
            return
        time.sleep(0.02)


def settle_server(sshd_pid, limit=5.0):
    """The count of the account's processes now, and after they had up to `limit` s to end."""
    now = len(server_processes(sshd_pid))
    start = time.monotonic()
    left = now
    while left and time.monotonic() - start < limit:
        time.sleep(0.1)
        left = len(server_processes(sshd_pid))
    return now, left, time.monotonic() - start


# ---------------------------------------------------------------- child programs

class Watchdog:
    """Kills a child that outlives its bound."""

    def __init__(self, process, seconds):
        self.fired = False
        self.timer = threading.Timer(seconds, self._fire, args=(process,))
        self.timer.daemon = True
        self.timer.start()

    def _fire(self, process):
        self.fired = True
        try:
            process.kill()
        except OSError:
            pass

    def cancel(self):
        self.timer.cancel()


def run_process(argv, env=None, bound=60):
    """Runs a program once; its wall time, and the CPU time of it and its waited-for children."""
    start = time.perf_counter()
    p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env)
    dog = Watchdog(p, bound)
    err_chunks = []
    reader = threading.Thread(target=lambda: err_chunks.append(p.stderr.read()), daemon=True)
    reader.start()
    out = p.stdout.read()
    reader.join()
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - start
    dog.cancel()
    p.returncode = os.waitstatus_to_exitcode(status)
    return {
        "rc": p.returncode,
        "out": out.decode(errors="replace"),
        "err": b"".join(err_chunks).decode(errors="replace"),
        "wall_ms": wall * 1000,
        "cpu_ms": (usage.ru_utime + usage.ru_stime) * 1000,
        "killed": dog.fired,
    }


class Bench:
    def __init__(self, a):
        self.a = a
        self.env = read_env(a.fixture_env)
        self.port = int(self.env["SSHD_PORT"])
        self.user = self.env["SSHD_USER"]
        self.password = self.env["SSHD_PASSWORD"]
        self.passphrase = self.env["KEY_ED25519_PASSPHRASE"]
        with open(a.sshd_pidfile) as f:
            self.sshd_pid = int(f.read().strip())
        self.wineserver_pid = a.wineserver_pid
        self.logins = LoginCounter(a.sshd_log or os.path.join(os.path.dirname(a.sshd_pidfile), "sshd.log"))
        self.results = []  # markdown sections for the results file
        self.targets = []  # (text, met or None)

    # ------------------------------------------------------------ the hosts

    def wine_env(self):
        env = dict(os.environ)
        env.update(WINEPREFIX=self.a.wineprefix, WINEDEBUG="-all", WINEARCH="win64",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        return env

    def host(self, kind, mode, label, key=None, password=None, command="echo ok", timeout=10,
             cco="CON", con="ok", rre="NO", count=None, warmup=None, known_hosts=None,
             host="127.0.0.1", port=None, extra=(), bound=600, reuse=0, object_per_check=False,
             kill_every=0, hooks=None, prefix=()):
        """Runs a bench host (kind "native" or "wine"); its records and the sync samples. With
        `reuse`, the checks keep their connections (REUSE=reuse) and the server's CPU is sampled
        over the sessions that are still running too; at a "kill" sync point the account's
        sessions are killed, every other time after a random moment (likely inside a check).
        `hooks` maps a sync point to a function of the host's process, called there before the
        sample is taken."""
        wine = kind == "wine"
        path = winpath if wine else (lambda p: p)
        argv = list(prefix) + ([self.a.wine_loader, self.a.com_host] if wine else [self.a.native_host])
        argv += ["--mode", mode, "--label", label, "--host", host,
                 "--port", str(port or self.port), "--user", self.user,
                 "--password", self.password if password is None else password,
                 "--timeout", str(timeout), "--command", command, "--cco", cco, "--con", con,
                 "--rre", rre, "--sync", "1",
                 "--known-hosts-dir", path(known_hosts or self.a.known_hosts_dir)]
        if key:
            argv += ["--key", path(key)]
        if count is not None:
            argv += ["--count", str(count)]
        if warmup is not None:
            argv += ["--warmup", str(warmup)]
        if reuse:
            argv += ["--reuse", str(reuse)]
        if object_per_check:
            argv += ["--object-per-check", "1"]
        if kill_every:
            argv += ["--kill-every", str(kill_every)]
        argv += list(extra)
        p = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, encoding="utf-8", errors="replace",
                             env=self.wine_env() if wine else None)
        dog = Watchdog(p, bound)
        err = []
        reader = threading.Thread(target=lambda: err.append(p.stderr.read()), daemon=True)
        reader.start()
        records, syncs, timers = [], [], []
        kills = {"points": 0, "processes": 0}

        def kill():
            kills["processes"] += kill_sessions(self.sshd_pid)

        for line in p.stdout:
            if not line.startswith("@bench "):
                continue
            record = json.loads(line[7:])
            if record["kind"] == "sync":
                later = None
                if record["point"] == "kill":
                    kills["points"] += 1
                    if kills["points"] % 2:
                        kill()  # the kept session dies while idle
                    else:
                        later = threading.Timer(random.uniform(0, 0.03), kill)  # likely while a check runs
                    try:
                        p.stdin.write("\n")
                        p.stdin.flush()
                    except OSError:
                        pass
                    if later:
                        later.start()
                        timers.append(later)
                    continue
                if hooks and record["point"] in hooks:
                    hooks[record["point"]](p)
                if record["point"] == "start" or (record["point"] == "end" and not reuse):
                    settle_sessions(self.sshd_pid)
                syncs.append({"point": record["point"], "host": proc_sample(p.pid),
                              "sshd_cpu_s": (sshd_tree_cpu_s if reuse else sshd_sessions_cpu_s)(self.sshd_pid),
                              "log": self.logins.mark(),
                              "wineserver": proc_sample(self.wineserver_pid) if wine else None,
                              "time": time.monotonic()})
                try:
                    p.stdin.write("\n")
                    p.stdin.flush()
                except OSError:
                    pass
            else:
                records.append(record)
        rc = p.wait()
        reader.join()
        dog.cancel()
        for timer in timers:
            timer.join()
        stderr = "".join(err)
        if dog.fired:
            note(f"{label}: killed after {bound} s")
        for r in records:
            if r["kind"] == "error":
                note(f"{label}: {r['error']}")
        return {"records": records, "syncs": syncs, "rc": rc, "stderr": stderr, "killed": dog.fired,
                "kills": kills}

    def record(self, run, kind):
        for r in run["records"]:
            if r["kind"] == kind:
                return r
        raise RuntimeError(f"no {kind} record; exit {run['rc']}; stderr: {run['stderr'][-600:]}")

    @staticmethod
    def at_syncs(run, key, first, last):
        """What the sync points `first` and `last` of a run recorded under `key`, as a pair; None
        when either point or either value is missing."""
        points = {s["point"]: s for s in run["syncs"]}
        if first not in points or last not in points:
            return None
        a, b = points[first][key], points[last][key]
        return None if a is None or b is None else (a, b)

    def sshd_cpu_ms(self, run, first="start", last="end"):
        cpu = self.at_syncs(run, "sshd_cpu_s", first, last)
        return None if cpu is None else (cpu[1] - cpu[0]) * 1000

    def logins_between(self, run, first="start", last="end"):
        """The logins sshd logged between two sync points of a run."""
        offsets = self.at_syncs(run, "log", first, last)
        if offsets is None:
            return None
        counted = self.logins.since(offsets[0])
        later = self.logins.since(offsets[1])
        return None if counted is None or later is None else counted - later

    def wineserver_cpu_ms(self, run, first="start", last="end"):
        samples = self.at_syncs(run, "wineserver", first, last)
        if samples is None or not samples[0] or not samples[1]:
            return None
        return (samples[1]["cpu_s"] - samples[0]["cpu_s"]) * 1000

    # ------------------------------------------------------------ output

    def table(self, title, header, rows, notes=()):
        widths = [max(len(str(x)) for x in col) for col in zip(header, *rows)] if rows else [len(h) for h in header]
        log("")
        log(f"== {title}   (load average {loadavg()})")
        log("  ".join(str(h).ljust(w) for h, w in zip(header, widths)))
        log("  ".join("-" * w for w in widths))
        for row in rows:
            log("  ".join(str(c).ljust(w) for c, w in zip(row, widths)))
        for n in notes:
            log(f"   {n}")
        md = [f"### {title}", "", f"Load average at the end: {loadavg()}", "",
              "| " + " | ".join(header) + " |", "|" + "|".join(" --- " for _ in header) + "|"]
        md += ["| " + " | ".join(str(c).replace("|", "\\|") for c in row) + " |" for row in rows]
        if notes:
            md.append("")
            md += [f"- {n}" for n in notes]
        self.results.append("\n".join(md))

    def target(self, text, met):
        self.targets.append((text, met))

    # ------------------------------------------------------------ 1. speed and CPU

    def peers(self, auth):
        """The ssh and check_by_ssh command lines for one kind of login, and their environment."""
        kh = os.path.join(self.a.known_hosts_dir, ".ssh", "known_hosts")
        options = ["IdentitiesOnly=yes", f"UserKnownHostsFile={kh}", "GlobalKnownHostsFile=/dev/null",
                   "StrictHostKeyChecking=yes", "ConnectTimeout=10"]
        askpass = dict(os.environ, SSH_ASKPASS=self.a.askpass, SSH_ASKPASS_REQUIRE="force",
                       DISPLAY=os.environ.get("DISPLAY", ":0"))
        if auth == "key":
            options += ["BatchMode=yes"]
            identity, env = ["-i", self.a.plain_key], None
        elif auth == "pass-phrase key":
            options += ["BatchMode=no", "PreferredAuthentications=publickey"]
            identity, env = ["-i", self.a.pp_key], dict(askpass, BENCH_ASKPASS_TEXT=self.passphrase)
        else:
            options += ["BatchMode=no", "PubkeyAuthentication=no", "PreferredAuthentications=password",
                        "NumberOfPasswordPrompts=1"]
            identity, env = [], dict(askpass, BENCH_ASKPASS_TEXT=self.password)
        dash_o = [x for o in options for x in ("-o", o)]
        ssh = ["ssh", "-F", "/dev/null", "-p", str(self.port)] + dash_o + identity + \
              [f"{self.user}@127.0.0.1", "echo ok"]
        cbs = [CHECK_BY_SSH, "-F", "/dev/null", "-H", "127.0.0.1", "-p", str(self.port), "-l", self.user,
               "-t", "10"] + dash_o + identity + ["-C", "echo ok"]
        return ssh, cbs, env

    def measure_processes(self, argv, env, n, warmup):
        for _ in range(warmup):
            run_process(argv, env)
        settle_sessions(self.sshd_pid)
        server0 = sshd_sessions_cpu_s(self.sshd_pid)
        log0 = self.logins.mark()
        wall, cpu, up, first_fail = [], [], 0, ""
        for _ in range(n):
            r = run_process(argv, env)
            wall.append(r["wall_ms"])
            cpu.append(r["cpu_ms"])
            if r["rc"] == 0 and "ok" in r["out"]:
                up += 1
            elif not first_fail:
                first_fail = (r["out"] + r["err"]).strip()[-300:]
        if first_fail:
            note(f"{argv[0]}: {first_fail}")
        settle_sessions(self.sshd_pid)
        server1 = sshd_sessions_cpu_s(self.sshd_pid)
        result = {"wall": wall, "cpu": cpu, "up": up, "n": n}
        logins = self.logins.since(log0)
        if logins is not None:
            result["logins"] = logins
        if server0 is not None and server1 is not None:
            result["sshd"] = (server1 - server0) * 1000 / n
        return result

    def speed(self):
        n, warm = self.a.checks, self.a.warmup
        keys = {"key": self.a.plain_key, "pass-phrase key": self.a.pp_key, "password": None}
        secrets = {"key": "", "pass-phrase key": self.passphrase, "password": self.password}
        rows, figures = [], {}
        for auth in ("key", "pass-phrase key", "password"):
            ssh, cbs, env = self.peers(auth)
            note(f"speed: ssh, {auth}")
            figures[("ssh", auth)] = self.measure_processes(ssh, env, n, warm)
            note(f"speed: check_by_ssh, {auth}")
            figures[("check_by_ssh", auth)] = self.measure_processes(cbs, env, n, warm)
            note(f"speed: tavrin-check, {auth}")
            param = parameter(self.user, secrets[auth], self.port, keys[auth] or "", "echo ok")
            figures[("tavrin-check (process)", auth)] = self.measure_processes(
                [self.a.tavrin_check, "--host", "127.0.0.1", "--timeout", "10", "--parameter", param], None, n, warm)
            for kind, name, reuse in (("native", NATIVE, 0), ("wine", WINE, 0),
                                      ("native", NATIVE_KEPT, self.a.reuse_seconds),
                                      ("wine", WINE_KEPT, self.a.reuse_seconds)):
                note(f"speed: {name}, {auth}")
                # Kept connections: a series from a fresh process, without warm-up, so that its
                # first check logs in and the figures include that login; a new object per check.
                run = self.host(kind, "checks", f"{kind} {auth}" + (" kept" if reuse else ""), key=keys[auth],
                                password=secrets[auth], count=self.a.reuse_checks if reuse else n,
                                warmup=0 if reuse else warm, reuse=reuse, object_per_check=bool(reuse))
                r = self.record(run, "checks")
                if r["first_down"]:
                    note(f"{name}: {r['first_down']}")
                f = {"wall": r["wall_ms"], "cpu": r["cpu_ms"], "up": int(r["up"]), "n": int(r["count"]),
                     "cpu_mean": r["total_cpu_ms"] / max(1, r["count"])}
                ws = self.wineserver_cpu_ms(run)
                if ws is not None:
                    f["wineserver"] = ws / max(1, r["count"])
                server = self.sshd_cpu_ms(run)
                if server is not None:
                    f["sshd"] = server / max(1, r["count"])
                logins = self.logins_between(run)
                if logins is not None:
                    f["logins"] = logins
                figures[(name, auth)] = f
        for (name, auth), f in figures.items():
            cpu_mean = f.get("cpu_mean", statistics.fmean(f["cpu"]) if f["cpu"] else float("nan"))
            rows.append([name, auth, f"{f['up']}/{f['n']}", f"{median(f['wall']):.1f}", f"{p90(f['wall']):.1f}",
                         f"{median(f['cpu']):.1f}", f"{cpu_mean:.1f}",
                         f"{f['wineserver']:.1f}" if "wineserver" in f else "",
                         f"{f['sshd']:.1f}" if "sshd" in f else "",
                         f"{f['logins'] * 100 / f['n']:.1f}" if "logins" in f and f["n"] else ""])
        rows.sort(key=lambda r: (["key", "pass-phrase key", "password"].index(r[1]), r[0]))
        self.table(f"Speed: `echo ok`, {n} checks after {warm} warm-up checks (kept connections: "
                   f"{self.a.reuse_checks} checks from a fresh process, REUSE={self.a.reuse_seconds})",
                   ["program", "authentication", "UP", "wall median ms", "wall p90 ms", "CPU median ms",
                    "CPU mean ms", "wineserver CPU ms/check", "server (sshd) CPU ms/check",
                    "logins per 100 checks"], rows,
                   ["CPU: user+system time of the program and the children it waited for (processes), or the "
                    "process's own CPU time around each check (in-process hosts; Wine counts in 10 ms ticks, "
                    "so the mean over all checks is the figure to read).",
                    "wineserver CPU: the Wine server's CPU time during the measured checks, per check; it is "
                    "work done for the plug-in's process outside it.",
                    "ssh and check_by_ssh get the pass phrase and the password through SSH_ASKPASS (a shell "
                    "script; its CPU time is counted).",
                    "server CPU: the CPU time of the sshd sessions that served the measured checks (the listener's "
                    "reaped children, counted in 10 ms ticks): the part of each check that no client can save. "
                    "Kept connections: the CPU of all the listener's sessions, ended and running, over the whole "
                    "series (first login included), divided by the checks.",
                    "kept connection: REUSE in the parameter string, a new plug-in object per check (made before "
                    "the previous one is released); the series' first check logs in, and its time is in the "
                    "figures (wall p90 and CPU mean).",
                    "logins: the \"Accepted ... for\" lines the server logged during the measured checks."])
        ratio_rows = []
        for auth in ("key", "pass-phrase key", "password"):
            base = figures[("ssh", auth)]
            for name in (WINE, NATIVE, "tavrin-check (process)", "check_by_ssh", WINE_KEPT, NATIVE_KEPT):
                f = figures[(name, auth)]
                cpu = f.get("cpu_mean", statistics.fmean(f["cpu"]))
                ratio_rows.append([name, auth, f"{median(f['wall']) / median(base['wall']):.2f}",
                                   f"{cpu / statistics.fmean(base['cpu']):.2f}"])
        self.table("Ratios to `ssh` for the same work (lower is better)",
                   ["program", "authentication", "wall (median) / ssh", "CPU (mean) / ssh"], ratio_rows)
        s_key = median(figures[("ssh", "key")]["wall"])
        for name, limit in ((NATIVE, 0.18), ("tavrin-check (process)", 0.20)):
            w = median(figures[(name, "key")]["wall"])
            self.target(f"{name}, key: wall {w:.1f} ms = {w / s_key:.3f} x ssh's {s_key:.1f} ms "
                        f"(at most {limit:.2f} x)", w <= limit * s_key)
        w = median(figures[(WINE, "key")]["wall"])
        self.target(f"(figure) {WINE}, key: wall {w:.1f} ms = {w / s_key:.3f} x ssh", None)
        for name in (WINE, NATIVE):
            f = figures[(name, "key")]
            extra = f" (+ {f['wineserver']:.1f} ms in the wineserver)" if "wineserver" in f else ""
            self.target(f"CPU per check with an unencrypted Ed25519 key at most 10 ms, {name}: "
                        f"{f['cpu_mean']:.1f} ms{extra}", f["cpu_mean"] <= 10)
        for name in (WINE_KEPT, NATIVE_KEPT):
            for auth in ("key", "pass-phrase key", "password"):
                f = figures[(name, auth)]
                s_auth = median(figures[("ssh", auth)]["wall"])
                w = median(f["wall"])
                self.target(f"{name}, {auth}: wall median {w:.1f} ms = {w / s_auth:.3f} x ssh's {s_auth:.1f} ms "
                            f"(at most 0.05 x)", w <= 0.05 * s_auth)
                if "sshd" in f:
                    self.target(f"{name}, {auth}: server CPU {f['sshd']:.2f} ms per check (at most 5 ms)",
                                f["sshd"] <= 5)
                if "logins" in f:
                    allowed = max(1, -(-f["n"] // 100))
                    self.target(f"{name}, {auth}: {f['logins']} logins in {f['n']} checks (at most one per 100 "
                                f"checks: {allowed})", f["logins"] <= allowed)
        pp = figures[(WINE, "pass-phrase key")]["cpu_mean"]
        plain = figures[(WINE, "key")]["cpu_mean"]
        ppn = figures[(NATIVE, "pass-phrase key")]["cpu_mean"]
        plainn = figures[(NATIVE, "key")]["cpu_mean"]
        self.target(f"(figure) the pass phrase's key derivation (bcrypt_pbkdf) per check: "
                    f"{pp - plain:.1f} ms CPU under Wine, {ppn - plainn:.1f} ms natively", None)

    # ------------------------------------------------------------ 2. wait cost

    def wait(self):
        rows = []
        for kind in ("native", "wine"):
            note(f"wait: {kind}")
            run = self.host(kind, "wait", f"{kind} wait", key=self.a.plain_key, password="", command="sleep 5",
                            timeout=30, cco="NCO", con="nothing", warmup=1)
            r = self.record(run, "wait")
            ws = self.wineserver_cpu_ms(run)
            share = r["cpu_ms"] / r["wall_ms"] * 100
            switches = r["after_voluntary_switches"] - r["before_voluntary_switches"]
            rows.append([kind, "UP" if r["up"] else "DOWN", f"{r['wall_ms'] / 1000:.2f}", f"{r['cpu_ms']:.1f}",
                         f"{share:.2f}", f"{ws:.0f}" if ws is not None else "",
                         f"{(r['cpu_ms'] + (ws or 0)) / r['wall_ms'] * 100:.2f}" if ws is not None else "",
                         f"{switches:.0f}" if switches >= 0 else ""])
            self.target(f"wait cost ({kind}): {share:.2f}% of one core while `sleep 5` runs", share < 2)
        self.table("Wait cost: one check on `sleep 5` (Ed25519 key, after a warm-up check)",
                   ["host", "verdict", "wall s", "process CPU ms", "% of one core", "wineserver CPU ms",
                    "% incl. wineserver", "voluntary context switches"], rows)

    # ------------------------------------------------------------ 3. throughput

    def throughput(self):
        size = self.a.output_bytes
        command = f"head -c {size} /dev/zero | tr '\\0' x; echo END-MARK"
        limit = 4 * 2 * size
        rows = []
        for kind in ("native", "wine"):
            note(f"throughput: {kind}")
            run = self.host(kind, "throughput", f"{kind} throughput", key=self.a.plain_key, password="",
                            command=command, timeout=300, con="END-MARK", warmup=1,
                            extra=["--bytes", str(size)])
            r = self.record(run, "throughput")
            rate = size / 1e6 / (r["wall_ms"] / 1000)
            ext = {s["point"]: s["host"] for s in run["syncs"]}
            ext_peak = ext.get("end", {}) or {}
            if kind == "native":
                peak = r["after_peak_rss"]
                figures = f"VmHWM {mib(peak)}"
            else:
                peak = max(r["after_peak_working_set"], r["after_peak_pagefile"], ext_peak.get("peak_rss", -1))
                figures = (f"PeakWorkingSetSize {mib(r['after_peak_working_set'])}, PeakPagefileUsage "
                           f"{mib(r['after_peak_pagefile'])}, VmHWM (from /proc) {mib(ext_peak.get('peak_rss', -1))}")
            before = r["before_rss"] if kind == "native" else r["before_working_set"]
            ws = self.wineserver_cpu_ms(run)
            server = self.sshd_cpu_ms(run)
            rows.append([kind, "UP" if r["up"] else "DOWN", f"{r['wall_ms'] / 1000:.2f}", f"{rate:.1f}",
                         f"{r['cpu_ms'] / 1000:.2f}", f"{ws / 1000:.2f}" if ws is not None else "",
                         f"{server / 1000:.2f}" if server is not None else "", mib(before), figures, mib(limit)])
            floor = 40 if kind == "wine" else 50
            self.target(f"throughput ({kind}): {rate:.1f} MB/s collected, at least {floor} MB/s",
                        rate >= floor and r["up"])
            self.target(f"peak memory ({kind}): {mib(peak)} MiB, under {mib(limit)} MiB "
                        f"(four times the output in UTF-16)", 0 <= peak < limit)
        self.table(f"Output throughput: a command printing {size / 1e6:.0f} MB (then END-MARK, which the "
                   f"check looks for)",
                   ["host", "verdict", "wall s", "MB/s", "process CPU s", "wineserver CPU s", "sshd CPU s",
                    "memory before MiB", "peak memory MiB", "limit MiB"], rows)

    # ------------------------------------------------------------ 4. soak

    def soak(self):
        n = self.a.soak
        for kind in ("native", "wine"):
            note(f"soak: {kind}, {n} checks")
            run = self.host(kind, "soak", f"{kind} soak", key=self.a.plain_key, password="", count=n,
                            bound=max(600, n * 3))
            samples = [r for r in run["records"] if r["kind"] == "soak-sample"]
            summary = self.record(run, "soak")
            ext = [s for s in run["syncs"] if s["point"] == "sample"]
            rows = []
            for i, s in enumerate(samples):
                e = ext[i]["host"] if i < len(ext) and ext[i]["host"] else {}
                if kind == "native":
                    rows.append([int(s["after"]), mib(s["rss"]), int(s["fds"]), int(s["threads"])])
                else:
                    w = ext[i]["wineserver"] if i < len(ext) and ext[i]["wineserver"] else {}
                    rows.append([int(s["after"]), mib(s["working_set"]), mib(s["pagefile"]),
                                 int(s["system_list_handles"]), int(s["handles"]), int(s["fresh_handle"]),
                                 mib(e.get("rss", -1)), e.get("fds", ""), e.get("threads", ""),
                                 mib(w.get("rss", -1)), w.get("fds", "")])
            if kind == "native":
                header = ["after checks", "RSS MiB", "open fds", "threads"]
                at100 = next(s for s in samples if s["after"] == 100) if n >= 100 else samples[0]
                end = samples[-1]
                growth = end["rss"] - at100["rss"]
                fd_growth = end["fds"] - at100["fds"]
                ok = abs(growth) <= 1048576 and fd_growth <= 0
                self.target(f"soak ({kind}): after check 100 -> {n}: RSS {growth / 1024:+.0f} KiB, fds "
                            f"{fd_growth:+.0f} (no growth beyond 1 MiB)", ok)
            else:
                header = ["after checks", "WorkingSet MiB", "PagefileUsage MiB", "handles (system list)",
                          "GetProcessHandleCount", "fresh handle value", "VmRSS MiB (/proc)", "fds (/proc)",
                          "threads (/proc)", "wineserver RSS MiB", "wineserver fds"]
                i100 = next(i for i, s in enumerate(samples) if s["after"] == 100) if n >= 100 else 0
                a, b = samples[i100], samples[-1]
                ea = ext[i100]["host"] if ext[i100]["host"] else {}
                eb = ext[-1]["host"] if ext[-1]["host"] else {}
                growth = b["pagefile"] - a["pagefile"]
                ws_growth = b["working_set"] - a["working_set"]
                rss_growth = eb.get("rss", 0) - ea.get("rss", 0)
                h_growth = b["system_list_handles"] - a["system_list_handles"]
                fd_growth = eb.get("fds", 0) - ea.get("fds", 0)
                ok = max(growth, ws_growth, rss_growth) <= 1048576 and h_growth <= 0 and fd_growth <= 0
                self.target(f"soak ({kind}): after check 100 -> {n}: PagefileUsage {growth / 1024:+.0f} KiB, "
                            f"WorkingSet {ws_growth / 1024:+.0f} KiB, VmRSS {rss_growth / 1024:+.0f} KiB, "
                            f"handles {h_growth:+.0f}, fds {fd_growth:+.0f}", ok)
            self.table(f"Soak ({kind}): {n} checks in one process, {int(summary['up'])} UP, "
                       f"median {summary['wall_median_ms']:.1f} ms per check", header, rows,
                       [f"first DOWN result: {summary['first_down']}"] if summary["first_down"] else [])

    # ------------------------------------------------------------ 5. concurrency

    def concurrency(self):
        rows = []
        for kind, reuse in (("native", 0), ("wine", 0), ("native", self.a.reuse_seconds),
                            ("wine", self.a.reuse_seconds)):
            label = f"{kind}" + (", kept connections" if reuse else "")
            note(f"concurrency: {label}")
            run = self.host(kind, "concurrency", f"{kind} concurrency" + (" kept" if reuse else ""),
                            key=self.a.plain_key, password="", count=self.a.per_thread,
                            extra=["--threads", str(self.a.threads)], timeout=30, reuse=reuse,
                            object_per_check=bool(reuse))
            r = self.record(run, "concurrency")
            total = int(r["threads"] * r["per_thread"])
            logins = self.logins_between(run)
            server = self.sshd_cpu_ms(run)
            rows.append([label, int(r["threads"]), total, int(r["up"]), int(r["down"]), int(r["foreign"]),
                         int(r["missing_own"]), f"{r['checks_per_second']:.1f}", f"{r['wall_median_ms']:.0f}",
                         f"{r['total_wall_ms'] / 1000:.1f}", f"{r['total_cpu_ms'] / total:.1f}",
                         f"{server / total:.1f}" if server is not None else "",
                         "" if logins is None else str(logins)])
            if r["first_problem"]:
                note(f"concurrency {label}: {r['first_problem'][:300]}")
            self.target(f"concurrency ({label}): {int(r['foreign'])} results with another thread's marker, "
                        f"{int(r['missing_own'])} without their own, {int(r['down'])} DOWN of {total}"
                        + (f", {logins} logins" if reuse and logins is not None else ""),
                        r["foreign"] == 0 and r["missing_own"] == 0 and r["down"] == 0)
        self.table(f"Concurrency: {self.a.threads} threads, each with its own object (Wine: its own STA), "
                   f"{self.a.per_thread} checks each, Ed25519 key",
                   ["host", "threads", "checks", "UP", "DOWN", "foreign marker", "own marker missing",
                    "checks/s", "median ms/check", "wall s", "process CPU ms/check", "server CPU ms/check",
                    "logins"], rows,
                   [f"kept connections: REUSE={self.a.reuse_seconds} and a new object for each check; the "
                    "process's pool gives each check running at once a connection of its own.",
                    "server CPU: as in the speed table (kept connections: ended and running sessions)."])

    # ------------------------------------------------------------ 5a. what one core sustains

    def one_core(self):
        """The native host held to one CPU (taskset), its threads checking at once, fresh and on
        kept connections: the checks per second measured, and the checks per second that the
        process's own CPU time per check would allow one core (the server shares the machine, so
        the measured rate is often the server's limit, not the client's)."""
        rows = []
        for reuse in (0, self.a.reuse_seconds):
            label = "kept connections" if reuse else "fresh logins"
            note(f"one-core: {label}")
            run = self.host("native", "concurrency", f"one core {label}", key=self.a.plain_key, password="",
                            count=self.a.per_thread, extra=["--threads", str(self.a.threads)], timeout=30,
                            reuse=reuse, object_per_check=bool(reuse), prefix=["taskset", "-c", "0"])
            r = self.record(run, "concurrency")
            total = int(r["threads"] * r["per_thread"])
            cpu = r["total_cpu_ms"] / total
            server = self.sshd_cpu_ms(run)
            rows.append([label, total, int(r["up"]), f"{r['checks_per_second']:.1f}", f"{cpu:.2f}",
                         f"{1000 / cpu:.0f}" if cpu > 0 else "",
                         f"{server / total:.1f}" if server is not None else ""])
            self.target(f"one core, {label}: {r['checks_per_second']:.1f} checks/s measured, "
                        f"{1000 / cpu:.0f} checks/s of client CPU", None)
        self.table(f"One core: the native host pinned to CPU 0, {self.a.threads} threads, Ed25519 key",
                   ["checks", "count", "UP", "checks/s measured", "process CPU ms/check",
                    "checks/s one core's CPU allows", "server CPU ms/check"], rows,
                   ["the test sshd runs on the same machine and is not pinned: with fresh logins its key "
                    "exchanges and logins usually set the measured rate."])

    # ------------------------------------------------------------ 5b. kept connections under faults

    def kept_faults(self):
        rows = []
        n, every = self.a.reuse_checks, self.a.kill_every
        connection = re.compile(r"connection|connect|closed|socket|reset|lost|timed out|channel|disconnect", re.I)
        for kind in ("native", "wine"):
            note(f"kept connections under faults: {kind}")
            run = self.host(kind, "kill-series", f"{kind} kept faults", key=self.a.plain_key, password="",
                            count=n, timeout=10, reuse=self.a.reuse_seconds, object_per_check=True,
                            kill_every=every, bound=600)
            r = self.record(run, "kill-series")
            texts = [t for t in r["down_texts"].split("\n") if t]
            odd = [t for t in texts if not connection.search(t.split(": ", 1)[-1])]
            wrong = int(r["wrong_up"]) + int(r["down_foreign"]) + len(odd)
            logins = self.logins_between(run)
            # The checks that can meet a killed session: the one after each kill point and the next.
            after_kill = [w for i, w in enumerate(r["wall_ms"]) if i >= every and i % every in (0, 1)] or [0]
            kinds = {}
            for t in texts:
                text = re.sub(r"\d+", "N", t.split(": ", 1)[-1])[:160]
                kinds[text] = kinds.get(text, 0) + 1
            rows.append([kind, int(r["count"]), int(r["kills"]), run["kills"]["processes"], int(r["up"]),
                         int(r["down"]), int(r["wrong_up"]), int(r["down_foreign"]) + len(odd), wrong,
                         "" if logins is None else str(logins), f"{median(r['wall_ms']):.1f}",
                         f"{p90(r['wall_ms']):.1f}", f"{r['wall_ms'][0]:.0f}", f"{max(after_kill):.0f}"])
            for text, count in sorted(kinds.items(), key=lambda kv: -kv[1]):
                note(f"kept faults {kind}: {count} x DOWN {text}")
            self.kept_fault_texts = getattr(self, "kept_fault_texts", []) + [
                f"{kind}: {count} x DOWN \"{text}\"" for text, count in sorted(kinds.items(), key=lambda kv: -kv[1])]
            self.target(f"kept connections under faults ({kind}): {wrong} wrong results of {int(r['count'])} "
                        f"({int(r['down'])} DOWN, {int(r['kills'])} kills, {logins} logins)", wrong == 0)
        self.table(f"Kept connections under faults: {n} checks (REUSE={self.a.reuse_seconds}, a new object per "
                   f"check, Ed25519 key); the server's sessions killed before every {every}th check",
                   ["host", "checks", "kill points", "sshd processes killed", "UP", "DOWN",
                    "wrong UP", "wrong DOWN", "wrong results", "logins", "wall median ms", "wall p90 ms",
                    "first check ms (login)", "slowest check after a kill ms"], rows,
                   ["kill: SIGKILL to the test account's `sshd: tavrintest...` processes below the bench's own "
                    "sshd on 127.0.0.1; at every other kill point at once (the kept session dies while idle), "
                    "otherwise after a random 0-30 ms (it may die while a check runs).",
                    "each check prints its own marker; a wrong UP lacks it or carries another check's; a wrong "
                    "DOWN carries another check's output or a text that does not name the connection."]
                   + getattr(self, "kept_fault_texts", []))

    # ------------------------------------------------------------ 5c. many idle kept connections

    def kept_idle(self):
        n, idle = self.a.idle_links, self.a.idle_seconds
        pins = ",".join(self.env[k] for k in ("HOSTKEY_ED25519_SHA256", "HOSTKEY_ECDSA_SHA256",
                                              "HOSTKEY_RSA_SHA256") if self.env.get(k))
        dropper = Dropper(self.port)
        if not dropper.usable():
            self.table("Idle kept connections", ["skipped"], [["iptables cannot add rules here"]])
            return
        note(f"kept-idle: {n} kept connections, {idle} s idle, then dropped on the way")
        try:
            run = self.host("native", "kept-idle", "native kept idle", key=self.a.plain_key, password="",
                            count=n, warmup=1, timeout=10, reuse=3600, bound=idle + n + 300,
                            extra=["--pins", pins, "--idle-seconds", str(idle)],
                            hooks={"drop": lambda p: dropper.drop(p.pid), "end": lambda p: dropper.lift()})
        finally:
            dropper.lift()
        r = self.record(run, "kept-idle")
        per_link_kib = (r["kept_rss"] - r["before_rss"]) / n / 1024
        fds = int(r["kept_fds"] - r["before_fds"])
        cpu_per_min = r["idle_cpu_ms"] * 60000 / r["idle_wall_ms"]
        times = self.at_syncs(run, "time", "kept", "idle-end")
        sshd_idle = self.sshd_cpu_ms(run, "kept", "idle-end")
        sshd_per_min = None if sshd_idle is None or not times else sshd_idle * 60 / (times[1] - times[0])
        sent, answered, discarded = (b - a for a, b in zip(r["probes_before"], r["probes_idle_end"]))
        after = [b - a for a, b in zip(r["probes_idle_end"], r["probes_drop_end"])]
        logins_kept = self.logins_between(run, "start", "kept")
        logins_drop = self.logins_between(run, "drop", "end")
        closed = r["closed_after_ms"] / 1000
        row = ["native", f"{int(r['up'])}/{n}", "" if logins_kept is None else logins_kept,
               int(r["kept_after"]), f"{mib(r['before_rss'])} -> {mib(r['kept_rss'])}", f"{per_link_kib:.1f}",
               fds, f"{cpu_per_min:.1f}", "" if sshd_per_min is None else f"{sshd_per_min:.1f}",
               f"{sent:.0f} / {answered:.0f} / {discarded:.0f}",
               f"{'UP' if r['first_up'] else 'DOWN'} {r['first_wall_ms']:.0f}",
               f"{closed:.1f}" if closed >= 0 else "not within the bound",
               f"{after[2]:.0f}", f"{'UP' if r['later_up'] else 'DOWN'} {r['later_wall_ms']:.0f}",
               "" if logins_drop is None else logins_drop]
        self.table(f"Idle kept connections: {n} logins of their own kept in one process, {idle} s idle, "
                   "then dropped on the way",
                   ["host", "kept", "logins", "in pool", "RSS MiB", "KiB per kept connection", "fds added",
                    "process CPU ms per idle minute", "sshd CPU ms per idle minute",
                    "probes in the idle time (sent / answered / discarded)",
                    "first check after the drop ms", "dead connections closed after s",
                    "closed by probes", "next check ms", "logins after the drop"], [row],
                   [f"each connection's login is its own: the parameter pins the server's real host keys "
                    f"and one pin of its own (HFP), so each has its own pool key ({n} keys, one connection each); "
                    "Ed25519 key, `echo ok`, REUSE=3600.",
                    "RSS: VmRSS of the process after one fresh check (libraries loaded) and after the "
                    f"{n} kept logins; per kept connection: the difference / {n}.",
                    "idle: the process does nothing but keep them; its reaper probes each one that has been "
                    "quiet for the probe interval. Process CPU from CLOCK_PROCESS_CPUTIME_ID; sshd CPU: all of "
                    "the listener's sessions.",
                    f"drop: iptables DROP rules in INPUT on lo for the {r.get('kept_at_drop', n):.0f} connections "
                    "the process had to the sshd port (both ways, by client port); new connections pass. The first "
                    "check takes its own kept connection, which no longer answers, then logs in afresh. "
                    "\"closed after\": from the drop until the pool held only that check's new connection; the "
                    "next check (another login's) then finds no dead connection. The rules are removed at the end."])
        self.target(f"kept-idle: {per_link_kib:.1f} KiB per kept connection ({n} kept, {fds} descriptors)", None)
        self.target(f"kept-idle: {cpu_per_min:.1f} ms of process CPU per idle minute with {n} kept connections "
                    f"({sent:.0f} probes)", None)
        self.target(f"kept-idle: first check after the silent drop UP in {r['first_wall_ms']:.0f} ms "
                    "(at most about 1 s for the dead kept connection, then a fresh login)",
                    bool(r["first_up"]) and r["first_wall_ms"] <= 2000)
        self.target(f"kept-idle: the other {n - 1} dead connections closed by the reaper's probes after "
                    f"{closed:.1f} s", closed >= 0)

    # ------------------------------------------------------------ 6. faults

    def faults(self):
        t = self.a.fault_timeout
        servers = FaultServers()
        dns = DnsStub()
        loopback_dns = dns.resolver_is_loopback()
        cases = [
            ("silent server", dict(port=servers.port("silent"))),
            ("closing server", dict(port=servers.port("close"))),
            ("stall after banner", dict(port=servers.port("banner"))),
            ("command outliving its time-out", dict(command="sleep 60")),
            ("endless output", dict(command="yes")),
            ("refused connection", dict(port=closed_port())),
            ("unknown host", dict(host="no-such-host.invalid")),
            ("changed host key", dict(known_hosts=self.a.changed_known_hosts_dir)),
            ("wrong password", dict(key=None, password="not-the-password")),
            ("wrong pass phrase", dict(key=self.a.pp_key, password="not the pass phrase")),
        ]
        rows = []
        try:
            for name, case in cases:
                for kind in ("native", "wine"):
                    if name == "unknown host" and not loopback_dns:
                        rows.append([name, kind, "skipped: the resolver is not on loopback", "", "", ""])
                        continue
                    settle_server(self.sshd_pid)
                    options = dict(key=self.a.plain_key, password="", command="echo ok", timeout=t)
                    options.update(case)
                    note(f"fault: {name}, {kind}")
                    run = self.host(kind, "once", f"{kind} {name}", bound=t + 30, **options)
                    r = self.record(run, "once")
                    now, left, waited = settle_server(self.sshd_pid)
                    wall = r["wall_ms"] / 1000
                    within = wall <= t + 1.0
                    rows.append([name, kind, ("UP " if r["up"] else "DOWN ") + r["result"][:220],
                                 f"{wall:.2f} / {t}", f"{now} -> {left}" + (f" ({waited:.1f} s)" if now else ""),
                                 "yes" if within else "NO"])
                    self.target(f"fault '{name}' ({kind}): DOWN in {wall:.2f} s (time-out {t} s), "
                                f"{left} server processes left", (not r["up"]) and within and left == 0)
        finally:
            servers.stop()
            dns.stop()
        self.table(f"Faults (time-out {t} s, Ed25519 key unless the case says otherwise)",
                   ["case", "host", "result", "wall s / time-out s", "server processes (after -> settled)",
                    "within time-out + 1 s"], rows,
                   ["server processes: the test account's processes below the bench's sshd, right after the "
                    "check returned, and after they had up to 5 s to end.",
                    "unknown host: the bench runs in a mount namespace whose resolver is a stub on "
                    "127.0.0.1:53 that answers NXDOMAIN, so the lookup stays on this machine."])

    # ------------------------------------------------------------ all

    def run(self, sections):
        log(f"bench: {machine()}")
        log(f"bench: load average at the start: {loadavg()}")
        started = time.monotonic()
        for name in sections:
            getattr(self, name.replace("-", "_"))()
        log("")
        log("== Targets")
        lines = []
        for text, met in self.targets:
            mark = "figure" if met is None else ("met" if met else "MISSED")
            log(f"  [{mark}] {text}")
            lines.append(f"- **{mark}**: {text}")
        log(f"bench: {time.monotonic() - started:.0f} s; load average at the end: {loadavg()}")
        with open(self.a.results, "w") as f:
            f.write(f"Machine: {machine()}\n\nLoad average at the end: {loadavg()}\n\n")
            f.write("\n\n".join(self.results) + "\n\n### Targets\n\n" + "\n".join(lines) + "\n")
        log(f"bench: tables also in {self.a.results}")


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem = int(f.readline().split()[1]) // 1024
    return f"{os.cpu_count()} CPUs ({model}), {mem} MiB memory, {platform.platform()}"


# ---------------------------------------------------------------- fault servers

def free_port():
    """A free TCP port below 32768 (the check keeps its port in a 16-bit signed integer)."""
    for port in range(20000 + os.getpid() % 9000, 32000):
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port")


def closed_port():
    return free_port()


class Dropper:
    """Makes the packets of a process's TCP connections to one port on 127.0.0.1 vanish both
    ways, as a NAT or firewall on the way that forgot them: iptables DROP rules in INPUT on lo,
    by client port (15 to a rule). New connections pass. lift() removes every rule it added;
    each carries the comment $TAVRIN_BENCH_DROP_TAG (run.sh: "tavrin-bench-PID"; else
    "tavrin-bench"), so that `iptables -S INPUT` shows leftovers."""

    def __init__(self, port):
        # run.sh names its run's rules, so that its clean-up removes what a stopped run left.
        self.comment = os.environ.get("TAVRIN_BENCH_DROP_TAG", "tavrin-bench")
        self.port = port
        self.rules = []
        self.dropped = 0

    @staticmethod
    def usable():
        return subprocess.run(["iptables", "-w", "-S", "INPUT"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0

    @staticmethod
    def client_ports(pid, port):
        """The local ports of the process's established TCP connections to `port`."""
        inodes = set()
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
        ports = []
        with open("/proc/net/tcp") as f:
            next(f)
            for line in f:
                fields = line.split()
                local, remote, state, inode = fields[1], fields[2], fields[3], fields[9]
                if inode in inodes and state == "01" and int(remote.split(":")[1], 16) == port:
                    ports.append(int(local.split(":")[1], 16))
        return sorted(ports)

    def drop(self, pid):
        ports = self.client_ports(pid, self.port)
        for i in range(0, len(ports), 15):
            chunk = ",".join(map(str, ports[i:i + 15]))
            for match in (["--sport", str(self.port), "-m", "multiport", "--dports", chunk],
                          ["--dport", str(self.port), "-m", "multiport", "--sports", chunk]):
                rule = ["INPUT", "-i", "lo", "-p", "tcp"] + match + \
                       ["-m", "comment", "--comment", self.comment, "-j", "DROP"]
                subprocess.run(["iptables", "-w", "-I"] + rule, check=True)
                self.rules.append(rule)
        self.dropped = len(ports)
        note(f"kept-idle: dropping the packets of {len(ports)} connections")

    def lift(self):
        while self.rules:
            rule = self.rules.pop()
            if subprocess.run(["iptables", "-w", "-D"] + rule).returncode != 0:
                note(f"iptables rule not removed: {' '.join(rule)}")


class FaultServers:
    """TCP servers on 127.0.0.1 that misbehave: silent (accepts, says nothing), close (accepts
    and closes at once), banner (sends an SSH banner, then nothing). They stop with stop()."""

    BANNER = b"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n"

    def __init__(self):
        self.stopping = threading.Event()
        self.listeners = {}
        self.threads = []
        for mode in ("silent", "close", "banner"):
            for _ in range(20):
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                try:
                    s.bind(("127.0.0.1", free_port()))
                    break
                except OSError:
                    s.close()
            s.listen(16)
            self.listeners[mode] = s
            t = threading.Thread(target=self.serve, args=(mode, s), daemon=True)
            t.start()
            self.threads.append(t)

    def port(self, mode):
        return self.listeners[mode].getsockname()[1]

    def serve(self, mode, listener):
        held = []
        deadline = time.monotonic() + 3600
        while not self.stopping.is_set() and time.monotonic() < deadline:
            ready, _, _ = select.select([listener], [], [], 0.2)
            if not ready:
                continue
            conn, _ = listener.accept()
            if mode == "close":
                conn.close()
                continue
            if mode == "banner":
                conn.sendall(self.BANNER)
            held.append(conn)
        for conn in held:
            conn.close()
        listener.close()

    def stop(self):
        self.stopping.set()
        for t in self.threads:
            t.join(timeout=5)


class DnsStub:
    """Answers every query on 127.0.0.1:53 with NXDOMAIN, for the unknown-host case."""

    def __init__(self):
        self.stopping = threading.Event()
        self.sock = None
        try:
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.sock.bind(("127.0.0.1", 53))
        except OSError as e:
            note(f"DNS stub: 127.0.0.1:53 is taken ({e}); lookups there are answered by whoever holds it")
            self.sock = None
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    @staticmethod
    def resolver_is_loopback():
        servers = []
        with open("/etc/resolv.conf") as f:
            for line in f:
                parts = line.split()
                if len(parts) >= 2 and parts[0] == "nameserver":
                    servers.append(parts[1])
        return bool(servers) and all(s.startswith("127.") or s == "::1" for s in servers)

    def serve(self):
        deadline = time.monotonic() + 3600
        while self.sock and not self.stopping.is_set() and time.monotonic() < deadline:
            ready, _, _ = select.select([self.sock], [], [], 0.2)
            if not ready:
                continue
            query, peer = self.sock.recvfrom(4096)
            if len(query) < 12:
                continue
            # The query's id and question, flags: response, recursion available, NXDOMAIN.
            flags = 0x8000 | (int.from_bytes(query[2:4], "big") & 0x0100) | 0x0080 | 3
            answer = query[:2] + flags.to_bytes(2, "big") + query[4:6] + b"\0\0\0\0\0\0" + query[12:]
            self.sock.sendto(answer, peer)

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=5)
        if self.sock:
            self.sock.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--fixture-env", required=True)
    ap.add_argument("--sshd-pidfile", required=True)
    ap.add_argument("--native-host", required=True)
    ap.add_argument("--com-host", required=True)
    ap.add_argument("--tavrin-check", required=True)
    ap.add_argument("--wine-loader", default="/usr/lib/wine/wine64")
    ap.add_argument("--wineprefix", required=True)
    ap.add_argument("--wineserver-pid", type=int, default=0)
    ap.add_argument("--plain-key", required=True)
    ap.add_argument("--pp-key", required=True)
    ap.add_argument("--askpass", required=True)
    ap.add_argument("--known-hosts-dir", required=True)
    ap.add_argument("--changed-known-hosts-dir", required=True)
    ap.add_argument("--results", required=True)
    ap.add_argument("--checks", type=int, default=30)
    ap.add_argument("--warmup", type=int, default=3)
    ap.add_argument("--soak", type=int, default=1000)
    ap.add_argument("--threads", type=int, default=8)
    ap.add_argument("--per-thread", type=int, default=50)
    ap.add_argument("--output-bytes", type=int, default=50_000_000)
    ap.add_argument("--fault-timeout", type=int, default=5)
    ap.add_argument("--sshd-log", default="")
    ap.add_argument("--reuse-checks", type=int, default=100)
    ap.add_argument("--reuse-seconds", type=int, default=60)
    ap.add_argument("--kill-every", type=int, default=20)
    ap.add_argument("--idle-links", type=int, default=200)
    ap.add_argument("--idle-seconds", type=int, default=60)
    ap.add_argument("--sections",
                    default="speed,wait,throughput,soak,concurrency,one-core,faults,kept-faults,kept-idle")
    a = ap.parse_args()
    sections = [s for s in a.sections.split(",") if s]
    known = {"speed", "wait", "throughput", "soak", "concurrency", "one-core", "faults", "kept-faults", "kept-idle"}
    if not set(sections) <= known:
        ap.error(f"sections are {', '.join(sorted(known))}")
    Bench(a).run(sections)


if __name__ == "__main__":
    main()
