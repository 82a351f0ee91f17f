#!/usr/bin/env python3
"""Checks the built programs of the demo payload.

usage: check_payload.py PAYLOAD_DIR

The programs are copied into a private temporary folder laid out as an
installation (ORVI, Elevator, Plugins/*.so), so nothing is written beside the
staged payload. Checked:
  - ORVI --version, ORVI --plugins (every plug-in loads and describes itself),
    ORVI without a display and with an unreachable one (exit code 0), and the
    start record of ORVI_DEMO_LOG;
  - Elevator appends its switches as one line to Elevator.log beside itself;
  - when Xvfb is installed: ORVI opens a top-level window of class
    "TORVIMainForm" with its title, _NET_WM_PID and WM_DELETE_WINDOW, and
    ends with exit code 0 when asked to close through WM_DELETE_WINDOW. The X
    side is spoken directly (a minimal X11 client below), so nothing else is
    needed.
Exit code 0 when everything holds, 1 otherwise.
"""

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)
    return condition


def run(args, env=None, timeout=10):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=timeout)


def environment(**changes):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "ORVI_DEMO_LOG")}
    env.update(changes)
    return env


def install(payload, target):
    os.makedirs(os.path.join(target, "Plugins"))
    for name in ("ORVI", "Elevator"):
        shutil.copy2(os.path.join(payload, name), target)
    plugins = sorted(n for n in os.listdir(payload) if n.endswith(".so"))
    for name in plugins:
        shutil.copy2(os.path.join(payload, name), os.path.join(target, "Plugins"))
    return plugins


def check_player(folder, plugins):
    orvi = os.path.join(folder, "ORVI")
    result = run([orvi, "--version"], environment())
    check(result.returncode == 0 and result.stdout == "ORVI 5.30\n",
          f"ORVI --version: {result.returncode} {result.stdout!r}")

    result = run([orvi, "--plugins"], environment())
    listed = [line.split(":")[0] for line in result.stdout.splitlines()]
    check(result.returncode == 0 and listed == plugins,
          f"ORVI --plugins: {result.returncode} {result.stdout!r} {result.stderr!r}")

    log = os.path.join(folder, "start.log")
    result = run([orvi, "song one.flac"], environment(ORVI_DEMO_LOG=log))
    check(result.returncode == 0 and "no display" in result.stdout,
          f"ORVI without a display: {result.returncode} {result.stdout!r}")
    with open(log) as f:
        record = f.read()
    check(record.startswith("ORVI pid=") and record.endswith(" song one.flac\n"),
          f"start record: {record!r}")

    result = run([orvi], environment(DISPLAY=":64999"))
    check(result.returncode == 0 and "cannot open display" in result.stdout,
          f"ORVI with an unreachable display: {result.returncode} {result.stdout!r}")

    # A plug-in that is not one is reported, and the listing fails.
    with open(os.path.join(folder, "Plugins", "broken.so"), "wb") as f:
        f.write(b"not a library")
    result = run([orvi, "--plugins"], environment())
    check(result.returncode == 1 and "broken.so: cannot load" in result.stdout,
          f"ORVI --plugins with a broken plug-in: {result.returncode} {result.stdout!r}")
    os.remove(os.path.join(folder, "Plugins", "broken.so"))


def check_elevator(folder):
    elevator = os.path.join(folder, "Elevator")
    for args in (["/REG=L1", "/REG=D1", "/REG=R1", "/REG=M1", "/REG=R2", "/REG_UI"], ["/REG=U"], []):
        result = run([elevator] + args, environment())
        check(result.returncode == 0, f"Elevator {args}: exit code {result.returncode} {result.stderr!r}")
    with open(os.path.join(folder, "Elevator.log")) as f:
        lines = f.read().split("\n")
    check(lines == ["/REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2 /REG_UI", "/REG=U", "", ""],
          f"Elevator.log: {lines!r}")


# --- a minimal X11 client -------------------------------------------------------


