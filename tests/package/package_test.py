#!/usr/bin/env python3
"""The Debian package on a clean Debian booted with systemd, as a station
installs it:

1. builds h2mon_<version>_amd64.deb from a copy of the source tree with
   dpkg-buildpackage and runs lintian on it;
2. makes a clean bookworm root with mmdebstrap (minbase, systemd, dbus) from
   this machine's apt sources, installs the package there with apt together
   with prometheus-node-exporter, and boots it with systemd-nspawn (its own
   network namespace: nothing it serves is reachable from outside);
3. inside: h2sim plays the maser on a pseudo-terminal (a transient unit),
   /etc/h2mon/east.conf names it, `systemctl enable --now h2mon@east h2export`;
   node_exporter must serve maser_up{maser="east"} 1 and the last row of
   /var/log/h2mon/east.csv; with h2sim stopped maser_up is 0 and h2mon@east
   restarts until h2sim is back, then records again; `systemctl stop
   h2mon@east` ends it with exit code 0; the report page is valid HTML;
4. `apt purge h2mon` leaves none of the package's files behind.

The container is powered off and every temporary folder removed whatever
happens: on success, on a failed check, on SIGTERM or SIGINT.

usage: package_test.py --source DIR [--sources FILE] [--keep]
"""

import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MASER = "east"
RECORD_INTERVAL_MS = 1000
# Longest wait for any one step. maser_up drops to 0 after h2export's
# --stale-after, by default 30 s for a log written every second.
STEP_TIMEOUT_S = 60
MJD_OF_UNIX_EPOCH = 40587
# A pseudo-terminal is no serial device: this test's drop-in lets the logger
# open one.
PTY_DROP_IN = "[Service]\nDeviceAllow=char-pts rw\n"


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


def debian_sources():
    """The machine's own apt sources for Debian, as a file mmdebstrap takes."""
    for path in ["/etc/apt/sources.list.d/debian.sources", "/etc/apt/sources.list"]:
        if os.path.exists(path):
            return path
    raise PackageFailure("no Debian apt sources on this machine (give --sources)")


