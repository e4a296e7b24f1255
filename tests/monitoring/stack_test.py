#!/usr/bin/env python3
"""The monitoring stack end to end, every part real and on 127.0.0.1:

h2sim playing a health scenario -> h2mon /out:<log> -> h2export --textfile ->
prometheus-node-exporter -> prometheus (scraping every second, the shipped
alert rules with their `for:` times cut to a second) -> prometheus-alertmanager
-> this script's webhook receiver.

Checks that scraped channels equal h2mon's CSV row in base units, that
node_exporter serves h2export's file (h2mon-NAME.prom) beside another
collector's file h2export left alone, that the scenario's alert reaches the
receiver, and that once the simulator stops,
maser_up drops to 0, the channel series vanish and MaserDown arrives.

Every process is started here, in a temporary folder, on free ports, and is
stopped whatever happens: on success, on a failed check, on SIGTERM or SIGINT,
and (through the parent-death signal) even when this script is killed.
"""

import argparse
import json
import os
import queue
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request
from decimal import Decimal
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MASER = "m1"
# Another collector's file in node_exporter's folder, which h2export leaves alone.
OTHER_COLLECTOR = "other.prom"
SCENARIO = "vacuum-leak"
# The story reaches 80 uA, the MaserIonPumpCurrentHigh threshold, at day 14.9:
# about 13 s into the run at 100000 story seconds per second.
TIME_SCALE = 100000
ALERT = "MaserIonPumpCurrentHigh"
RECORD_INTERVAL_MS = 200
STALE_AFTER_S = 2
# Longest wait for any one step; the whole run stays well inside CTest's limit.
STEP_TIMEOUT_S = 40

# Scraped series checked against the CSV row they came from:
# (metric, extra label or None, CSV column, factor to base units or "hex").
# The logged decimal times the factor, rounded once to a double, is the value.
CHANNEL_CHECKS = [
    ("maser_ion_pump_current_amperes", None, "Ion_uA", "1e-6"),
    ("maser_ion_pump_voltage_volts", None, "Ion_kV", "1e3"),
    ("maser_hydrogen_pressure_pascals", None, "H2_atm", "101325"),
    ("maser_supply_voltage_volts", ("rail", "n15"), "n15_V", "1"),
    ("maser_signal_level_volts", ("signal", "5mhz_1"), "f5M1_V", "1"),
    ("maser_oven_voltage_volts", ("oven", "cavity_side"), "CSide_V", "1"),
    ("maser_fll_frequency_correction_high_code", None, "FFCorrH", "hex"),
]


class StackFailure(Exception):
    pass


def wait_until(what, probe, watch=None, timeout=STEP_TIMEOUT_S, every=0.2):
    """Calls probe until it returns something other than None and returns that;
    `watch`, called as often, raises when waiting longer is pointless."""
    deadline = time.monotonic() + timeout
    while True:
        if watch:
            watch()
        result = probe()
        if result is not None:
            return result
        if time.monotonic() > deadline:
            raise StackFailure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(every)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http_get(url, timeout=2):
    """The body of a 200 answer, or None when there is none (yet)."""
    try:
        with urllib.request.urlopen(url, timeout=timeout) as answer:
            return answer.read().decode() if answer.status == 200 else None
    except OSError:
        return None


class Processes:
    """The children of the run, each logging to a file in the work folder."""

    def __init__(self, folder):
        self.folder = folder
        self.children = {}
        self.stopped = set()  # ended on purpose

    def log_path(self, name):
        return os.path.join(self.folder, name + ".log")

    def start(self, name, args):
        log = open(self.log_path(name), "wb")
        # The parent-death signal ends the child if this script dies unannounced.
        child = subprocess.Popen(
            ["setpriv", "--pdeathsig", "KILL", "--"] + args,
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=subprocess.STDOUT,
        )
        log.close()
        self.children[name] = child
        return child

    def alive(self, name):
        return self.children[name].poll() is None

    def check_running(self):
        """Raises when a child that should be running has ended."""
        for name, child in self.children.items():
            if name not in self.stopped and child.poll() is not None:
                raise StackFailure(f"{name} ended with exit code {child.returncode}")

    def stop(self, name):
        self.stopped.add(name)
        child = self.children[name]
        if child.poll() is None:
            child.terminate()
            try:
                child.wait(5)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        return child.returncode

    def stop_all(self):
        for name in reversed(list(self.children)):
            self.stop(name)

    def log_tail(self, name, lines=15, width=200):
        with open(self.log_path(name), errors="replace") as f:
            return "".join(line[:width].rstrip("\n") + "\n" for line in f.readlines()[-lines:])


