#!/usr/bin/env python3
"""`cmake --install BUILD --prefix PREFIX` into a DESTDIR, for prefixes other
than the one the build was configured with: every file lands under the prefix
given at install time (the configuration as GNUInstallDirs places it), and the
units and the report script name the programs where they were installed.

usage: install_paths_test.py --build-dir DIR
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = None

# prefix: (programs, what the units run beside them, configuration, units)
LAYOUTS = {
    "/usr": ("/usr/bin", "/usr/lib/h2mon", "/etc", "/usr/lib/systemd/system"),
    "/usr/local": ("/usr/local/bin", "/usr/local/lib/h2mon", "/usr/local/etc",
                   "/usr/local/lib/systemd/system"),
    "/opt/h2mon": ("/opt/h2mon/bin", "/opt/h2mon/lib/h2mon", "/etc/opt/h2mon",
                   "/opt/h2mon/lib/systemd/system"),
}


def unit_settings(path):
    """A unit's KEY=VALUE lines, a list of values per key."""
    settings = {}
    with open(path) as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                settings.setdefault(key, []).append(value)
    return settings


class InstallPaths(unittest.TestCase):
    def install(self, prefix):
        destdir = tempfile.TemporaryDirectory(prefix="h2mon-install-test-")
        self.addCleanup(destdir.cleanup)
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix],
                       env=dict(os.environ, DESTDIR=destdir.name), check=True,
                       stdout=subprocess.DEVNULL)
        return lambda path: os.path.join(destdir.name, path.lstrip("/"))

    def test_each_file_follows_the_prefix_given_at_install_time(self):
        for prefix, (bindir, libexecdir, sysconfdir, unitdir) in LAYOUTS.items():
            with self.subTest(prefix=prefix):
                installed = self.install(prefix)
                for program in (f"{bindir}/h2mon", f"{bindir}/h2export",
                                f"{libexecdir}/h2mon-service", f"{libexecdir}/h2mon-report"):
                    self.assertTrue(os.access(installed(program), os.X_OK), program)
                for path in (f"{sysconfdir}/logrotate.d/h2mon",
                             f"{sysconfdir}/h2mon/example.conf.sample",
                             f"{unitdir}/h2mon-report.timer",
                             f"{prefix}/lib/sysusers.d/h2mon.conf",
                             f"{prefix}/lib/tmpfiles.d/h2mon.conf",
                             f"{prefix}/share/man/man5/h2mon.conf.5"):
                    self.assertTrue(os.path.isfile(installed(path)), path)

                recorder = unit_settings(installed(f"{unitdir}/h2mon@.service"))
                self.assertEqual(recorder["EnvironmentFile"], [f"{sysconfdir}/h2mon/%i.conf"])
                self.assertEqual(recorder["ExecStart"][0].split()[:2],
                                 [f"{libexecdir}/h2mon-service", f"{bindir}/h2mon"])
                exporter = unit_settings(installed(f"{unitdir}/h2export.service"))
                self.assertEqual(exporter["ExecStart"][0].split()[0], f"{bindir}/h2export")
                report = unit_settings(installed(f"{unitdir}/h2mon-report.service"))
                self.assertEqual(report["ExecStart"], [f"{libexecdir}/h2mon-report"])
                with open(installed(f"{libexecdir}/h2mon-report")) as f:
                    self.assertIn(f"    {bindir}/h2plot ", f.read())

    def test_no_installed_file_names_the_configured_prefix(self):
        # The build is configured for /usr/local (CMake's default). The docs
        # under share/ may show it in examples.
        installed = self.install("/usr")
        root = installed("/")
        for folder, _, files in os.walk(root):
            if folder.startswith(installed("/usr/share")):
                continue
            for name in files:
                path = os.path.join(folder, name)
                with open(path, "rb") as f:
                    text = f.read()
                if b"\0" not in text:  # the programs are not looked at
                    self.assertFalse(b"/usr/local" in text, os.path.relpath(path, root))


def main():
    global BUILD_DIR
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", required=True)
    options, rest = parser.parse_known_args()
    BUILD_DIR = options.build_dir
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
