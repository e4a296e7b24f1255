#!/usr/bin/env python3
"""The Debian package on a clean Debian booted with systemd, run as a station
runs it:

1. builds h2mon_<version>_amd64.deb from a copy of the source tree with
   dpkg-buildpackage and runs lintian on it; makes its upgrade, the same
   package with only the version raised (and its files newer);
2. makes a clean bookworm root with mmdebstrap (minbase, systemd, dbus) from
   this machine's apt sources, installs the package there with logrotate but
   without prometheus-node-exporter (whose packages wait in the root for
   later), and boots it with systemd-nspawn (its own network namespace:
   nothing it serves is reachable from outside);
3. inside, h2sim plays each maser on a pseudo-terminal (a transient unit),
   /etc/h2mon/NAME.conf names it, and `systemctl enable --now h2mon@east
   h2export`, as the README says. Then, in turn:
   - without node_exporter's folder h2export runs (and never fails); the
     journal has h2mon's header but no record;
   - prometheus-node-exporter installed: h2export is restarted by the
     package's trigger and node_exporter serves maser_up 1 and the log's last
     row; another collector's apt.prom (and a maser log named apt.csv) stay;
   - the upgrade: h2mon@east, h2export and the report timer run again, on the
     new programs, with the units reloaded, an edited conffile kept without a
     prompt, and node_exporter's last-record time advancing again;
   - apt remove, then install again: recording and export resume without a
     reboot;
   - the adapter pulled (h2sim stopped): a few journal lines over the whole
     stretch, not a restart every few seconds; recording resumes within 10 s
     of its return;
   - two masers at some ten records a second and 100 forced rotations at random
     moments: every record h2mon printed (its journal, with
     JOURNAL_RECORDS=yes) is in exactly one of the logs and rotated logs, and
     h2export --influx (a second h2export, writing to a file) writes each
     exactly once;
   - `systemctl stop h2mon@east` ends it with exit code 0; the report page is
     valid HTML;
4. `apt purge h2mon` leaves none of the package's files behind, and the other
   collector's apt.prom.

The container is powered off and every temporary folder removed whatever
happens: on success, on a failed check, on SIGTERM or SIGINT.

usage: package_test.py --source DIR [--sources FILE] [--keep]
"""

import argparse
import collections
import glob
import gzip
import itertools
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

RECORD_INTERVAL_MS = 1000
# During the rotations: a record every tenth of a second or so, so that rows
# are written at many more of the rotations' moments.
ROTATION_INTERVAL_MS = 100
# Longest wait for any one step. maser_up drops to 0 after h2export's
# --stale-after, by default 30 s for a log written every second.
STEP_TIMEOUT_S = 60
MJD_OF_UNIX_EPOCH = 40587
# A pseudo-terminal is no serial device: this test's drop-in lets the
# loggers open one.
PTY_DROP_IN_DIR = "/etc/systemd/system/h2mon@.service.d"
PTY_DROP_IN = "[Service]\nDeviceAllow=char-pts rw\n"
TEXTFILE_DIR = "/var/lib/prometheus/node-exporter"
LATER_DEBS = "/root/later"
# Another collector's file in node_exporter's folder, and a maser that shares
# its name.
OTHER_COLLECTOR_FILE = f"{TEXTFILE_DIR}/apt.prom"
OTHER_COLLECTOR_TEXT = "# HELP apt_upgrades_pending Apt packages pending updates.\n" \
                       "apt_upgrades_pending 0\n"
ROTATIONS = 100
# The adapter away: the journal lines of the maser's unit over this stretch.
PULLED_STRETCH_S = 40
PULLED_MAX_LINES = 12
RESUME_LIMIT_S = 10


class PackageFailure(Exception):
    pass