def start_server(processes, name, make_args, ready_path):
    """Starts a server on a free port and waits until it answers; a port taken
    in the meantime by someone else costs a retry with another."""
    for _ in range(3):
        port = free_port()
        processes.start(name, make_args(port))
        url = f"http://127.0.0.1:{port}{ready_path}"

        def ready():
            if not processes.alive(name):
                return False
            return True if http_get(url) is not None else None

        if wait_until(f"{name} to answer on {url}", ready):
            return port
        processes.stopped.add(name)
    raise StackFailure(f"{name} did not start:\n{processes.log_tail(name)}")


class WebhookReceiver:
    """Alertmanager's notifications, as they arrive."""

    def __init__(self):
        self.alerts = queue.Queue()
        received = self.alerts

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                for alert in json.loads(body).get("alerts", []):
                    received.put(alert)
                self.send_response(200)
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/alerts"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def wait_for(self, name, status, watch, timeout=STEP_TIMEOUT_S):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            watch()
            try:
                alert = self.alerts.get(timeout=0.5)
            except queue.Empty:
                continue
            labels = alert.get("labels", {})
            if labels.get("alertname") == name and alert.get("status") == status:
                if labels.get("maser", MASER) == MASER:
                    return alert
        raise StackFailure(f"no {status} {name} reached the webhook in {timeout} s")

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def short_for_times(rules_text):
    """The shipped rules with every `for:` cut to one second."""
    return re.sub(r"(?m)^(\s*)for: \S+", r"\1for: 1s", rules_text)


def write_configs(folder, rules_path, webhook_url):
    with open(rules_path) as f:
        rules = short_for_times(f.read())
    with open(os.path.join(folder, "rules.yml"), "w") as f:
        f.write(rules)
    with open(os.path.join(folder, "alertmanager.yml"), "w") as f:
        f.write(
            "route:\n"
            "  receiver: test\n"
            "  group_by: [alertname, maser]\n"
            "  group_wait: 0s\n"
            "  group_interval: 1s\n"
            "  repeat_interval: 1h\n"
            "receivers:\n"
            "  - name: test\n"
            "    webhook_configs:\n"
            f"      - url: {webhook_url}\n"
            "        send_resolved: true\n"
        )


def write_prometheus_config(folder, node_port, alertmanager_port):
    path = os.path.join(folder, "prometheus.yml")
    with open(path, "w") as f:
        f.write(
            "global:\n"
            "  scrape_interval: 1s\n"
            "  evaluation_interval: 1s\n"
            "rule_files: [rules.yml]\n"
            "alerting:\n"
            "  alertmanagers:\n"
            f"    - static_configs: [{{targets: ['127.0.0.1:{alertmanager_port}']}}]\n"
            "scrape_configs:\n"
            "  - job_name: node\n"
            f"    static_configs: [{{targets: ['127.0.0.1:{node_port}']}}]\n"
        )
    return path


class Prometheus:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"

    def query(self, expr):
        url = f"{self.base}/api/v1/query?" + urllib.parse.urlencode({"query": expr})
        body = http_get(url)
        if body is None:
            return None
        answer = json.loads(body)
        return answer["data"]["result"] if answer.get("status") == "success" else None


def csv_header(h2mon_output):
    """The column names from the header line h2mon prints on standard output."""
    with open(h2mon_output) as f:
        for line in f:
            if line.startswith("MJD,"):
                return line.rstrip("\n").split(",")
    return None


