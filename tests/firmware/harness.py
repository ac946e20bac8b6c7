"""Boots EFI images in QEMU with OVMF and talks to them over the serial console.

The firmware test cases (tests/firmware/test_*.py) use this module. Python 3 standard
library only.

A typical case:

    from harness import Machine, run_cases, expect

    def check_version(efi_dir):
        with Machine(efi_dir, launch=r"\\tarn.efi tarn.efi -c ver",
                     files={r"\\data\\a.txt": "hello\\n"}) as m:
            m.wait_for("TARN")
            status = m.exit_status()          # waits for the shutdown, reads \\result.txt
            expect(status == 0, "status %#x" % status)

    if __name__ == "__main__":
        run_cases([check_version])

How a run is set up
-------------------
* The boot disk (disk 0) is a FAT image made with `mkfs.vfat -C` and filled with
  `mmd`/`mcopy`. Either the launcher (build/efi/launcher.efi) is \\EFI\\BOOT\\BOOTX64.EFI
  and \\launch.txt tells it what to start (`launch="..."`), or an image from the EFI
  build directory is booted directly (`boot="tarn.efi"`, which receives no arguments).
* \\launch.txt holds one line: the path of the image on the boot disk, blanks, then the
  command line handed to it as its load options (first word by convention the program
  name): `\\tarn.efi tarn.efi -h`. The launcher prints
  "launcher: exit status 0x%016x", writes that status ("0x%016x") as the first line of
  \\result.txt (a second line "data: TEXT" when the image left exit data; "error: ..."
  instead when the launcher itself failed) and shuts the machine down. When the image
  named by the launch line is not among `files`, it is copied from the EFI build
  directory.
* Extra disks (`disks=[{...files...}, "/path/to/existing.img"]`) are attached as further
  virtio disks. The firmware numbers volumes in its own order, not in command-line order.
* The variable store is a fresh copy of OVMF_VARS_4M.fd for every run, or the file given
  as `vars_file` (created from the template when missing) so that several boots share
  variables.

Serial line
-----------
QEMU's serial port is on its standard input and output, both pipes. With pipes,
`-serial stdio` and `-chardev stdio,id=s0,signal=off -serial chardev:s0` both deliver
every byte (measured: a burst of 1000 keys arrives complete and in order, about 10 ms a
key); the chardev form is used because it is also the right one under a terminal, where
it keeps Ctrl-C (byte 3) from stopping QEMU. Keys arrive through the firmware's PC-ANSI
terminal: see KEYS. A lone Esc reaches the application only after about 2 s, so
send_key("Esc") waits that long before returning.

Output is kept twice: `raw` (bytes as sent) and `text` (terminal escape sequences
`ESC [ ... letter` and CR removed, decoded as Latin-1; characters outside ASCII arrive as
`?`). wait_for() searches `text` from a cursor that moves past each match, so a
sequence of waits reads the output in order.

A terminal of a given size
--------------------------
`terminal=(columns, rows)` runs QEMU under a pseudo-terminal of that size (raw mode, so
bytes pass unchanged) instead of pipes, and replays every byte QEMU writes into a screen
model of that terminal (pyte, Debian package python3-pyte): `screen_lines()` is what a
person would see, scrolled-off lines included. The model answers the cursor position
query `ESC [ 6 n` on the line as a terminal does (pyte's write_process_input hook), so the
shell can learn the real size; `answer_queries=False` makes a terminal that never
answers. Without pyte such a run raises FirmwareError naming the package.

Ending a run
------------
A run must end with a firmware reset or shutdown (QEMU runs with -no-reboot and exits), a
write to the debug-exit port 0xf4 (QEMU exits with 2v+1), or by the harness: leaving the
`with` block, a failure, the global time limit (`timeout`, default 120 s) or the
firmware starting another boot option (an application that returned to the boot manager:
"BdsDxe: loading Boot0000 \\"UiApp\\"", a second "BdsDxe: starting", the firmware's
own shell) all kill QEMU. QEMU is started with a parent-death signal, so it dies with the
test process even when that is killed.
"""

from __future__ import annotations

import argparse
import ctypes
import fcntl
import os
import pathlib
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import traceback
import tty
from typing import Callable, Iterable, Union

# ---------------------------------------------------------------- configuration

OVMF_DIRS = ["/usr/share/OVMF", "/usr/share/ovmf", "/usr/share/qemu"]
OVMF_CODE = "OVMF_CODE_4M.fd"
OVMF_VARS = "OVMF_VARS_4M.fd"
OVMF_CODE_SECURE = "OVMF_CODE_4M.snakeoil.fd"
OVMF_VARS_SECURE = "OVMF_VARS_4M.snakeoil.fd"
SNAKEOIL_KEY = "/usr/share/ovmf/PkKek-1-snakeoil.key"
SNAKEOIL_CERT = "/usr/share/ovmf/PkKek-1-snakeoil.pem"

