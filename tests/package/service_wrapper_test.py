#!/usr/bin/env python3
"""h2mon-service, the script h2mon@NAME.service runs h2mon through, with the
real h2mon against h2sim on a pseudo-terminal: what reaches its standard
output (the journal), its exit status (what Restart=on-failure sees) after
each way h2mon can end, and its wait for a port that is not there.

usage: service_wrapper_test.py --wrapper FILE --h2mon FILE --h2sim FILE
"""

import argparse
import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

OPTIONS = None
# Longest wait for any one event; none is expected to take more than a second
# or two, so this only bounds a run that has gone wrong.
EVENT_TIMEOUT_S = 60


def wait_until(what, probe):
    deadline = time.monotonic() + EVENT_TIMEOUT_S
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)


def read_line(stream):
    """The next line of a child's pipe, waiting at most EVENT_TIMEOUT_S for it."""
    ready, _, _ = select.select([stream], [], [], EVENT_TIMEOUT_S)
    if not ready:
        raise AssertionError("timed out waiting for a line")
    return stream.readline()


def children(pid):
    """The processes whose parent is pid: {pid: command name}."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        if ppid == pid:
            found[int(entry)] = name
    return found


class ServiceWrapper(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="h2mon-service-test-")
        self.addCleanup(self.dir.cleanup)
        self.link = os.path.join(self.dir.name, "maser")
        self.log = os.path.join(self.dir.name, "maser.csv")
        self.sim = None
        self.service = None
        self.addCleanup(self.kill_all)
        self.started = []

    def kill_all(self):
        """Every process the test started, with the service's h2mon and filter."""
        for process, own_group in self.started:
            if own_group:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            elif process.poll() is None:
                process.kill()
            process.wait()

    def start_sim(self):
        self.sim = subprocess.Popen([OPTIONS.h2sim, "--link", self.link],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.started.append((self.sim, False))
        self.addCleanup(self.sim.stdout.close)
        self.sim.stdout.readline()  # the line's path: the link is there

    def stop_sim(self):
        self.sim.send_signal(signal.SIGTERM)
        self.sim.wait(timeout=EVENT_TIMEOUT_S)

    def start_service(self, journal_records=None, port=None):
        env = dict(os.environ)
        env.pop("JOURNAL_RECORDS", None)
        if journal_records:
            env["JOURNAL_RECORDS"] = journal_records
        # As systemd starts it: its own session, so a signal reaches only the
        # process it is sent to.
        self.service = subprocess.Popen(
            [OPTIONS.wrapper, OPTIONS.h2mon, f"/port={port or self.link}", "/interval_ms:50",
             f"/out:{self.log}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            text=True, env=env, start_new_session=True)
        self.started.append((self.service, True))

    def logged_rows(self):
        try:
            with open(self.log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_for_rows(self, count):
        wait_until(f"{count} rows in the log", lambda: len(self.logged_rows()) >= count)

    def child(self, name):
        return wait_until(f"the service's {name}", lambda: next(
            (pid for pid, command in children(self.service.pid).items() if command == name),
            None))

    def finish(self):
        """The service's exit status, standard output and standard error."""
        out, err = self.service.communicate(timeout=EVENT_TIMEOUT_S)
        return self.service.returncode, out.splitlines(), err.splitlines()

    def assert_no_records(self, lines):
        self.assertEqual([line for line in lines if line[:1].isdigit()], [])

    def test_a_failure_passes_the_error_and_its_status_but_no_record(self):
        self.start_sim()
        self.start_service()
        self.wait_for_rows(3)
        self.stop_sim()  # the line hangs up: a read error
        status, out, _ = self.finish()
        self.assertEqual(status, 1)
        self.assertTrue(out[0].startswith("MJD,"), out)
        self.assertTrue(out[-1].startswith(f"Read error on port {self.link}"), out)
        self.assert_no_records(out)

    def stop_service(self, signal_number=signal.SIGTERM):
        """As systemd stops a service: the signal to each of its processes."""
        os.killpg(self.service.pid, signal_number)

    def test_a_stop_signal_ends_h2mon_in_order_with_status_0(self):
        for signal_number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=signal_number.name):
                self.start_sim()
                self.start_service()
                self.wait_for_rows(len(self.logged_rows()) + 2)
                self.stop_service(signal_number)
                status, out, err = self.finish()
                # The filter outlives h2mon and says nothing.
                self.assertEqual((status, err), (0, []))
                self.assertEqual([line[:4] for line in out], ["MJD,"])
                self.stop_sim()

    def test_journal_records_yes_lets_every_record_through(self):
        self.start_sim()
        self.start_service(journal_records="yes")
        self.wait_for_rows(3)
        self.stop_service()
        status, out, _ = self.finish()
        self.assertEqual(status, 0)
        self.assertEqual(out[1:], self.logged_rows())

    def test_h2mon_killed_is_a_failure(self):
        self.start_sim()
        self.start_service()
        self.wait_for_rows(1)
        os.kill(self.child("h2mon"), signal.SIGKILL)
        status, out, _ = self.finish()
        self.assertEqual(status, 128 + signal.SIGKILL)
        self.assert_no_records(out)

    def test_a_filter_that_dies_is_a_failure_not_a_stop(self):
        # h2mon takes its closed output for a stop and ends with 0; without
        # the script's check systemd would not start it again.
        self.start_sim()
        self.start_service()
        self.wait_for_rows(1)
        os.kill(self.child("grep"), signal.SIGKILL)
        status, _, err = self.finish()
        self.assertEqual(status, 1)
        self.assertIn(f"The filter of h2mon's output ended with status {128 + signal.SIGKILL}",
                      err)

    def test_a_missing_port_is_waited_for_quietly_then_recorded(self):
        # The device is the whole name or the part before a colon of it, as
        # h2mon finds it: a mode string may follow, a by-path name has colons.
        by_path = os.path.join(self.dir.name, "pci-0000:00:14.0-usb-0:2:1.0-port0")
        for link, port in ((self.link, self.link),
                           (self.link, f"{self.link}:9600,n,8,1"),
                           (by_path, f"{by_path}:baud=9600 parity=N data=8 stop=1")):
            with self.subTest(port=port):
                self.link = link
                self.start_service(port=port)
                self.assertEqual(read_line(self.service.stderr),
                                 f"Waiting for the port {port} to appear\n")
                self.assertEqual(children(self.service.pid).get("h2mon"), None)
                self.start_sim()
                self.wait_for_rows(len(self.logged_rows()) + 2)
                self.stop_service()
                status, out, err = self.finish()
                self.assertEqual(status, 0)
                self.assertEqual([line[:4] for line in out], ["MJD,"])
                self.assertEqual(err, [f"The port {port} is there; starting h2mon"])
                self.stop_sim()

    def test_a_stop_while_waiting_for_the_port_ends_it_with_status_0(self):
        self.start_service()
        self.assertEqual(read_line(self.service.stderr), f"Waiting for the port {self.link} to appear\n")
        self.stop_service()
        status, out, err = self.finish()
        self.assertEqual((status, out, err), (0, [], []))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ("--wrapper", "--h2mon", "--h2sim"):
        parser.add_argument(name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
