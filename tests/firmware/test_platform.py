"""memmap, sysinfo and reset in OVMF. The memory map's usable types add up to nearly the
memory QEMU was given with -m; `reset -s` ends a -no-reboot QEMU with a shutdown; after
`reset setup` the variable store holds bit 0 of OsIndications (read on the host by the
store reader of test_var), and the next boot of that store goes into the firmware's own
setup screen and clears the bit."""

import json
import os
import re
import socket
import struct
import tempfile
import time

from harness import Machine, expect, run_cases
from test_var import read_store

PROMPT = "fs0:\\> "
MEMORY_MB = 256
GLOBAL = "8be4df61-93ca-11d2-aa0d-00e098032b8c"
# The types that are RAM the firmware hands out: loader, boot and runtime services,
# conventional memory.
USABLE = ("LoaderCode", "LoaderData", "BootServicesCode", "BootServicesData", "RuntimeCode",
          "RuntimeData", "Conventional")


def run_line(m: Machine, line: str) -> str:
    m.send_line(line)
    m.wait_for(line + "\n")
    mark = m.mark()
    m.wait_for(PROMPT)
    return m.since(mark)[: -len(PROMPT)]


def os_indications(store: str) -> int | None:
    for (name, guid), (_, data) in read_store(store).items():
        if name == "OsIndications" and str(guid) == GLOBAL and len(data) == 8:
            return struct.unpack("<Q", data)[0]
    return None


class Qmp:
    """QEMU's machine protocol on a Unix socket: the SHUTDOWN event says whether the guest
    shut down ("guest-shutdown") or reset ("guest-reset", which -no-reboot turns into an exit)."""

    def __init__(self, folder: str):
        self.path = os.path.join(folder, "qmp.sock")
        self.args = ["-qmp", "unix:%s,server=on,wait=off" % self.path]
        self.sock: socket.socket | None = None

    def connect(self) -> None:
        for _ in range(50):
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(self.path)
                break
            except OSError:
                self.sock.close()
                self.sock = None
                time.sleep(0.1)
        expect(self.sock is not None, "no QMP socket")
        self.sock.sendall(b'{"execute": "qmp_capabilities"}\n')

    def shutdown_reason(self) -> str | None:
        """After QEMU ended: the reason of its SHUTDOWN event."""
        self.sock.settimeout(5)
        data = b""
        try:
            while chunk := self.sock.recv(4096):
                data += chunk
        except OSError:
            pass
        self.sock.close()
        for line in data.decode("utf-8", "replace").splitlines():
            try:
                message = json.loads(line)
            except ValueError:
                continue
            if message.get("event") == "SHUTDOWN":
                return message.get("data", {}).get("reason")
        return None


def memory_map_and_shutdown(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-qmp-") as folder:
        qmp = Qmp(folder)
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", memory_mb=MEMORY_MB, name="platform",
                     extra_args=qmp.args) as m:
            qmp.connect()
            check_memory_map(m)
            m.send_line("reset -s maintenance")
            expect(m.wait_exit(30) == 0, "reset -s did not end QEMU")
        reason = qmp.shutdown_reason()
        expect(reason == "guest-shutdown", "reset -s: QEMU saw %r" % reason)


def check_memory_map(m: Machine) -> None:
    m.wait_boot()
    m.wait_for(PROMPT)
    run_line(m, "set -v pager off")
    summary = run_line(m, "memmap -s")
    pages = {name: int(count) for name, count, _ in
             re.findall(r"^(\w+) +(\d+) +(\d+)$", summary, re.M)}
    usable_mib = sum(pages.get(t, 0) for t in USABLE) * 4096 / 2**20
    expect(MEMORY_MB - 16 <= usable_mib <= MEMORY_MB, "usable memory %.1f MiB\n%s" % (usable_mib, summary))
    total = re.search(r"Total memory: (\d+) MiB, available to the OS: (\d+) MiB", summary)
    expect(total is not None, "no totals:\n%s" % summary)
    expect(int(total.group(2)) <= int(total.group(1)) <= MEMORY_MB, summary)

    records = run_line(m, "memmap -s -data")
    for kind, count, size in re.findall(r"type=(\w+)\npages=(\d+)\nbytes=(\d+)", records):
        expect(int(size) == int(count) * 4096 and pages.get(kind) == int(count), "%s: %s" % (kind, records))
    listing = run_line(m, "memmap")
    rows = re.findall(r"^(\w+) +([0-9a-f]{16}) ([0-9a-f]{16}) +(\d+)  [0-9a-f]{16}$", listing, re.M)
    expect(len(rows) > 10, "descriptor rows:\n%s" % listing)
    for _, start, end, count in rows:
        expect(int(end, 16) - int(start, 16) + 1 == int(count) * 4096, "row %s %s %s" % (start, end, count))

    info = run_line(m, "sysinfo")
    expect("Memory:   %s MiB\n" % total.group(1) in info, info)
    expect(re.search(r"Tables:   \d+ configuration tables, ACPI, SMBIOS\n", info) is not None, info)
    expect("Started from: fs0: " in info and "UEFI:     2." in info, info)
    expect(re.search(r"CPU:      .*\w", info) is not None, info)
    record = run_line(m, "sysinfo -data")
    expect("\nmemory=%s\n" % total.group(1) in record and "\nacpi=yes\n" in record, record)
    expect("graphics_width" not in record, "graphics without a display: %s" % record)


def warm_reset_with_a_display(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-qmp-") as folder:
        qmp = Qmp(folder)
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="platform-warm",
                     extra_args=qmp.args + ["-device", "VGA"]) as m:
            qmp.connect()
            m.wait_boot()
            m.wait_for(PROMPT)
            info = run_line(m, "sysinfo")
            shown = re.search(r"Graphics: (\d+) x (\d+) \(mode (\d+) of (\d+)\), frame buffer at 0x[0-9a-f]+\n", info)
            expect(shown is not None and int(shown.group(3)) < int(shown.group(4)), info)
            record = run_line(m, "sysinfo -data")
            expect("\ngraphics_width=%s\ngraphics_height=%s\nframebuffer=0x" % shown.group(1, 2) in record, record)
            m.send_line("reset -w")
            expect(m.wait_exit(30) == 0, "reset -w did not end QEMU")
        reason = qmp.shutdown_reason()
        expect(reason == "guest-reset", "reset -w: QEMU saw %r" % reason)


def setup_mode_across_boots(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-platform-") as folder:
        store = os.path.join(folder, "vars.fd")
        qmp = Qmp(folder)
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="setup",
                     extra_args=qmp.args) as m:
            qmp.connect()
            m.wait_boot()
            m.wait_for(PROMPT)
            m.send_line("reset setup")
            # A cold reset under -no-reboot ends QEMU.
            expect(m.wait_exit(30) == 0, "reset setup did not restart the machine")
        reason = qmp.shutdown_reason()
        expect(reason == "guest-reset", "reset setup: QEMU saw %r" % reason)
        value = os_indications(store)
        expect(value is not None and value & 1, "OsIndications after reset setup: %r" % value)

        # The firmware sees the bit, clears it and starts its own setup screen.
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="setup-next",
                     stop_on_other_boot=False) as m:
            m.wait_for('loading Boot0000 "UiApp"', timeout=60)
            m.wait_for("Continue", timeout=30)
            m.kill()
        value = os_indications(store)
        expect(value is None or not value & 1, "OsIndications after the setup boot: %r" % value)


if __name__ == "__main__":
    run_cases([memory_map_and_shutdown, warm_reset_with_a_display, setup_mode_across_boots])
