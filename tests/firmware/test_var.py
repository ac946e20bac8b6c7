"""var in OVMF: set, get, list, save, del and load, with non-volatile and boot-service-only
variables across a reset of the same variable store. The store file itself is read with a
small reader of the firmware-volume variable format written here (authenticated variable
headers and their state bytes), which must agree with what var wrote."""

import os
import re
import struct
import tempfile
import uuid

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "
# OVMF takes only the standard's names under the global GUID, so the tests use a vendor's.
VENDOR = uuid.UUID("4a67b082-0a4c-41cf-b6c7-440b29bb8c4f")
VAR_ADDED = 0x3F  # the state of a live variable: header and data valid, nothing deleted


def read_store(path: str) -> dict[tuple[str, uuid.UUID], tuple[int, bytes]]:
    """The live variables of an OVMF variable store: (name, guid) -> (attributes, data)."""
    blob = open(path, "rb").read()
    # The firmware volume header's length is at 0x20; the variable store header follows
    # (16-byte signature GUID, 32-bit size, format, state, reserved).
    fv_length = struct.unpack_from("<H", blob, 0x30)[0]
    store = fv_length
    size = struct.unpack_from("<I", blob, store + 16)[0]
    at, end = store + 28, store + size
    found = {}
    while at + 60 <= end:
        start_id, state, _, attributes = struct.unpack_from("<HBBI", blob, at)
        if start_id != 0x55AA:
            break
        name_size, data_size = struct.unpack_from("<II", blob, at + 36)
        guid = uuid.UUID(bytes_le=blob[at + 44:at + 60])
        name_at = at + 60
        name = blob[name_at:name_at + name_size].decode("utf-16-le").rstrip("\0")
        data = blob[name_at + name_size:name_at + name_size + data_size]
        if state == VAR_ADDED:
            found[(name, guid)] = (attributes, data)
        at = name_at + name_size + data_size
        at = (at + 3) & ~3
    return found


def var_commands(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-var-") as folder:
        store = os.path.join(folder, "vars.fd")
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="var") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            steps = [
                ("var set TarnKept hello -g systemd", PROMPT),
                ("var set TarnNumber 0x1234 -t u16 -g systemd", PROMPT),
                ("var set TarnGone 1 -a bs -g systemd", PROMPT),
                ("var get TarnKept -g systemd", "hello\n"),
                ("var get TarnNumber -x -g systemd", "34 12"),
                ("var get TarnNumber -v -g systemd", "TarnNumber  attributes NVBSRT (0x7), 2 bytes"),
                ("var set TarnBad 1 -a 0 -g systemd", "usage"),
                ("var get X -g 12345", "var: "),
                ("var save tarn.txt Tarn* -g systemd", PROMPT),
                ("var del TarnKept -g systemd", PROMPT),
                ("var get TarnKept -g systemd", "TarnKept: not found"),
                ("var load tarn.txt", PROMPT),
                ("var get TarnKept -g systemd", "hello\n"),
                ("var list Tarn* -g systemd -data > list.txt", PROMPT),
            ]
            for line, answer in steps:
                m.send_line(line)
                m.wait_for(answer)
                if answer != PROMPT:
                    m.wait_for(PROMPT)
            m.send_line("exit")
            expect(m.exit_status() == 0, "status")
            backup = m.read_file("\\tarn.txt").decode()
            listing = m.read_file("\\list.txt").decode()
        expect("TarnKept" in backup and "680065006c006c006f000000" in backup, "backup: %r" % backup)
        names = set(re.findall(r"name=(\S+)", listing))
        expect({"TarnKept", "TarnNumber", "TarnGone"} <= names, "list: %r" % listing)

        # The firmware's own store, read on the host, agrees with what var wrote.
        variables = read_store(store)
        expect(variables.get(("TarnKept", VENDOR)) == (7, "hello\0".encode("utf-16-le")),
               "store: TarnKept %r" % (variables.get(("TarnKept", VENDOR)),))
        expect(variables.get(("TarnNumber", VENDOR)) == (7, b"\x34\x12"), "store: TarnNumber")
        expect(("TarnGone", VENDOR) not in variables, "a boot-service-only variable reached the store")

        # After a reset: the non-volatile ones are there, the boot-service-only one is gone.
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="var-again") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            m.send_line("var get TarnKept -g systemd")
            m.wait_for("hello\n")
            m.wait_for(PROMPT)
            m.send_line("var get TarnGone -g systemd")
            m.wait_for("TarnGone: not found")
            m.wait_for(PROMPT)
            m.send_line("exit")
            expect(m.exit_status() == 0, "status of the second boot")


if __name__ == "__main__":
    run_cases([var_commands])