def csv_rows(path, columns):
    rows = []
    with open(path) as f:
        for line in f:
            fields = line.rstrip("\n").split(",")
            if len(fields) == len(columns):
                rows.append(dict(zip(columns, fields)))
    return rows


def unix_seconds(mjd_text):
    return (float(mjd_text) - 40587) * 86400


def scraped_snapshot(prometheus):
    """The maser's series from one scrape: {(metric, labels...): value}, with
    the record timestamp; None until every checked series is there."""
    result = prometheus.query(f'{{maser="{MASER}"}}')
    if not result:
        return None
    if len({sample["value"][0] for sample in result}) != 1:
        return None  # taken between two scrapes: ask again
    series = {}
    for sample in result:
        labels = dict(sample["metric"])
        name = labels.pop("__name__")
        for ignored in ("maser", "instance", "job"):
            labels.pop(ignored, None)
        series[(name, tuple(sorted(labels.items())))] = float(sample["value"][1])
    wanted = [("maser_last_record_timestamp_seconds", ())] + [
        (metric, (label,) if label else ()) for metric, label, _, _ in CHANNEL_CHECKS
    ]
    return series if all(key in series for key in wanted) else None


def check_channels_equal_csv(prometheus, log_path, columns, watch):
    series = wait_until(
        "the maser's series in Prometheus", lambda: scraped_snapshot(prometheus), watch
    )
    stamp = series[("maser_last_record_timestamp_seconds", ())]
    # MJD has six decimals (86.4 ms); records are 200 ms apart.
    rows = [
        row for row in csv_rows(log_path, columns) if abs(unix_seconds(row["MJD"]) - stamp) < 0.05
    ]
    if len(rows) != 1:
        raise StackFailure(f"{len(rows)} CSV rows carry the scraped record time {stamp}")
    row = rows[0]
    for metric, label, column, factor in CHANNEL_CHECKS:
        scraped = series[(metric, (label,) if label else ())]
        if factor == "hex":
            expected = int(row[column], 16)
        else:
            expected = float(Decimal(row[column]) * Decimal(factor))
        if scraped != expected:
            raise StackFailure(f"{metric}: scraped {scraped}, CSV {column} {row[column]}")
    print(f"scraped channels equal the CSV row of MJD {row['MJD']}")


def check_textfiles_served(prometheus, watch):
    """node_exporter serves h2export's file under h2export's own name beside
    another collector's file, which h2export left as it was."""

    def served():
        files = {
            os.path.basename(sample["metric"]["file"]): float(sample["value"][1])
            for sample in prometheus.query("node_textfile_mtime_seconds")
        }
        return files if OTHER_COLLECTOR in files and f"h2mon-{MASER}.prom" in files else None

    files = wait_until("the textfiles served by node_exporter", served, watch)
    if set(files) != {OTHER_COLLECTOR, f"h2mon-{MASER}.prom"}:
        raise StackFailure(f"node_exporter serves {sorted(files)}")
    other = prometheus.query("other_collector_up")
    if not other or other[0]["value"][1] != "1":
        raise StackFailure(f"the other collector's series is {other}")
    print(f"node_exporter serves h2mon-{MASER}.prom and the other collector's file beside it")


def start_monitoring(folder, processes, textfiles):
    """Alertmanager, node_exporter and Prometheus, ready; returns Prometheus."""
    alertmanager_port = start_server(
        processes,
        "alertmanager",
        lambda port: [
            "prometheus-alertmanager",
            "--config.file=" + os.path.join(folder, "alertmanager.yml"),
            "--storage.path=" + os.path.join(folder, "alertmanager-data"),
            f"--web.listen-address=127.0.0.1:{port}",
            "--cluster.listen-address=",  # no cluster: no gossip port
        ],
        "/-/ready",
    )
    node_port = start_server(
        processes,
        "node-exporter",
        lambda port: [
            "prometheus-node-exporter",
            f"--web.listen-address=127.0.0.1:{port}",
            "--collector.disable-defaults",
            "--collector.textfile",
            "--collector.textfile.directory=" + textfiles,
        ],
        "/metrics",
    )
    config = write_prometheus_config(folder, node_port, alertmanager_port)
    prometheus_port = start_server(
        processes,
        "prometheus",
        lambda port: [
            "prometheus",
            "--config.file=" + config,
            "--storage.tsdb.path=" + os.path.join(folder, "prometheus-data"),
            f"--web.listen-address=127.0.0.1:{port}",
        ],
        "/-/ready",
    )
    return Prometheus(prometheus_port)