def make_root(root, deb, sources):
    hooks = [
        f"copy-in {deb} /root",
        'chroot "$1" apt-get install -y --no-install-recommends '
        f"/root/{os.path.basename(deb)} prometheus-node-exporter",
        'rm "$1"/root/*.deb',
    ]
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

    def run(self, args, check=True, namespaces=("-a",)):
        result = subprocess.run(
            ["nsenter", "-t", str(self.init_pid), *namespaces, "--", *args],
            capture_output=True, text=True, timeout=STEP_TIMEOUT_S,
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


def last_row(container):
    """The last complete row of the maser's log: (time in Unix seconds, columns)."""
    try:
        with open(container.path(f"/var/log/h2mon/{MASER}.csv")) as f:
            lines = f.read().split("\n")[:-1]
    except FileNotFoundError:
        return None
    if not lines:
        return None
    row = lines[-1].split(",")
    return (float(row[0]) - MJD_OF_UNIX_EPOCH) * 86400, row


def check_serves_last_row(container):
    """maser_up 1 and a channel equal to the log's last row, from one scrape
    that finds that row the newest."""
    columns = CSV_COLUMNS

    def consistent():
        page = container.metrics()
        row = last_row(container)
        if metric(page, "maser_up", f'maser="{MASER}"') != 1 or row is None:
            return None
        stamp = metric(page, "maser_last_record_timestamp_seconds", f'maser="{MASER}"')
        if stamp is None or abs(stamp - row[0]) > 0.1:
            return None  # a record came between the scrape and the read
        return page, row[1]

    page, row = wait_until(f'maser_up{{maser="{MASER}"}} 1 and the last row served', consistent)
    ion_ua = float(row[columns.index("Ion_uA")])
    served = metric(page, "maser_ion_pump_current_amperes", f'maser="{MASER}"')
    if served is None or abs(served - ion_ua * 1e-6) > 1e-12:
        raise PackageFailure(f"Ion_uA {ion_ua} in the log, {served} A served")
    log(f"served: maser_up 1, ion pump current {served} A = {ion_ua} uA in the last row")


# The log's columns: the CSV header h2mon prints (rows in the log have none).
CSV_COLUMNS = []


def start_maser(container):
    container.run(["systemd-run", "--unit", f"h2sim-{MASER}", "--property=User=h2mon",
                   "--property=RuntimeDirectory=h2sim",
                   "/usr/bin/h2sim", "--link", f"/run/h2sim/{MASER}"])
    # /run is the container's own tmpfs: looked at from inside.
    wait_until("h2sim's line", lambda: True if container.succeeds(
        ["test", "-L", f"/run/h2sim/{MASER}"]) else None)


def check_service(container):
    start_maser(container)
    container.write(f"/etc/systemd/system/h2mon@{MASER}.service.d/pty.conf", PTY_DROP_IN)
    container.write(f"/etc/h2mon/{MASER}.conf",
                    f"PORT=/run/h2sim/{MASER}\nINTERVAL_MS={RECORD_INTERVAL_MS}\n")
    container.run(["systemctl", "daemon-reload"])
    container.run(["systemctl", "enable", "--now", f"h2mon@{MASER}", "h2export"])

    header = wait_until("h2mon's CSV header in the journal", lambda: next(
        (line for line in container.run(
            ["journalctl", "-u", f"h2mon@{MASER}", "-o", "cat", "--no-pager"]).splitlines()
         if line.startswith("MJD,")), None))
    CSV_COLUMNS[:] = header.split(",")
    check_serves_last_row(container)

    log("h2sim stopped")
    container.run(["systemctl", "stop", f"h2sim-{MASER}"])
    restarts = int(container.unit(f"h2mon@{MASER}", "NRestarts")["NRestarts"])
    wait_until("maser_up 0", lambda: True if metric(
        container.metrics(), "maser_up", f'maser="{MASER}"') == 0 else None)
    wait_until("h2mon@east restarting", lambda: True if int(container.unit(
        f"h2mon@{MASER}", "NRestarts")["NRestarts"]) >= restarts + 2 else None)
    log("maser_up 0; h2mon@east restarted "
        f"{int(container.unit(f'h2mon@{MASER}', 'NRestarts')['NRestarts']) - restarts} times")

    start_maser(container)
    log("h2sim back")
    check_serves_last_row(container)

    container.run(["systemctl", "stop", f"h2mon@{MASER}"])
    state = container.unit(f"h2mon@{MASER}", "ExecMainStatus", "Result", "ActiveState")
    if state != {"ExecMainStatus": "0", "Result": "success", "ActiveState": "inactive"}:
        raise PackageFailure(f"systemctl stop h2mon@{MASER}: {state}")
    log("h2mon@east stopped with exit code 0")


def check_report(container):
    if container.run(["systemctl", "is-active", "h2mon-report.timer"], check=False).strip() != "active":
        raise PackageFailure("h2mon-report.timer is not active after enabling h2export")
    container.run(["systemctl", "start", "h2mon-report.service"])
    page = container.path(f"/var/lib/h2mon/report/{MASER}.html")
    if not os.path.isfile(page):
        raise PackageFailure(f"no report page {page}")
    run(["xmllint", "--html", "--noout", page])
    log(f"report page {os.path.getsize(page)} bytes, valid HTML")


def check_purge(container, deb):
    container.run(["systemctl", "stop", f"h2sim-{MASER}"], check=False)
    shutil.rmtree(container.path(f"/etc/systemd/system/h2mon@{MASER}.service.d"))
    container.run(["apt-get", "purge", "-y", "h2mon"])
    # The package's files, and its own folders (not /usr/bin and the like).
    packaged = []
    for line in run(["dpkg-deb", "-c", deb]).splitlines():
        name = line.split()[-1].lstrip(".")
        if line.startswith("-") or "h2mon" in name or "h2export" in name:
            packaged.append(name.rstrip("/"))
    made = ["/var/log/h2mon", "/var/lib/h2mon", "/etc/h2mon",
            f"/var/lib/prometheus/node-exporter/{MASER}.prom"]
    links = glob.glob(container.path("/etc/systemd/system/*.wants/*h2*"))
    left = [p for p in packaged + made if os.path.lexists(container.path(p))] + links
    if left:
        raise PackageFailure(f"left behind by apt purge h2mon: {left}")
    log(f"apt purge h2mon: none of {len(packaged + made)} files and folders left")


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
        run(["lintian", "--fail-on", "error,warning", deb])
        log("lintian: no error, no warning")
        make_root(container.root, deb, options.sources or debian_sources())
        log("clean bookworm root with the package and prometheus-node-exporter")
        container.boot()
        log("booted")
        check_service(container)
        check_report(container)
        check_purge(container, deb)
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
