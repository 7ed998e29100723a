"""telvane-cli cameras / capture against the simulated VER2.

usage: cli_camera_test.py <telvane-cli> <scratch folder>
"""
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

CLI = sys.argv[1]
WORK = sys.argv[2]
RECORD = 2880
# Trimmed full-resolution VER2 frame, 16-bit.
FRAME_BYTES = 2048 * 1536 * 2


def run(*args, env_sim=False, timeout=120):
    env = dict(os.environ)
    env.pop("TELVANE_SIMULATOR", None)
    if env_sim:
        env["TELVANE_SIMULATOR"] = "1"
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=timeout, env=env)


def header_value(path, keyword):
    with open(path, "rb") as f:
        header = f.read(RECORD * 4).decode("ascii", "replace")
    for k in range(0, len(header), 80):
        card = header[k:k + 80]
        if card.startswith(keyword.ljust(8) + "="):
            return card[10:].split("/")[0].strip()
        if card.startswith("END     "):
            break
    return None


class CameraCommands(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(WORK, self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)

    def test_cameras_lists_the_simulated_ver2(self):
        for args, env_sim in ((["--simulate"], False), ([], True)):
            r = run("cameras", *args, env_sim=env_sim)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, "1: 3.3 MPix Camera device 0\n")

    def test_capture_saves_numbered_fits_files_and_never_overwrites(self):
        base = os.path.join(self.dir, "m42.FIT")
        args = ["capture", "--simulate", "--camera", "1", "--mode", "1", "--exposure", "50",
                "--count", "2", "--gain", "50", "--offset", "10", "--out", base]
        r = run(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        names = [os.path.join(self.dir, "m42_00000.FIT"), os.path.join(self.dir, "m42_00001.FIT")]
        self.assertEqual(r.stdout.splitlines(), names)
        for name in names:
            size = os.path.getsize(name)
            self.assertEqual(size % RECORD, 0, name)
            self.assertGreaterEqual(size, FRAME_BYTES + RECORD, name)
            self.assertEqual(header_value(name, "NAXIS1"), "2048")
            self.assertEqual(header_value(name, "NAXIS2"), "1536")
            self.assertEqual(header_value(name, "EXPOSURE"), "0.0500")
        if shutil.which("fitsverify"):
            v = subprocess.run(["fitsverify", "-q", names[0]], capture_output=True, text=True)
            self.assertEqual(v.returncode, 0, v.stdout + v.stderr)
        # A second run continues the numbering.
        r = run(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual([os.path.basename(n) for n in r.stdout.splitlines()],
                         ["m42_00002.FIT", "m42_00003.FIT"])

    def test_binned_mode_and_camera_by_caption(self):
        r = run("capture", "--simulate", "--camera", "3.3 MPix Camera device 0", "--mode", "3",
                "--exposure", "10", "--count", "1", "--out", os.path.join(self.dir, "b.fit"))
        self.assertEqual(r.returncode, 0, r.stderr)
        (name,) = r.stdout.splitlines()
        self.assertTrue(name.endswith("b_00000.FIT"), name)
        self.assertEqual(header_value(name, "NAXIS1"), "1024")
        self.assertEqual(header_value(name, "NAXIS2"), "768")

    def test_ctrl_c_cancels_and_still_saves_the_frame(self):
        base = os.path.join(self.dir, "long.FIT")
        env = dict(os.environ)
        env.pop("TELVANE_SIMULATOR", None)
        p = subprocess.Popen([CLI, "capture", "--simulate", "--camera", "1", "--mode", "3",
                              "--exposure", "60000", "--count", "3", "--out", base],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        # Interrupt once the first capture is exposing (its progress line is out).
        seen = []
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            line = p.stderr.readline()
            seen.append(line)
            if not line or line.startswith("exposure 1/3:"):
                break
        self.assertTrue(seen[-1].startswith("exposure 1/3:"), "".join(seen))
        start = time.monotonic()
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=30)
        err = "".join(seen) + err
        self.assertLess(time.monotonic() - start, 15, "cancel was not prompt")
        self.assertEqual(p.returncode, 130, err)
        self.assertEqual(out.splitlines(), [os.path.join(self.dir, "long_00000.FIT")])
        self.assertEqual(header_value(out.strip(), "EXPOSURE"), "0.0000")

    def test_usage_errors_exit_2(self):
        out = os.path.join(self.dir, "x.FIT")
        good = ["--simulate", "--camera", "1", "--mode", "1", "--exposure", "10", "--count", "1",
                "--out", out]

        def without(option):
            k = good.index(option)
            return good[:k] + good[k + 2:]

        def replaced(option, value):
            k = good.index(option)
            return good[:k + 1] + [value] + good[k + 2:]

        cases = {
            "no arguments": [],
            "missing --out": without("--out"),
            "missing --mode": without("--mode"),
            "missing --count": without("--count"),
            "not a .FIT name": replaced("--out", os.path.join(self.dir, "x.fits")),
            "folder missing": replaced("--out", os.path.join(self.dir, "nope", "x.FIT")),
            "mode 0": replaced("--mode", "0"),
            "mode beyond the camera's three": replaced("--mode", "4"),
            "negative exposure": replaced("--exposure", "-1"),
            "exposure beyond 24 bits": replaced("--exposure", "16777216"),
            "exposure not a number": replaced("--exposure", "5s"),
            "count 0": replaced("--count", "0"),
            "gain 101": good + ["--gain", "101"],
            "no such entry": replaced("--camera", "2"),
            "unknown option": good + ["--fast"],
            "value missing at the end": good + ["--gain"],
        }
        for what, args in cases.items():
            with self.subTest(what):
                r = run("capture", *args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn("usage: telvane-cli capture", r.stderr)
                self.assertEqual(r.stdout, "")
        self.assertEqual(os.listdir(self.dir), [])  # nothing was written
        r = run("cameras", "--bogus")
        self.assertEqual(r.returncode, 2)
        self.assertIn("usage: telvane-cli cameras", r.stderr)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