def start_maser(args, folder, processes, textfiles):
    """h2sim playing the scenario, h2mon logging it, h2export following the
    log; returns the log's path and its columns."""
    link = os.path.join(folder, "maser")
    log_path = os.path.join(folder, "maser.csv")
    watch = processes.check_running
    story = ["--scenario", SCENARIO, "--time-scale", str(TIME_SCALE)]
    processes.start("h2sim", [args.h2sim, "--link", link] + story)
    wait_until("h2sim's line", lambda: True if os.path.islink(link) else None, watch)
    processes.start(
        "h2mon",
        [args.h2mon, "/port:" + link, f"/interval_ms:{RECORD_INTERVAL_MS}", "/out:" + log_path],
    )
    columns = wait_until(
        "h2mon's CSV header", lambda: csv_header(processes.log_path("h2mon")), watch
    )
    has_rows = lambda: True if os.path.exists(log_path) and csv_rows(log_path, columns) else None
    wait_until("h2mon's first record", has_rows, watch)
    processes.start(
        "h2export",
        [
            args.h2export,
            f"--follow={MASER}={log_path}",
            "--textfile=" + textfiles,
            f"--stale-after={STALE_AFTER_S}",
        ],
    )
    return log_path, columns


def check_maser_down(prometheus, watch):
    channels = f'{{maser="{MASER}", __name__=~"maser_.*_(volts|amperes|pascals|code)"}}'

    def down():
        up = prometheus.query(f'maser_up{{maser="{MASER}"}}')
        if up and up[0]["value"][1] == "0" and prometheus.query(channels) == []:
            return True
        return None

    wait_until("maser_up 0 and no channel series", down, watch)
    print("after the simulator stopped: maser_up 0, channel series gone")


def run(args, folder, processes, receiver):
    write_configs(folder, args.rules, receiver.url)
    textfiles = os.path.join(folder, "textfile")
    os.mkdir(textfiles)
    with open(os.path.join(textfiles, OTHER_COLLECTOR), "w") as other:
        other.write("other_collector_up 1\n")
    prometheus = start_monitoring(folder, processes, textfiles)
    log_path, columns = start_maser(args, folder, processes, textfiles)
    watch = processes.check_running

    check_channels_equal_csv(prometheus, log_path, columns, watch)
    check_textfiles_served(prometheus, watch)

    alert = receiver.wait_for(ALERT, "firing", watch)
    print(f"{ALERT} reached the webhook: {alert['annotations'].get('summary')}")

    processes.stop("h2sim")
    processes.stopped.add("h2mon")  # its line hung up: it ends with a read error
    check_maser_down(prometheus, watch)
    receiver.wait_for("MaserDown", "firing", watch)
    print("MaserDown reached the webhook")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--h2sim", required=True)
    parser.add_argument("--h2mon", required=True)
    parser.add_argument("--h2export", required=True)
    parser.add_argument("--rules", required=True, help="the shipped alert rules")
    args = parser.parse_args()

    # A stop request ends the run through the clean-up below.
    for stop in (signal.SIGTERM, signal.SIGINT):
        signal.signal(stop, lambda number, frame: sys.exit(128 + number))

    with tempfile.TemporaryDirectory(prefix="h2-stack-") as folder:
        processes = Processes(folder)
        receiver = WebhookReceiver()
        try:
            run(args, folder, processes, receiver)
            return 0
        except StackFailure as failure:
            print(f"FAILED: {failure}", file=sys.stderr)
            for name in processes.children:
                print(f"--- {name} (last lines) ---\n{processes.log_tail(name)}", file=sys.stderr)
            return 1
        finally:
            processes.stop_all()
            receiver.close()


if __name__ == "__main__":
    sys.exit(main())