# Time limits, in seconds. A boot takes about 5 s on an idle machine and several times
# that on a loaded one; TARN_FW_TIME_SCALE multiplies every limit, the defaults below and
# those a case passes (e.g. 3 on a slow host).
TIME_SCALE = float(os.environ.get("TARN_FW_TIME_SCALE", "1") or "1")
DEFAULT_TIMEOUT = 180.0  # a whole run
DEFAULT_WAIT = 30.0  # one wait_for
BOOT_WAIT = 120.0  # from QEMU's start to the boot manager starting the image
LONE_ESC_DELAY = 2.5  # seconds the firmware terminal needs to pass a lone Esc on

REQUIRED_TOOLS = {
    "qemu-system-x86_64": "qemu-system-x86",
    "mkfs.vfat": "dosfstools",
    "mcopy": "mtools",
}

# Keys as the firmware's PC-ANSI terminal decodes them from the serial line.
KEYS: dict[str, bytes] = {
    "Enter": b"\r",
    "Tab": b"\t",
    "Backspace": b"\x08",
    "Esc": b"\x1b",
    "Up": b"\x1b[A",
    "Down": b"\x1b[B",
    "Right": b"\x1b[C",
    "Left": b"\x1b[D",
    "Home": b"\x1b[H",
    "End": b"\x1b[F",
    "Insert": b"\x1b[@",
    "Delete": b"\x1b[X",
    "PageUp": b"\x1b[I",
    "PageDown": b"\x1b[G",
}
for _i in range(10):
    KEYS["F%d" % (_i + 1)] = b"\x1b[" + bytes([ord("M") + _i])
for _i in range(26):
    KEYS["Ctrl-" + chr(ord("A") + _i)] = bytes([_i + 1])

_ESCAPE = re.compile(r"\x1b\[[0-9;=?]*[A-Za-z]")
_ESCAPE_PREFIX = re.compile(r"\x1b(\[[0-9;=?]*)?")

# Lines that show the firmware went on to something other than the image under test.
_OTHER_BOOT = re.compile(
    r'BdsDxe: (?:loading|starting) Boot[0-9A-Fa-f]{4} "(?:UiApp|EFI Internal Shell|UEFI Shell)'
    r"|UEFI Interactive Shell|Press ESC in \d+ seconds to skip startup\.nsh"
)
_BDS_START = re.compile(r"BdsDxe: starting Boot[0-9A-Fa-f]{4}")
_BDS_LOAD = re.compile(r"BdsDxe: loading Boot[0-9A-Fa-f]{4}")
_CPU_EXCEPTION = re.compile(r"!!!! X64 Exception Type - [^\n]*")

_STATUS_LINE = re.compile(r"launcher: exit status (0x[0-9a-f]{16})")


class FirmwareError(Exception):
    """A run did not go as expected: timeout, QEMU gone, another boot option, ..."""


def expect(condition: bool, message: str = "check failed") -> None:
    """Fails the current case when `condition` is false (kept under python -O)."""
    if not condition:
        raise AssertionError(message)


# ---------------------------------------------------------------- host tools


def find_tool_problems() -> list[str]:
    """Names of the Debian packages whose tools or files are missing."""
    missing = [pkg for tool, pkg in REQUIRED_TOOLS.items() if shutil.which(tool) is None]
    try:
        find_ovmf()
    except FirmwareError:
        missing.append("ovmf")
    return missing


def tshark_fields(capture: str, display_filter: str, fields: list[str],
                  preferences: Iterable[str] = ()) -> list[list[str]]:
    """The fields of the packets in a capture file that match a display filter, decoded
    by tshark (package tshark): one list of field texts per packet."""
    args = ["tshark", "-r", capture, "-Y", display_filter, "-T", "fields", "-E", "separator=|"]
    for preference in preferences:
        args += ["-o", preference]
    for field in fields:
        args += ["-e", field]
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise FirmwareError("tshark failed: %s" % done.stderr.strip()[-300:])
    return [line.split("|") for line in done.stdout.splitlines() if line]


def records(text: str) -> list[dict[str, str]]:
    """The records of -data output: blocks of KEY=VALUE lines between empty lines."""
    out = []
    for block in re.split(r"\n\s*\n", text.replace("\r", "")):
        fields = dict(line.split("=", 1) for line in block.splitlines() if "=" in line)
        if fields:
            out.append(fields)
    return out


def ones_sum(data: bytes) -> int:
    """The ones' complement sum of 16-bit big-endian words (an odd byte padded with zero):
    0xFFFF over a packet whose Internet checksum is right."""
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total


def find_ovmf(secure: bool = False) -> tuple[str, str]:
    """The firmware code and variable template files."""
    code_name, vars_name = (OVMF_CODE_SECURE, OVMF_VARS_SECURE) if secure else (OVMF_CODE, OVMF_VARS)
    for d in OVMF_DIRS:
        code = os.path.join(d, code_name)
        template = os.path.join(d, vars_name)
        if os.path.isfile(code) and os.path.isfile(template):
            return code, template
    raise FirmwareError("OVMF firmware %s not found (install the ovmf package)" % code_name)


def _mtools_env() -> dict[str, str]:
    env = dict(os.environ)
    env["MTOOLS_SKIP_CHECK"] = "1"
    return env