class X11:
    def __init__(self, display_number):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(f"/tmp/.X11-unix/X{display_number}")
        self.sock.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))
        head = self.read(8)
        if head[0] != 1:
            raise RuntimeError("X connection refused")
        data = self.read(struct.unpack_from("<H", head, 6)[0] * 4)
        vendor_length = struct.unpack_from("<H", data, 16)[0]
        formats = data[21]
        self.root = struct.unpack_from("<I", data, 32 + pad4(vendor_length) + 8 * formats)[0]

    def read(self, count):
        data = b""
        while len(data) < count:
            piece = self.sock.recv(count - len(data))
            if not piece:
                raise RuntimeError("X connection closed")
            data += piece
        return data

    def request(self, opcode, data_byte, body, reply=True):
        length = 1 + len(body) // 4
        self.sock.sendall(struct.pack("<BBH", opcode, data_byte, length) + body)
        if not reply:
            return None
        while True:
            packet = self.read(32)
            if packet[0] == 0:
                raise RuntimeError(f"X error {packet[1]} for request {opcode}")
            if packet[0] == 1:
                extra = struct.unpack_from("<I", packet, 4)[0] * 4
                return packet + self.read(extra)
            # an event: none is selected, skip it

    def atom(self, name):
        raw = name.encode()
        body = struct.pack("<HH", len(raw), 0) + raw + b"\0" * (pad4(len(raw)) - len(raw))
        return struct.unpack_from("<I", self.request(16, 0, body), 8)[0]

    def children(self, window):
        reply = self.request(15, 0, struct.pack("<I", window))
        count = struct.unpack_from("<H", reply, 16)[0]
        return list(struct.unpack_from(f"<{count}I", reply, 32))

    def property(self, window, atom):
        reply = self.request(20, 0, struct.pack("<IIIII", window, atom, 0, 0, 1024))
        fmt = reply[1]
        count = struct.unpack_from("<I", reply, 16)[0]
        return fmt, reply[32:32 + count * max(fmt // 8, 1)]

    def send_client_message(self, window, message_type, value):
        event = struct.pack("<BBHII5I", 33, 32, 0, window, message_type, value, 0, 0, 0, 0)
        self.request(25, 0, struct.pack("<II", window, 0) + event, reply=False)
        self.request(43, 0, b"")  # GetInputFocus: a round trip, so the event has been sent

    def close(self):
        self.sock.close()


def pad4(n):
    return (n + 3) & ~3


def check_window(folder):
    xvfb = shutil.which("Xvfb")
    if not xvfb:
        print("skipped: the window check needs Xvfb")
        return
    read_end, write_end = os.pipe()
    server = subprocess.Popen([xvfb, "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
                               "800x600x24"], pass_fds=(write_end,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    player = None
    try:
        with os.fdopen(read_end) as f:
            display = f.readline().strip()
        if not check(display.isdigit(), f"Xvfb did not start: {display!r}"):
            return
        player = subprocess.Popen([os.path.join(folder, "ORVI")], env=environment(DISPLAY=":" + display),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        x = X11(display)
        wm_class, wm_name = 67, 39  # predefined atoms
        found = None
        deadline = time.monotonic() + 10
        while found is None and time.monotonic() < deadline and player.poll() is None:
            for window in x.children(x.root):
                if x.property(window, wm_class)[1] == b"orvi\0TORVIMainForm\0":
                    found = window
            time.sleep(0.05)
        if not check(found is not None, "no window of class TORVIMainForm appeared"):
            return
        check(x.property(found, wm_name)[1] == b"ORVI 5.30", "WM_NAME of the player window")
        fmt, pid = x.property(found, x.atom("_NET_WM_PID"))
        check(fmt == 32 and struct.unpack("<I", pid)[0] == player.pid, "_NET_WM_PID of the player window")
        protocols, delete = x.atom("WM_PROTOCOLS"), x.atom("WM_DELETE_WINDOW")
        fmt, value = x.property(found, protocols)
        check(delete in struct.unpack(f"<{len(value) // 4}I", value), "WM_PROTOCOLS lacks WM_DELETE_WINDOW")
        x.send_client_message(found, protocols, delete)
        try:
            code = player.wait(timeout=10)
            check(code == 0, f"ORVI ended with exit code {code} after WM_DELETE_WINDOW")
        except subprocess.TimeoutExpired:
            check(False, "ORVI did not close on WM_DELETE_WINDOW")
        x.close()
        print("window check done on display :" + display)
    finally:
        if player and player.poll() is None:
            player.kill()
            player.wait()
        server.terminate()
        server.wait()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    payload = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="orvi-demo-") as folder:
        plugins = install(payload, folder)
        check(len(plugins) >= 1, "no plug-ins in the payload")
        check_player(folder, plugins)
        check_elevator(folder)
        check_window(folder)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("payload programs: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