def log(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def run(args, **kwargs):
    """Runs a command, its output shown on failure; returns its standard output."""
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise PackageFailure(
            f"{' '.join(args)} ended with {result.returncode}:\n{result.stdout}{result.stderr}"
        )
    return result.stdout


def wait_until(what, probe, timeout=STEP_TIMEOUT_S, every=0.5):
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result is not None:
            return result
        if time.monotonic() > deadline:
            raise PackageFailure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(every)


def build_package(source, work):
    """dpkg-buildpackage in a copy of the tree (its results land beside it)."""
    tree = os.path.join(work, "h2mon")
    files = subprocess.run(
        ["git", "-C", source, "ls-files", "-co", "--exclude-standard", "-z"],
        capture_output=True,
        check=True,
    ).stdout.split(b"\0")
    for name in filter(None, files):
        path = os.path.join(source, name.decode())
        if os.path.isfile(path):
            target = os.path.join(tree, name.decode())
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(path, target)
    env = dict(os.environ, DEB_BUILD_OPTIONS="parallel=2 noddebs")
    run(["dpkg-buildpackage", "-us", "-uc", "-b"], cwd=tree, env=env)
    debs = glob.glob(os.path.join(work, "h2mon_*_amd64.deb"))
    if len(debs) != 1:
        raise PackageFailure(f"expected one h2mon_<version>_amd64.deb, found {debs}")
    return debs[0]


def make_upgrade(deb, work):
    """The same package with only its version raised, as a rebuild from a newer
    changelog entry would be: every file newer too, so systemd sees changed
    units until it reloads them."""
    tree = os.path.join(work, "upgrade")
    run(["dpkg-deb", "-R", deb, tree])
    control = os.path.join(tree, "DEBIAN", "control")
    with open(control) as f:
        text = f.read()
    version = re.search(r"^Version: (\S+)$", text, re.M).group(1) + "+upgrade1"
    with open(control, "w") as f:
        f.write(re.sub(r"^Version: \S+$", f"Version: {version}", text, flags=re.M))
    now = time.time()
    for folder, _, names in os.walk(tree):
        if os.path.basename(folder) != "DEBIAN":
            for name in names:
                os.utime(os.path.join(folder, name), (now, now), follow_symlinks=False)
    upgrade = os.path.join(work, f"h2mon_{version}_amd64.deb")
    run(["dpkg-deb", "--build", tree, upgrade])
    return upgrade, version


def debian_sources():
    """The machine's own apt sources for Debian, as a file mmdebstrap takes."""
    for path in ["/etc/apt/sources.list.d/debian.sources", "/etc/apt/sources.list"]:
        if os.path.exists(path):
            return path
    raise PackageFailure("no Debian apt sources on this machine (give --sources)")


def make_root(root, debs, sources):
    """The package with logrotate (recommended), not node_exporter: its packages
    are fetched into LATER_DEBS to be installed on the booted system."""
    hooks = [f"copy-in {' '.join(debs)} /root",
             'chroot "$1" apt-get install -y --no-install-recommends '
             f"/root/{os.path.basename(debs[0])} logrotate",
             'chroot "$1" apt-get clean',
             'chroot "$1" apt-get install -y --no-install-recommends --download-only '
             "prometheus-node-exporter",
             f'mkdir "$1"{LATER_DEBS} && mv "$1"/var/cache/apt/archives/*.deb "$1"{LATER_DEBS}',
             f'rm "$1"/root/{os.path.basename(debs[0])}']
    args = ["mmdebstrap", "--variant=minbase", "--include=systemd,systemd-sysv,dbus"]
    for hook in hooks:
        args.append(f"--customize-hook={hook}")
    run(args + ["bookworm", root, sources])


class Container:
    """A root booted by systemd-nspawn; commands run inside through nsenter."""

    def __init__(self, root, log_path):
        self.root = root
        self.log_path = log_path
        self.nspawn = None
        self.init_pid = None

    def boot(self):
        log_file = open(self.log_path, "wb")
        # No machined here: no registration, and the container stays in this
        # process's cgroup.
        self.nspawn = subprocess.Popen(
            ["setpriv", "--pdeathsig", "KILL", "--",
             "systemd-nspawn", "--boot", "--directory", self.root, "--private-network",
             "--register=no", "--keep-unit", "--console=passive",
             "--machine", f"h2mon-test-{os.getpid()}"],
            stdin=subprocess.DEVNULL, stdout=log_file, stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        log_file.close()
        self.init_pid = wait_until("the container's init", self._find_init)
        state = wait_until("the container to finish booting", self._booted, timeout=90)
        if state != "running":
            failed = self.run(["systemctl", "--failed", "--no-legend"], check=False)
            raise PackageFailure(f"the container booted {state}: {failed}")

    def _find_init(self):
        if self.nspawn.poll() is not None:
            raise PackageFailure(f"systemd-nspawn ended: {open(self.log_path).read()}")
        for status in glob.glob("/proc/[0-9]*/status"):
            try:
                text = open(status).read()
            except OSError:
                continue
            ppid = re.search(r"^PPid:\s+(\d+)", text, re.M)
            nspid = re.search(r"^NSpid:\s+(\d+)\s+1$", text, re.M)
            if ppid and nspid and int(ppid.group(1)) == self.nspawn.pid:
                return int(nspid.group(1))
        return None

    def _booted(self):
        state = self.run(["systemctl", "is-system-running"], check=False).strip()
        return state if state in ("running", "degraded") else None

    def run(self, args, check=True, namespaces=("-a",), timeout=STEP_TIMEOUT_S):
        result = subprocess.run(
            ["nsenter", "-t", str(self.init_pid), *namespaces, "--", *args],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout,
        )
        if check and result.returncode != 0:
            raise PackageFailure(
                f"in the container, {' '.join(args)} ended with {result.returncode}:\n"
                f"{result.stdout}{result.stderr}")
        return result.stdout

    def succeeds(self, args):
        return subprocess.run(["nsenter", "-t", str(self.init_pid), "-a", "--", *args],
                              capture_output=True, timeout=STEP_TIMEOUT_S).returncode == 0

    def path(self, inside):
        return os.path.join(self.root, inside.lstrip("/"))

    def write(self, inside, text):
        os.makedirs(os.path.dirname(self.path(inside)), exist_ok=True)
        with open(self.path(inside), "w") as f:
            f.write(text)

    def read(self, inside):
        with open(self.path(inside)) as f:
            return f.read()

    def metrics(self):
        """node_exporter's page, fetched in the container's network namespace."""
        fetch = ("import sys, urllib.request; sys.stdout.write(urllib.request.urlopen("
                 "'http://127.0.0.1:9100/metrics', timeout=2).read().decode())")
        try:
            return self.run([sys.executable, "-c", fetch], namespaces=("-n",))
        except PackageFailure:
            return None

    def unit(self, name, *properties):
        text = self.run(["systemctl", "show", name, *[f"--property={p}" for p in properties]])
        return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)

    def journal(self, unit, after_cursor=None):
        """The unit's journal lines (after the cursor) and the cursor at their end."""
        args = ["journalctl", "-u", unit, "-o", "cat", "--no-pager", "--show-cursor"]
        if after_cursor:
            args.append(f"--after-cursor={after_cursor}")
        lines = self.run(args).splitlines()
        cursor = after_cursor
        if lines and lines[-1].startswith("-- cursor: "):
            cursor = lines.pop()[len("-- cursor: "):]
        return lines, cursor

    def power_off(self):
        """Powers the container off in order, or kills it after 30 s."""
        if self.nspawn is None or self.nspawn.poll() is not None:
            return
        if self.init_pid:
            self.run(["systemctl", "poweroff"], check=False)
        try:
            self.nspawn.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.killpg(self.nspawn.pid, signal.SIGKILL)
            self.nspawn.wait()


def metric(page, name, labels):
    pattern = re.escape(name + "{" + labels) + r"[^}]*\} (\S+)$"
    match = re.search(pattern, page or "", re.M)
    return float(match.group(1)) if match else None


def unix_seconds(mjd_text):
    return (float(mjd_text) - MJD_OF_UNIX_EPOCH) * 86400


class Maser:
    """A maser of the station: h2sim on a pseudo-terminal as its line, its
    configuration and its log."""

    def __init__(self, container, name, mode_string=""):
        self.container = container
        self.name = name
        self.port = f"/run/h2sim-{name}/line"
        # A Windows mode string after the port, as the settings may give one.
        self.mode_string = mode_string
        self.log = f"/var/log/h2mon/{name}.csv"
        self.unit = f"h2mon@{name}"

    # Each h2sim run its own seed: its frames (hence the log's rows) are like
    # no other run's.
    seeds = itertools.count(1)

    def plug_in(self):
        self.container.run(["systemd-run", "--unit", f"h2sim-{self.name}",
                            "--property=User=h2mon", f"--property=RuntimeDirectory=h2sim-{self.name}",
                            "/usr/bin/h2sim", "--link", self.port, "--seed", str(next(Maser.seeds))])
        # /run is the container's own tmpfs: looked at from inside.
        wait_until(f"h2sim's line for {self.name}", lambda: True if self.container.succeeds(
            ["test", "-L", self.port]) else None)

    def pull_out(self):
        self.container.run(["systemctl", "stop", f"h2sim-{self.name}"])

    def configure(self, interval_ms=RECORD_INTERVAL_MS, journal_records=False):
        text = f"PORT={self.port}{self.mode_string}\nINTERVAL_MS={interval_ms}\n"
        if journal_records:
            text += "JOURNAL_RECORDS=yes\n"
        self.container.write(f"/etc/h2mon/{self.name}.conf", text)

    def rows(self):
        """The log's complete rows (none when it is missing)."""
        try:
            text = self.container.read(self.log)
        except FileNotFoundError:
            return []
        return [line.split(",") for line in text.split("\n")[:-1]]

    def wait_for_row_after(self, unix_time, timeout=STEP_TIMEOUT_S):
        def newer():
            rows = self.rows()
            return rows[-1] if rows and unix_seconds(rows[-1][0]) > unix_time else None
        return wait_until(f"a record of {self.name} after {unix_time:.1f}", newer, timeout)

    def last_served(self):
        return metric(self.container.metrics(), "maser_last_record_timestamp_seconds",
                      f'maser="{self.name}"')

    def wait_served_after(self, unix_time, timeout=STEP_TIMEOUT_S):
        return wait_until(f"node_exporter serving a record of {self.name} after {unix_time:.1f}",
                          lambda: (lambda t: t if t is not None and t > unix_time else None)(
                              self.last_served()), timeout)

    def check_serves_last_row(self, columns):
        """maser_up 1 and a channel equal to the log's last row, from one scrape
        that finds that row the newest."""
        def consistent():
            page = self.container.metrics()
            rows = self.rows()
            if metric(page, "maser_up", f'maser="{self.name}"') != 1 or not rows:
                return None
            stamp = metric(page, "maser_last_record_timestamp_seconds", f'maser="{self.name}"')
            if stamp is None or abs(stamp - unix_seconds(rows[-1][0])) > 0.1:
                return None  # a record came between the scrape and the read
            return page, rows[-1]

        page, row = wait_until(f'maser_up{{maser="{self.name}"}} 1 and the last row served',
                               consistent)
        ion_ua = float(row[columns.index("Ion_uA")])
        served = metric(page, "maser_ion_pump_current_amperes", f'maser="{self.name}"')
        if served is None or abs(served - ion_ua * 1e-6) > 1e-12:
            raise PackageFailure(f"Ion_uA {ion_ua} in the log, {served} A served")
        log(f"{self.name} served: maser_up 1, ion pump current {served} A = {ion_ua} uA "
            "in the last row")


def unit_is(container, unit, active_state):
    state = container.unit(unit, "ActiveState")["ActiveState"]
    if state != active_state:
        raise PackageFailure(f"{unit} is {state}, not {active_state}")


def check_without_node_exporter(container, east):
    """h2export runs without node_exporter's folder; h2mon's journal carries its
    header but none of its records."""
    east.plug_in()
    east.configure()
    container.write(f"{PTY_DROP_IN_DIR}/pty.conf", PTY_DROP_IN)
    container.run(["systemctl", "daemon-reload"])
    container.run(["systemctl", "enable", "--now", east.unit, "h2export"])
    wait_until("three records in the log", lambda: True if len(east.rows()) >= 3 else None)
    lines, _ = container.journal(east.unit)
    header = next((line for line in lines if line.startswith("MJD,")), None)
    if header is None:
        raise PackageFailure(f"no CSV header in the journal of {east.unit}: {lines}")
    records = [line for line in lines if line[:1].isdigit()]
    if records:
        raise PackageFailure(f"records in the journal of {east.unit}: {records[:3]}")
    unit_is(container, "h2export", "active")
    log(f"without node_exporter: h2export runs; {len(east.rows())} records in the log, "
        "none in the journal")
    return header.split(",")


def check_node_exporter_later(container, east, columns):
    """node_exporter installed on a running station: the trigger restarts h2export,
    which writes its files there; another collector's file is left alone."""
    restarts = container.unit("h2export", "NRestarts")["NRestarts"]
    if restarts != "0":
        raise PackageFailure(f"h2export failed {restarts} times without node_exporter")
    invocation = container.unit("h2export", "InvocationID")["InvocationID"]
    container.run(["sh", "-c", f"dpkg -i {LATER_DEBS}/*.deb"], timeout=120)
    if container.unit("h2export", "InvocationID")["InvocationID"] == invocation:
        raise PackageFailure("h2export was not restarted when node_exporter was installed")
    east.check_serves_last_row(columns)

    # Another collector's file, there before h2export starts, and a maser whose
    # name is that file's.
    container.run(["systemctl", "stop", "h2export"])
    container.write(OTHER_COLLECTOR_FILE, OTHER_COLLECTOR_TEXT)
    container.write("/var/log/h2mon/apt.csv",
                    "".join(",".join(row) + "\n" for row in east.rows()[:3]))
    container.run(["chown", "h2mon:h2mon", "/var/log/h2mon/apt.csv"])
    container.run(["chmod", "0640", "/var/log/h2mon/apt.csv"])
    container.run(["systemctl", "start", "h2export"])
    east.check_serves_last_row(columns)
    wait_until("maser_up of the maser apt", lambda: True if metric(
        container.metrics(), "maser_up", 'maser="apt"') is not None else None)
    check_other_collector_file(container, "h2export running")


def check_other_collector_file(container, when):
    try:
        text = container.read(OTHER_COLLECTOR_FILE)
    except FileNotFoundError:
        raise PackageFailure(f"{OTHER_COLLECTOR_FILE} deleted ({when})")
    if text != OTHER_COLLECTOR_TEXT:
        raise PackageFailure(f"{OTHER_COLLECTOR_FILE} rewritten ({when}): {text!r}")


def running_programs(container, unit):
    """The executable of each process of a unit, as /proc shows it (a program
    replaced since it started is shown " (deleted)")."""
    group = container.unit(unit, "ControlGroup")["ControlGroup"]
    script = (f'for pid in $(cat /sys/fs/cgroup{group}/cgroup.procs); do '
              'readlink /proc/$pid/exe; done')
    return container.run(["sh", "-c", script]).split("\n")[:-1]


def check_runs_again(container, units, since, what):
    """Each unit active, started after `since` (an InvocationID that is not the
    one before), on programs that are the installed ones, its unit loaded as
    installed."""
    for unit in units:
        state = container.unit(unit, "ActiveState", "NeedDaemonReload", "InvocationID")
        if state["ActiveState"] != "active" or state["NeedDaemonReload"] != "no":
            raise PackageFailure(f"{unit} after {what}: {state}")
        if state["InvocationID"] == since.get(unit):
            raise PackageFailure(f"{unit} was not restarted by {what}")
        if unit.endswith(".service"):
            programs = running_programs(container, unit)
            if not programs or any(p.endswith(" (deleted)") for p in programs):
                raise PackageFailure(f"{unit} after {what} runs {programs}")


def longest_pause(rows, since):
    """The longest time between two records from the last one before `since` on
    (seconds)."""
    times = [unix_seconds(row[0]) for row in rows]
    first = max((i for i, t in enumerate(times) if t <= since), default=0)
    return max((b - a for a, b in zip(times[first:], times[first + 1:])), default=0)


def check_upgrade(container, east, upgrade, version):
    """apt install of the next version over the running station."""
    conffile = "/etc/logrotate.d/h2mon"
    edited = container.read(conffile) + "# rotated as this station wants\n"
    container.write(conffile, edited)
    units = [east.unit, "h2export", "h2mon-report.timer"]
    before = {unit: container.unit(unit, "InvocationID")["InvocationID"] for unit in units}
    # No --force-conf* option: a conffile prompt would fail, standard input
    # being empty.
    started = time.time()
    container.run(["apt-get", "install", "-y", f"/root/{os.path.basename(upgrade)}"],
                  timeout=120)
    upgraded = time.time()
    installed = container.run(["dpkg-query", "-W", "-f=${Version}", "h2mon"])
    if installed != version:
        raise PackageFailure(f"h2mon {installed} installed, not {version}")
    check_runs_again(container, units, before, "the upgrade")
    if container.read(conffile) != edited:
        raise PackageFailure(f"the upgrade did not keep the edited {conffile}")
    east.wait_served_after(upgraded, timeout=30)
    log(f"upgraded to {version}: {', '.join(units)} running again on the new programs, "
        "the edited conffile kept, records exported again; the longest pause between "
        f"records across it {longest_pause(east.rows(), started):.1f} s")


def check_remove_and_reinstall(container, east, upgrade):
    container.run(["apt-get", "remove", "-y", "h2mon"], timeout=120)
    unit_is(container, east.unit, "inactive")
    container.run(["apt-get", "install", "-y", f"/root/{os.path.basename(upgrade)}"],
                  timeout=120)
    reinstalled = time.time()
    check_runs_again(container, [east.unit, "h2export", "h2mon-report.timer"], {},
                     "the reinstall")
    east.wait_served_after(reinstalled, timeout=30)
    log("removed and installed again: recording and export resumed without a reboot")


def check_adapter_pulled(container, east):
    """While the adapter is away the unit is quiet; it records again soon after
    the adapter is back."""
    _, cursor = container.journal(east.unit)
    east.pull_out()
    time.sleep(PULLED_STRETCH_S)
    lines, _ = container.journal(east.unit, cursor)
    waiting = f"Waiting for the port {east.port} to appear"
    if len(lines) > PULLED_MAX_LINES or lines.count(waiting) != 1:
        raise PackageFailure(f"{len(lines)} journal lines in {PULLED_STRETCH_S} s "
                             f"with the adapter away:\n" + "\n".join(lines))
    east.plug_in()
    back = time.time()
    row = east.wait_for_row_after(back, timeout=RESUME_LIMIT_S)
    log(f"adapter away for {PULLED_STRETCH_S} s: {len(lines)} journal lines; recording "
        f"again {unix_seconds(row[0]) - back:.1f} s after its return")


def logged_rows(container, name):
    """Every row in a maser's log and its rotated logs, by its fields after the
    MJD: how often each is there, and the MJD it was logged with. (h2mon reads
    the clock again for the log, so a row's MJD there may be a step later than
    the one it printed; the reserved fields, random per frame, tell the rows
    apart.)"""
    counts, mjds = collections.Counter(), {}
    for path in glob.glob(container.path(f"/var/log/h2mon/{name}.csv*")):
        opener = gzip.open if path.endswith(".gz") else open
        with opener(path, "rt") as f:
            for line in f.read().split("\n")[:-1]:
                mjd, fields = line.split(",", 1)
                counts[fields] += 1
                mjds[fields] = mjd
    return counts, mjds


def influx_nanoseconds(mjd_text):
    """The point's time h2export gives a record: exact, from the MJD's digits."""
    whole, fraction = mjd_text.split(".")
    micro_days = int(whole) * 10**6 + int(fraction.ljust(6, "0"))
    return (micro_days - MJD_OF_UNIX_EPOCH * 10**6) * 86400 * 1000


def check_rotations(container, east, west):
    """Two masers at some ten records a second and forced rotations at random moments:
    every record printed is in exactly one file and exported exactly once."""
    masers = [east, west]
    west.plug_in()
    for maser in masers:
        maser.configure(ROTATION_INTERVAL_MS, journal_records=True)
    container.run(["systemctl", "restart", east.unit])
    container.run(["systemctl", "enable", "--now", west.unit])
    container.run(["systemd-run", "--unit", "h2export-influx", "--property=User=h2export",
                   "--property=Group=h2mon", "--property=StateDirectory=h2mon-test",
                   "/usr/bin/h2export", "--follow-dir", "/var/log/h2mon",
                   "--influx", "/var/lib/h2mon-test/points.lp"])
    start = time.time()
    for maser in masers:
        maser.wait_for_row_after(start)
    cursors = {maser.name: container.journal(maser.unit)[1] for maser in masers}

    pick = random.Random()
    for _ in range(ROTATIONS):
        time.sleep(pick.uniform(0, 1.5))
        container.run(["logrotate", "-f", "/etc/logrotate.d/h2mon"])
    for maser in masers:
        maser.wait_for_row_after(time.time())
    container.run(["systemctl", "stop", east.unit, west.unit])
    state = container.unit(east.unit, "ExecMainStatus", "Result", "ActiveState")
    if state != {"ExecMainStatus": "0", "Result": "success", "ActiveState": "inactive"}:
        raise PackageFailure(f"systemctl stop {east.unit}: {state}")

    points_file = container.path("/var/lib/h2mon-test/points.lp")
    for maser in masers:
        lines, _ = container.journal(maser.unit, cursors[maser.name])
        printed = [line.split(",", 1)[1] for line in lines if line[:1].isdigit()]
        counts, mjds = logged_rows(container, maser.name)
        wrong = {fields[:40]: counts[fields] for fields in printed if counts[fields] != 1}
        wrong.update({fields[:40]: n for fields, n in counts.items() if n > 1})
        if not printed or wrong:
            raise PackageFailure(f"{maser.name}: {len(printed)} records printed; in the logs "
                                 f"not exactly once (row: times): {wrong}")

        wanted = {influx_nanoseconds(mjds[fields]) for fields in printed}

        def exported():
            stamps = collections.Counter()
            with open(points_file) as f:
                for line in f:
                    if line.startswith(f"maser,maser={maser.name} "):
                        stamps[int(line.split()[-1])] += 1
            return stamps if wanted <= stamps.keys() else None
        stamps = wait_until(f"h2export --influx to write the records of {maser.name}", exported)
        repeated = {stamp: n for stamp, n in stamps.items() if n > 1}
        if repeated:
            raise PackageFailure(f"{maser.name}: points written more than once: {repeated}")
        log(f"{maser.name}: {len(printed)} records printed during {ROTATIONS} rotations, "
            f"each in one file ({len(glob.glob(container.path(maser.log) + '.*'))} rotated) "
            "and written once by h2export --influx")
    container.run(["systemctl", "stop", "h2export-influx"])
    log(f"{east.unit} stopped with exit code 0")


# The exposure systemd-analyze security gives each unit, at the most.
SECURITY_EXPOSURE = {"h2mon@east.service": 0.7, "h2export.service": 0.4,
                     "h2mon-report.service": 0.4}


def check_security(container):
    for unit, limit in SECURITY_EXPOSURE.items():
        text = container.run(["systemd-analyze", "security", "--no-pager", unit])
        score = re.search(r"Overall exposure level for \S+: (\d+\.\d+)", text)
        if not score or float(score.group(1)) > limit:
            raise PackageFailure(f"systemd-analyze security {unit}: "
                                 f"{score.group(1) if score else text[-300:]}, above {limit}")
    log("systemd-analyze security: " + ", ".join(
        f"{unit} at most {limit}" for unit, limit in SECURITY_EXPOSURE.items()))


def check_report(container, east):
    if container.run(["systemctl", "is-active", "h2mon-report.timer"], check=False).strip() != "active":
        raise PackageFailure("h2mon-report.timer is not active after enabling h2export")
    container.run(["systemctl", "start", "h2mon-report.service"])
    page = container.path(f"/var/lib/h2mon/report/{east.name}.html")
    if not os.path.isfile(page):
        raise PackageFailure(f"no report page {page}")
    run(["xmllint", "--html", "--noout", page])
    log(f"report page {os.path.getsize(page)} bytes, valid HTML")


def check_purge(container, deb, masers):
    for maser in masers:
        container.run(["systemctl", "stop", f"h2sim-{maser.name}"], check=False)
    shutil.rmtree(container.path(PTY_DROP_IN_DIR))
    container.run(["apt-get", "purge", "-y", "h2mon"], timeout=120)
    # The package's files, and its own folders (not /usr/bin and the like).
    packaged = []
    for line in run(["dpkg-deb", "-c", deb]).splitlines():
        name = line.split()[-1].lstrip(".")
        if line.startswith("-") or "h2mon" in name or "h2export" in name:
            packaged.append(name.rstrip("/"))
    made = ["/var/log/h2mon", "/var/lib/h2mon", "/etc/h2mon"] + \
        [f"{TEXTFILE_DIR}/{maser.name}.prom" for maser in masers]
    links = glob.glob(container.path("/etc/systemd/system/*.wants/*h2*"))
    textfiles = glob.glob(container.path(f"{TEXTFILE_DIR}/*h2mon*"))
    left = [p for p in packaged + made if os.path.lexists(container.path(p))] + links + textfiles
    if left:
        raise PackageFailure(f"left behind by apt purge h2mon: {left}")
    check_other_collector_file(container, "after apt purge h2mon")
    log(f"apt purge h2mon: none of {len(packaged + made)} files and folders left, "
        f"{os.path.basename(OTHER_COLLECTOR_FILE)} kept")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True, help="the source tree (a git checkout)")
    parser.add_argument("--sources", help="apt sources for mmdebstrap (default: this machine's)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    options = parser.parse_args()
    if os.geteuid() != 0:
        print("skipped: mmdebstrap, systemd-nspawn and nsenter need root", file=sys.stderr)
        return 77

    # SIGTERM (CTest's timeout) and SIGINT end the run through the cleanup below.
    def stop(signum, _frame):
        raise PackageFailure(f"stopped by signal {signum}")

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    work = tempfile.mkdtemp(prefix="h2mon-package-test-")
    container = Container(os.path.join(work, "root"), os.path.join(work, "nspawn.log"))
    started = time.monotonic()
    try:
        deb = build_package(options.source, work)
        log(f"built {os.path.basename(deb)}")
        run(["lintian", "--pedantic", "--fail-on", "error,warning,pedantic", deb])
        log("lintian --pedantic: no error, no warning, no pedantic tag")
        upgrade, version = make_upgrade(deb, work)
        make_root(container.root, [deb, upgrade], options.sources or debian_sources())
        log("clean bookworm root with the package and logrotate")
        container.boot()
        log("booted")
        east = Maser(container, "east")
        west = Maser(container, "west", ":baud=9600 parity=N data=8 stop=1")
        columns = check_without_node_exporter(container, east)
        check_node_exporter_later(container, east, columns)
        check_upgrade(container, east, upgrade, version)
        check_remove_and_reinstall(container, east, upgrade)
        check_adapter_pulled(container, east)
        check_rotations(container, east, west)
        check_report(container, east)
        check_security(container)
        check_purge(container, deb, [east, west])
        log(f"passed in {time.monotonic() - started:.0f} s")
        return 0
    except PackageFailure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        if container.init_pid:
            print(container.run(["journalctl", "--no-pager", "-n", "80"], check=False),
                  file=sys.stderr)
        return 1
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        container.power_off()
        if options.keep:
            print(f"kept {work}", file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