def _run(args: list[str], **kwargs) -> subprocess.CompletedProcess:
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=_mtools_env(), **kwargs)
    if result.returncode != 0:
        raise FirmwareError("%s failed (%d): %s" % (" ".join(args), result.returncode,
                                                   result.stderr.decode("utf-8", "replace").strip()))
    return result


def _mpath(path: str) -> str:
    """A firmware path (`\\dir\\file`) as an mtools path (`::/dir/file`)."""
    p = path.replace("\\", "/")
    if not p.startswith("/"):
        p = "/" + p
    return "::" + p


FileContent = Union[bytes, str, pathlib.Path]


def make_fat_image(image: str, files: dict[str, FileContent] | None = None,
                   size_mb: int = 16, fat_bits: int | None = None, label: str = "TARNTEST") -> str:
    """Creates a FAT image file holding `files` (path on the volume -> content).

    A content is bytes, text (written as UTF-8 exactly as given) or a pathlib.Path of a
    host file to copy. Folders are created as needed; a path ending in `\\` with content
    None makes an empty folder.
    """
    if os.path.exists(image):
        os.unlink(image)
    args = ["mkfs.vfat", "-C", "-n", label[:11]]
    if fat_bits:
        args += ["-F", str(fat_bits)]
    _run(args + [image, str(size_mb * 1024)])
    made: set[str] = set()

    def make_dirs(folder: str) -> None:
        parts = [p for p in folder.replace("\\", "/").split("/") if p]
        for i in range(len(parts)):
            d = "/".join(parts[: i + 1])
            if d.lower() not in made:
                _run(["mmd", "-i", image, "::/" + d])
                made.add(d.lower())

    with tempfile.TemporaryDirectory(prefix="tarn-fat-") as tmp:
        for n, (path, content) in enumerate((files or {}).items()):
            p = path.replace("\\", "/")
            if content is None:
                make_dirs(p)
                continue
            folder = p.rsplit("/", 1)[0] if "/" in p.strip("/") else ""
            if folder:
                make_dirs(folder)
            if isinstance(content, pathlib.Path):
                source = str(content)
            else:
                source = os.path.join(tmp, "f%d" % n)
                with open(source, "wb") as f:
                    f.write(content.encode("utf-8") if isinstance(content, str) else content)
            _run(["mcopy", "-o", "-i", image, source, _mpath(path)])
    return image


def read_image_file(image: str, path: str) -> bytes:
    """The content of a file on a FAT image (raises FirmwareError when it is missing)."""
    return _run(["mcopy", "-n", "-i", image, _mpath(path), "-"]).stdout


def image_file_exists(image: str, path: str) -> bool:
    result = subprocess.run(["mdir", "-b", "-i", image, _mpath(path)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=_mtools_env())
    return result.returncode == 0


def list_image_dir(image: str, path: str = "\\") -> str:
    """`mdir` output for a folder of a FAT image."""
    return _run(["mdir", "-i", image, _mpath(path)]).stdout.decode("latin-1")


def check_image(image: str) -> tuple[bool, str]:
    """Runs `fsck.vfat -n` on an image: (clean, report)."""
    result = subprocess.run(["fsck.vfat", "-n", image], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    return result.returncode == 0, result.stdout.decode("latin-1")


def sign_image(source: str, dest: str) -> str:
    """Signs an EFI image with the Debian snakeoil test key, which the Secure Boot OVMF
    trusts (needs sbsign from sbsigntool, and openssl). The key file is encrypted with
    the passphrase "snakeoil", which sbsign cannot be given: it is decrypted first."""
    for tool, package in (("sbsign", "sbsigntool"), ("openssl", "openssl")):
        if shutil.which(tool) is None:
            raise FirmwareError("%s not found (install the %s package)" % (tool, package))
    with tempfile.TemporaryDirectory(prefix="tarn-sign-") as tmp:
        key = os.path.join(tmp, "key.pem")
        _run(["openssl", "rsa", "-in", SNAKEOIL_KEY, "-passin", "pass:snakeoil", "-out", key])
        _run(["sbsign", "--key", key, "--cert", SNAKEOIL_CERT, "--output", dest, source])
    return dest


# ---------------------------------------------------------------- process lifetime

_live: set["Machine"] = set()
_live_lock = threading.Lock()
_PR_SET_PDEATHSIG = 1
try:
    _libc = ctypes.CDLL(None, use_errno=True)
except OSError:  # pragma: no cover
    _libc = None


def _die_with_parent() -> None:  # runs in the child between fork and exec
    if _libc is not None:
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def kill_all() -> None:
    """Kills every QEMU this process started that still runs."""
    with _live_lock:
        machines = list(_live)
    for m in machines:
        m.kill()


def _on_terminate(signum, frame):
    kill_all()
    raise SystemExit(128 + signum)


def _install_signal_handlers() -> None:
    if threading.current_thread() is not threading.main_thread():
        return
    for sig in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(sig) in (signal.SIG_DFL, None):
            signal.signal(sig, _on_terminate)


# ---------------------------------------------------------------- the machine


class Machine:
    """One QEMU run of OVMF booting a test disk. Use as a context manager.

    efi_dir      the firmware build folder (tarn.efi, launcher.efi, fwcheck.efi)
    launch       the line for \\launch.txt; the launcher is booted (see the module text)
    boot         without `launch`: the image from efi_dir booted directly (no arguments)
    files        more files for the boot disk: {"\\dir\\name": bytes | str | Path | None}
    disks        further disks: a dict of files (a new image) or the path of an image
    vars_file    keep the variable store in this file across runs (default: fresh copy)
    timeout      seconds for the whole run before QEMU is killed
    secure_boot  boot the snakeoil OVMF with Secure Boot active (sign with sign_image)
    network      None for no network card; else extra options for the isolated user
                 network, e.g. "tftp=/srv/dir" or "guestfwd=tcp:10.0.2.100:80-tcp:127.0.0.1:8080"
    monitor      open QEMU's human monitor for monitor("info pci")
    stop_on_other_boot  kill QEMU when the firmware goes on to another boot option
    terminal     (columns, rows): run under a pseudo-terminal of that size, replayed into
                 a screen model (see the module text); answer_queries: whether it answers
                 ESC [ 6 n
    """

    def __init__(self, efi_dir: str, *, launch: str | None = None, boot: str = "tarn.efi",
                 files: dict[str, FileContent] | None = None, disks: list | None = None,
                 vars_file: str | None = None, timeout: float = DEFAULT_TIMEOUT,
                 disk_size_mb: int = 16, memory_mb: int = 256, secure_boot: bool = False,
                 network: str | None = None, monitor: bool = False,
                 stop_on_other_boot: bool = True, extra_args: Iterable[str] = (),
                 workdir: str | None = None, keep: bool | None = None,
                 verbose: bool | None = None, name: str = "run",
                 terminal: tuple[int, int] | None = None, answer_queries: bool = True):
        self.efi_dir = os.path.abspath(efi_dir)
        self.launch = launch
        self.boot = boot
        self.files = dict(files or {})
        self.extra_disks = list(disks or [])
        self.vars_file = vars_file
        self.timeout = timeout * TIME_SCALE
        self.disk_size_mb = disk_size_mb
        self.memory_mb = memory_mb
        self.secure_boot = secure_boot
        self.network = network
        self.use_monitor = monitor
        self.stop_on_other_boot = stop_on_other_boot
        self.extra_args = list(extra_args)
        self.keep = _env_flag("TARN_FW_KEEP") if keep is None else keep
        self.verbose = _env_flag("TARN_FW_VERBOSE") if verbose is None else verbose
        self.name = name
        # A work folder the caller gives is theirs to remove; one made here is removed on close.
        self._own_workdir = workdir is None
        self.workdir = workdir or tempfile.mkdtemp(prefix="tarn-fw-%s-" % name)
        os.makedirs(self.workdir, exist_ok=True)

        self.images: list[str] = []  # disk 0 is the boot disk
        self.raw = b""
        self.text = ""
        self.stderr = b""
        self.other_boot: str | None = None  # the line that showed another boot option
        self.timed_out = False
        self.killed = False
        self.cursor = 0  # where the next wait_for starts searching `text`
        self.started_at = 0.0
        self.proc: subprocess.Popen | None = None
        self._pending = ""  # an escape sequence split across reads
        self._cond = threading.Condition()
        self._threads: list[threading.Thread] = []
        self._timer: threading.Timer | None = None
        self._monitor_path = os.path.join(self.workdir, "monitor.sock")
        self._monitor: socket.socket | None = None
        self._first_start: int | None = None  # end of the first "BdsDxe: starting"
        self.terminal = terminal
        self.answer_queries = answer_queries
        self._master: int | None = None  # the pseudo-terminal's controlling side
        self.screen = None  # pyte.HistoryScreen of the terminal
        self._stream = None

    # ---- setup

    def _efi(self, name: str) -> str:
        path = os.path.join(self.efi_dir, name)
        if not os.path.isfile(path):
            raise FirmwareError("%s not found in %s (build it: cmake --preset efi && "
                                "cmake --build --preset efi)" % (name, self.efi_dir))
        return path

    def _boot_files(self) -> dict[str, FileContent]:
        files: dict[str, FileContent] = {}
        if self.launch is not None:
            files["\\EFI\\BOOT\\BOOTX64.EFI"] = pathlib.Path(self._efi("launcher.efi"))
            files["\\launch.txt"] = self.launch + "\r\n"
            line = self.launch.lstrip("\ufeff").strip()
            target = line.split()[0] if line else ""
            if target:
                key = "\\" + target.replace("/", "\\").lstrip("\\")
                given = {k.replace("/", "\\").lower().lstrip("\\") for k in self.files}
                if key.lstrip("\\").lower() not in given:
                    local = os.path.join(self.efi_dir, os.path.basename(key.replace("\\", "/")))
                    if os.path.isfile(local):
                        files[key] = pathlib.Path(local)
        elif self.boot:
            files["\\EFI\\BOOT\\BOOTX64.EFI"] = pathlib.Path(self._efi(self.boot))
        files.update(self.files)
        return files

    def _prepare(self) -> list[str]:
        missing = find_tool_problems()
        if missing:
            raise FirmwareError("missing packages: %s (run tools/setup-deps.sh)" % " ".join(missing))
        code, template = find_ovmf(self.secure_boot)
        if self.vars_file:
            vars_path = os.path.abspath(self.vars_file)
            if not os.path.exists(vars_path):
                shutil.copyfile(template, vars_path)
        else:
            vars_path = os.path.join(self.workdir, "vars.fd")
            shutil.copyfile(template, vars_path)

        boot_image = os.path.join(self.workdir, "disk0.img")
        make_fat_image(boot_image, self._boot_files(), size_mb=self.disk_size_mb)
        self.images = [boot_image]
        for i, disk in enumerate(self.extra_disks, start=1):
            if isinstance(disk, (str, pathlib.Path)):
                self.images.append(os.path.abspath(str(disk)))
            else:
                path = os.path.join(self.workdir, "disk%d.img" % i)
                make_fat_image(path, disk, size_mb=self.disk_size_mb, label="TARNDISK%d" % i)
                self.images.append(path)

        machine = "q35,smm=on" if self.secure_boot else "q35"
        args = ["qemu-system-x86_64", "-machine", machine, "-m", str(self.memory_mb),
                "-nodefaults", "-display", "none", "-no-reboot",
                "-chardev", "stdio,id=s0,signal=off", "-serial", "chardev:s0",
                "-drive", "if=pflash,format=raw,readonly=on,file=" + code,
                "-drive", "if=pflash,format=raw,file=" + vars_path]
        if self.secure_boot:
            args += ["-global", "driver=cfi.pflash01,property=secure,value=on"]
        for i, image in enumerate(self.images):
            # Placed on the root bus by name: left to QEMU, a virtio disk goes to the last
            # bus created, which may be a pxb-pcie bridge that takes no devices.
            args += ["-drive", "file=%s,format=raw,if=none,id=disk%d" % (image, i),
                     "-device", "virtio-blk-pci,drive=disk%d,bus=pcie.0" % i]
        args += ["-device", "isa-debug-exit,iobase=0xf4,iosize=0x04"]
        if self.network is not None:
            # Isolated user networking only: the guest reaches QEMU's built-in DHCP and
            # TFTP servers (10.0.2.2) and what guestfwd rules name, nothing else.
            options = "user,id=n0,restrict=on" + ("," + self.network if self.network else "")
            args += ["-netdev", options, "-device", "virtio-net-pci,netdev=n0"]
        if self.use_monitor:
            args += ["-monitor", "unix:%s,server=on,wait=off" % self._monitor_path]
        return args + self.extra_args

    # ---- lifetime

    def start(self) -> "Machine":
        args = self._prepare()
        self.command = args
        _install_signal_handlers()
        self.started_at = time.monotonic()
        if self.terminal is not None:
            self.proc = self._start_under_terminal(args)
        else:
            self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, cwd=self.workdir,
                                         preexec_fn=_die_with_parent)
        with _live_lock:
            _live.add(self)
        for target in (self._read_stdout, self._read_stderr):
            t = threading.Thread(target=target, daemon=True)
            t.start()
            self._threads.append(t)
        self._timer = threading.Timer(self.timeout, self._on_timeout)
        self._timer.daemon = True
        self._timer.start()
        return self

    def _start_under_terminal(self, args: list[str]) -> subprocess.Popen:
        pyte = import_pyte()
        columns, rows = self.terminal
        self.screen = pyte.HistoryScreen(columns, rows, history=100000)
        if self.answer_queries:
            self.screen.write_process_input = self._answer
        else:
            self.screen.write_process_input = lambda data: None
        self._stream = pyte.ByteStream(self.screen)
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        tty.setraw(slave)
        self._master = master
        try:
            return subprocess.Popen(args, stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                                    cwd=self.workdir, preexec_fn=_die_with_parent)
        finally:
            os.close(slave)

    def _answer(self, data: str) -> None:
        try:
            os.write(self._master, data.encode("latin-1"))
        except OSError:
            pass

    def screen_lines(self) -> list[str]:
        """What the terminal shows, scrolled-off lines first, trailing blanks removed."""
        with self._cond:
            if self.screen is None:
                raise FirmwareError("screen_lines needs a run with terminal=(columns, rows)")
            lines = []
            for row in self.screen.history.top:
                lines.append("".join(row[x].data for x in range(self.screen.columns)).rstrip())
            lines += [line.rstrip() for line in self.screen.display]
        while lines and not lines[-1]:
            lines.pop()
        return lines

    def __enter__(self) -> "Machine":
        try:
            return self.start()
        except BaseException:
            self.close()
            raise

    def __exit__(self, exc_type, exc, tb) -> None:
        # A FirmwareError already carries the recent output.
        if exc_type is not None and not issubclass(exc_type, FirmwareError):
            _report_failure(self)
        self.close()

    def _on_timeout(self) -> None:
        if self.running():
            self.timed_out = True
            self.kill()

    def running(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def kill(self) -> None:
        """Stops QEMU at once (safe to call at any time)."""
        if self.proc is not None and self.proc.poll() is None:
            self.killed = True
            try:
                self.proc.kill()
            except OSError:
                pass
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:  # pragma: no cover
                pass

    def close(self) -> None:
        """Kills QEMU if it still runs, and removes the work folder unless kept."""
        self.kill()
        if self._timer is not None:
            self._timer.cancel()
        if self._monitor is not None:
            self._monitor.close()
            self._monitor = None
        for t in self._threads:
            t.join(timeout=5)
        if self._master is not None:
            try:
                os.close(self._master)
            except OSError:
                pass
            self._master = None
        if self.proc is not None:
            for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
                try:
                    if stream:
                        stream.close()
                except OSError:
                    pass
        with _live_lock:
            _live.discard(self)
        if self._own_workdir and not self.keep and os.path.isdir(self.workdir):
            shutil.rmtree(self.workdir, ignore_errors=True)

    def elapsed(self) -> float:
        return time.monotonic() - self.started_at if self.started_at else 0.0

    # ---- output

    def _read_stdout(self) -> None:
        fd = self._master if self._master is not None else self.proc.stdout.fileno()
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                break
            self._take(chunk)
        with self._cond:
            self._cond.notify_all()

    def _read_stderr(self) -> None:
        fd = self.proc.stderr.fileno()
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                break
            with self._cond:
                self.stderr += chunk

    def _take(self, chunk: bytes) -> None:
        s = self._pending + chunk.decode("latin-1")
        held = ""
        i = s.rfind("\x1b")
        if i >= 0 and _ESCAPE_PREFIX.fullmatch(s, i):
            held, s = s[i:], s[:i]
        cleaned = _ESCAPE.sub("", s).replace("\r", "")
        if self.verbose and cleaned:
            sys.stderr.write(cleaned)
            sys.stderr.flush()
        with self._cond:
            if self._stream is not None:
                self._stream.feed(chunk)
            self._pending = held
            self.raw += chunk
            # Look for another boot option in the new text plus a line's worth before it,
            # so a marker split across reads is still seen.
            start = max(0, len(self.text) - 200)
            self.text += cleaned
            if self.stop_on_other_boot and self.other_boot is None:
                self._check_other_boot(start)
            self._cond.notify_all()
        if self.other_boot is not None and self.running():
            self.kill()

    def _check_other_boot(self, start: int) -> None:
        window = self.text[start:]
        m = _OTHER_BOOT.search(window)
        if m:
            self.other_boot = _line_at(window, m.start())
            return
        # Our image is the first one the boot manager starts; anything it loads or
        # starts after that is a fall-through.
        if self._first_start is None:
            m = _BDS_START.search(self.text, start)
            if m is None:
                return
            self._first_start = m.end()
        begin = max(self._first_start, start)
        hit = _BDS_LOAD.search(self.text, begin) or _BDS_START.search(self.text, begin)
        if hit:
            self.other_boot = _line_at(self.text, hit.start())

    def prompt_command(self, line: str, prompt: str = "fs0:\\> ", timeout: float = 30) -> str:
        """Types a line at the prompt and waits for the next one; what the command printed
        (the echoed line removed)."""
        self.send_line(line)
        self.wait_for(line + "\n")
        got = self.wait_for(re.compile(r"(.*?)" + re.escape(prompt), re.S), timeout=timeout)
        return got.group(1)

    def last_error(self, prompt: str = "fs0:\\> ") -> int:
        """The shell's lasterror, read with `set lasterror`."""
        return int(re.search(r"0x([0-9a-f]+)", self.prompt_command("set lasterror", prompt)).group(1), 16)

    def output(self) -> str:
        """All console text so far (escape sequences and CR removed)."""
        with self._cond:
            return self.text

    def new_output(self) -> str:
        """Text after the cursor, and moves the cursor to the end."""
        with self._cond:
            s = self.text[self.cursor:]
            self.cursor = len(self.text)
            return s

    def mark(self) -> int:
        """The current end of the text, to compare with later output."""
        with self._cond:
            return len(self.text)

    def since(self, mark: int) -> str:
        with self._cond:
            return self.text[mark:]

    def _problem(self) -> str | None:
        if self.other_boot is not None:
            return "the firmware started another boot option (%s)" % self.other_boot
        if self.timed_out:
            return "global time limit of %.0f s reached" % self.timeout
        if self.proc is not None and self.proc.poll() is not None:
            return "QEMU exited (status %s)" % self.proc.returncode
        return None

    def wait_for(self, pattern: str | re.Pattern, timeout: float = DEFAULT_WAIT,
                 regex: bool = False) -> str | re.Match:
        """Waits until `pattern` appears after the cursor and moves the cursor past it.

        Returns the matched text (or the re.Match for a regular expression). Raises
        FirmwareError on timeout, QEMU exit or another boot option, with the recent output.
        """
        if isinstance(pattern, str) and regex:
            pattern = re.compile(pattern)
        timeout *= TIME_SCALE
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                if isinstance(pattern, re.Pattern):
                    m = pattern.search(self.text, self.cursor)
                    if m:
                        self.cursor = m.end()
                        return m
                else:
                    i = self.text.find(pattern, self.cursor)
                    if i >= 0:
                        self.cursor = i + len(pattern)
                        return pattern
                problem = self._problem()
                left = deadline - time.monotonic()
                if problem is None and left <= 0:
                    problem = "no %r within %.0f s" % (getattr(pattern, "pattern", pattern), timeout)
                if problem is not None:
                    if (self.proc is not None and self.proc.poll() is not None
                            and self._threads and self._threads[0].is_alive()):
                        # QEMU ended; let the reader take its last bytes, then search again.
                        self._cond.wait(0.2)
                        continue
                    break
                self._cond.wait(min(left, 0.5))
        if self.other_boot is not None or self.timed_out:
            self.kill()
        raise FirmwareError("waiting for %r: %s\n--- recent output ---\n%s" % (
            getattr(pattern, "pattern", pattern), problem, self.tail()))

    def wait_boot(self, timeout: float = BOOT_WAIT) -> None:
        """Waits until the firmware's boot manager starts the image on the boot disk."""
        self.wait_for(_BDS_START, timeout=timeout)

    def expect_absent(self, pattern: str, within: float = 0.0) -> None:
        """Fails if `pattern` appears after the cursor, now or during the next `within` s
        (not scaled: this is how long to watch, not a limit)."""
        end = time.monotonic() + within
        while True:
            with self._cond:
                if pattern in self.text[self.cursor:]:
                    raise AssertionError("unexpected %r in output:\n%s" % (pattern, self.tail()))
            if time.monotonic() >= end:
                return
            time.sleep(min(0.2, max(0.0, end - time.monotonic())))

    def cpu_exception(self) -> str | None:
        """The firmware's report of a processor exception, if one was printed."""
        m = _CPU_EXCEPTION.search(self.output())
        return m.group(0) if m else None

    def tail(self, lines: int = 40) -> str:
        with self._cond:
            text = self.text
        return "\n".join(text.splitlines()[-lines:])

    # ---- input

    def send(self, data: str | bytes) -> None:
        """Types text (str is encoded as Latin-1; use \\r for Enter) or raw bytes."""
        if isinstance(data, str):
            data = data.encode("latin-1")
        if not self.running():
            raise FirmwareError("cannot type: %s\n%s" % (self._problem(), self.tail()))
        try:
            if self._master is not None:
                os.write(self._master, data)
            else:
                self.proc.stdin.write(data)
                self.proc.stdin.flush()
        except (BrokenPipeError, OSError) as e:
            raise FirmwareError("cannot type: %s" % e)

    def send_line(self, line: str) -> None:
        """Types a line and Enter."""
        self.send(line + "\r")

    def send_key(self, name: str, count: int = 1) -> None:
        """Types a named key (see KEYS: Up, Home, Delete, Backspace, Esc, Ctrl-C, F1, ...)."""
        try:
            code = KEYS[name]
        except KeyError:
            raise ValueError("unknown key %r (known: %s)" % (name, ", ".join(sorted(KEYS))))
        for _ in range(count):
            self.send(code)
            if code == b"\x1b":
                time.sleep(LONE_ESC_DELAY)

    # ---- end of the run

    def wait_exit(self, timeout: float | None = None) -> int:
        """Waits for QEMU to end by itself; returns its exit status.

        Raises FirmwareError when the firmware went on to another boot option, the global
        time limit passed or `timeout` seconds passed (then QEMU is killed).
        """
        left = self.timeout - self.elapsed()
        limit = left if timeout is None else min(timeout * TIME_SCALE, left)
        try:
            code = self.proc.wait(timeout=max(0.0, limit) + 1.0)
        except subprocess.TimeoutExpired:
            self.kill()
            raise FirmwareError("QEMU did not end within %.0f s\n%s" % (limit, self.tail()))
        for t in self._threads:
            t.join(timeout=5)
        problem = None
        if self.other_boot is not None:
            problem = "the firmware started another boot option (%s)" % self.other_boot
        elif self.timed_out:
            problem = "global time limit of %.0f s reached" % self.timeout
        if problem:
            raise FirmwareError("%s\n--- recent output ---\n%s" % (problem, self.tail()))
        return code

    def debug_exit_value(self) -> int | None:
        """The value written to port 0xf4, when QEMU ended through the debug-exit device."""
        if self.proc is None or self.proc.returncode is None:
            return None
        code = self.proc.returncode
        if code > 0 and code % 2 == 1:
            return (code - 1) // 2
        return None

    def result_text(self) -> str:
        """\\result.txt as the launcher wrote it (after the run)."""
        return self.read_file("\\result.txt").decode("latin-1")

    def exit_status(self, timeout: float | None = None) -> int:
        """Waits for the launcher to shut the machine down and returns the image's status.

        The status comes from \\result.txt and must agree with the console line.
        """
        code = self.wait_exit(timeout)
        if code != 0:
            raise FirmwareError("QEMU ended with %d, not by a shutdown\n%s" % (code, self.tail()))
        try:
            result = self.result_text()
        except FirmwareError as e:
            raise FirmwareError("no \\result.txt (%s)\n%s" % (e, self.tail()))
        first = result.splitlines()[0] if result else ""
        if not re.fullmatch(r"0x[0-9a-f]{16}", first):
            raise FirmwareError("launcher result: %r\n%s" % (result, self.tail()))
        lines = _STATUS_LINE.findall(self.output())
        if lines != [first]:
            raise FirmwareError("console status lines %r do not match \\result.txt %r" % (lines, first))
        return int(first, 16)

    # ---- disks

    def image(self, disk: int = 0) -> str:
        return self.images[disk]

    def read_file(self, path: str, disk: int = 0) -> bytes:
        """A file from one of the disks (read it after the run has ended)."""
        return read_image_file(self.images[disk], path)

    def file_exists(self, path: str, disk: int = 0) -> bool:
        return image_file_exists(self.images[disk], path)

    def list_dir(self, path: str = "\\", disk: int = 0) -> str:
        return list_image_dir(self.images[disk], path)

    def check_disk(self, disk: int = 0) -> tuple[bool, str]:
        return check_image(self.images[disk])

    # ---- QEMU monitor (monitor=True)

    def monitor(self, command: str, timeout: float = 10.0) -> str:
        """Runs a QEMU human-monitor command (e.g. "info pci", "xp /4x 0xe0000")."""
        if not self.use_monitor:
            raise FirmwareError("start the Machine with monitor=True")
        if self._monitor is None:
            deadline = time.monotonic() + timeout
            while True:
                try:
                    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                    s.connect(self._monitor_path)
                    break
                except OSError:
                    s.close()
                    if time.monotonic() > deadline:
                        raise FirmwareError("QEMU monitor not reachable")
                    time.sleep(0.1)
            s.settimeout(timeout)
            self._monitor = s
            self._monitor_read()
        self._monitor.sendall(command.encode() + b"\n")
        reply = self._monitor_read()
        # The monitor echoes the command line first.
        lines = _ESCAPE.sub("", reply).replace("\r", "").split("\n")
        if lines and command in lines[0]:
            lines = lines[1:]
        return "\n".join(lines).rstrip()

    def _monitor_read(self) -> str:
        data = b""
        while not data.endswith(b"(qemu) "):
            chunk = self._monitor.recv(65536)
            if not chunk:
                break
            data += chunk
        text = data.decode("latin-1")
        return text[: -len("(qemu) ")] if text.endswith("(qemu) ") else text


def import_pyte():
    """The pyte terminal emulator (python3-pyte), also from Debian's own Python folder when
    the interpreter running the tests is another one."""
    try:
        import pyte
    except ImportError:
        debian = "/usr/lib/python3/dist-packages"
        if os.path.isdir(os.path.join(debian, "pyte")) and debian not in sys.path:
            sys.path.append(debian)
        try:
            import pyte
        except ImportError:
            raise FirmwareError("a terminal run needs pyte (run tools/setup-deps.sh: python3-pyte)")
    return pyte


def _line_at(text: str, index: int) -> str:
    start = text.rfind("\n", 0, index) + 1
    end = text.find("\n", index)
    return text[start: end if end >= 0 else len(text)].strip()[:200]


def _env_flag(name: str) -> bool:
    return os.environ.get(name, "") not in ("", "0", "no", "off")


def _report_failure(m: Machine) -> None:
    sys.stderr.write("--- %s: last serial output (%.1f s into the run) ---\n%s\n" % (
        m.name, m.elapsed(), m.tail(60)))
    err = m.stderr.decode("latin-1").strip()
    if err:
        sys.stderr.write("--- QEMU stderr ---\n%s\n" % err)
    if m.keep:
        sys.stderr.write("--- work folder kept: %s ---\n" % m.workdir)


# ---------------------------------------------------------------- running cases


def run_cases(cases: list[Callable[[str], None]], argv: list[str] | None = None) -> None:
    """The main program of a test file: runs each case with --efi-dir and exits 0 if all pass.

    Options: --efi-dir DIR (default build/efi), -k TEXT (only cases whose name contains
    TEXT), --verbose (echo the serial output), --keep (keep the work folders).
    """
    parser = argparse.ArgumentParser()
    parser.add_argument("--efi-dir", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "efi"))
    parser.add_argument("-k", dest="select", default="")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args(argv)
    if args.verbose:
        os.environ["TARN_FW_VERBOSE"] = "1"
    if args.keep:
        os.environ["TARN_FW_KEEP"] = "1"
    efi_dir = os.path.abspath(args.efi_dir)

    failed = []
    selected = [c for c in cases if args.select in c.__name__]
    overall = time.monotonic()
    for case in selected:
        began = time.monotonic()
        try:
            case(efi_dir)
        except Exception as e:  # report every case, then fail the file
            failed.append(case.__name__)
            print("FAIL %s (%.1f s): %s" % (case.__name__, time.monotonic() - began, e))
            if not isinstance(e, (AssertionError, FirmwareError)):
                traceback.print_exc()
        else:
            print("PASS %s (%.1f s)" % (case.__name__, time.monotonic() - began))
        sys.stdout.flush()
    kill_all()
    print("%d of %d cases passed in %.1f s" % (len(selected) - len(failed), len(selected),
                                                time.monotonic() - overall))
    sys.exit(1 if failed or not selected else 0)
