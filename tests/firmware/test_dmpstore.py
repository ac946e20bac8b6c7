"""dmpstore, setvar and the BASIC variable functions in OVMF. The file of `dmpstore -all -s`
is parsed on the host by a reader of the published record layout written here, every
record's CRC checked with zlib, and compared with the firmware's own store file (read
by test_var's reader); a second boot on a fresh store loads it back with `dmpstore -l`.
`setvar` device-path items go through OVMF's Device Path From Text, whose bytes are
checked against the layout of the ACPI and PCI nodes."""

import os
import re
import struct
import tempfile
import uuid
import zlib

from harness import Machine, expect, run_cases
from test_var import read_store

PROMPT = "fs0:\\> "
GLOBAL = uuid.UUID("8be4df61-93ca-11d2-aa0d-00e098032b8c")
VENDOR = uuid.UUID("4a67b082-0a4c-41cf-b6c7-440b29bb8c4f")  # "systemd"
VENDOR_TEXT = str(VENDOR)

# PciRoot(0x0): ACPI node, HID PNP0A03, UID 0; Pci(0x1,0x1): function 1, device 1; the end.
DEVICE_PATH = (bytes([0x02, 0x01, 0x0C, 0x00]) + struct.pack("<II", 0x0A0341D0, 0)
               + bytes([0x01, 0x01, 0x06, 0x00, 0x01, 0x01]) + bytes([0x7F, 0xFF, 0x04, 0x00]))
ITEMS = bytes([0x61, 0x62, 0x63, 0x00, 0x00, 0x00, 0x0A, 0x0D])


def read_records(blob: bytes) -> list[tuple[str, uuid.UUID, int, bytes]]:
    """The records of a dmpstore file: NameSize, DataSize, Name, VendorGuid, Attributes,
    Data, CRC32 of everything before it. Every CRC must match and the file end exactly."""
    records, at = [], 0
    while at < len(blob):
        name_size, data_size = struct.unpack_from("<II", blob, at)
        end = at + 32 + name_size + data_size
        expect(name_size >= 2 and name_size % 2 == 0 and end <= len(blob), "record at %d" % at)
        name = blob[at + 8:at + 8 + name_size].decode("utf-16-le")
        expect(name.endswith("\0") and "\0" not in name[:-1], "name at %d: %r" % (at, name))
        guid = uuid.UUID(bytes_le=blob[at + 8 + name_size:at + 24 + name_size])
        attributes = struct.unpack_from("<I", blob, at + 24 + name_size)[0]
        data = blob[at + 28 + name_size:end - 4]
        crc = struct.unpack_from("<I", blob, end - 4)[0]
        expect(crc == zlib.crc32(blob[at:end - 4]), "CRC of %s" % name)
        records.append((name[:-1], guid, attributes, data))
        at = end
    return records


def step(m: Machine, line: str, *answers: str) -> str:
    """Sends a line, waits for each answer and the prompt; the text between."""
    mark = m.mark()
    m.send_line(line)
    for answer in answers:
        m.wait_for(answer)
    m.wait_for(PROMPT)
    return m.since(mark)


def dmpstore_and_setvar(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-dmpstore-") as folder:
        store = os.path.join(folder, "vars.fd")
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="dmpstore") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            step(m, "setvar TarnDp -guid systemd -nv =--PciRoot(0x0)/Pci(0x1,0x1)")
            step(m, "setvar TarnDp -guid systemd",
                 "Variable NV+BS '%s:TarnDp' DataSize = 0x16" % VENDOR_TEXT.upper())
            step(m, 'setvar TarnItems -guid systemd -nv -rt ="ab" L"c" 0x0d0a')
            step(m, "setvar TarnItems -guid systemd -bs =01", "setvar: TarnItems: invalid parameter")
            step(m, "setvar TarnTmp -guid systemd =0x0005")
            step(m, "setvar TarnBad -guid systemd =012", "setvar: invalid data")
            # The BASIC functions on the same variables.
            step(m, 'PRINT VARHEX$("TarnItems", "systemd")', "6162630000000a0d\n")
            step(m, 'PRINT VARNUM("TarnTmp", "systemd"); VAREXISTS("TarnDp", "systemd")', "5-1\n")
            step(m, 'PRINT SETVAR("TarnF", "0102", "systemd", 3); VARNUM("TarnF", "systemd")', "0513\n")
            step(m, 'PRINT SETVARSTR("TarnS", "hi", "systemd"); VAR$("TarnS", "systemd")', "0hi\n")
            step(m, 'PRINT DELVAR("TarnF", "systemd"); DELVAR("TarnF", "systemd"); ERR', "01414\n")
            step(m, 'PRINT "[" + FWVENDOR$() + "]"; SECUREBOOT()', "[EDK II]0\n")
            saved = step(m, "dmpstore -all -s all.bin", "variables saved to fs0:\\all.bin")
            step(m, "dmpstore -guid systemd Tarn?tems",
                 "Variable NV+BS+RT '%s:TarnItems' DataSize = 0x8" % VENDOR_TEXT.upper(),
                 "  0000  61 62 63 00 00 00 0a 0d")
            step(m, "dmpstore BootOrder", "Variable NV+BS+RT '%s:BootOrder'" % str(GLOBAL).upper())
            m.send_line("dmpstore Tarn* -guid systemd -d")
            m.wait_for("Delete 4 variables? [y/N] ")
            step(m, "n", "Cancelled.")
            step(m, "dmpstore TarnTmp -guid systemd -d",
                 "Delete variable %s:TarnTmp - Success" % VENDOR_TEXT)
            step(m, "dmpstore -d -s x", "dmpstore: -d, -s and -l cannot be combined")
            m.send_line("exit")
            expect(m.exit_status() == 0, "status")
            dump = m.read_file("\\all.bin")

        records = read_records(dump)
        count = int(re.search(r"(\d+) variables saved", saved).group(1))
        expect(count == len(records), "%d saved, %d records" % (count, len(records)))
        by_key = {(name, guid): (attributes, data) for name, guid, attributes, data in records}
        expect(by_key.get(("TarnDp", VENDOR)) == (3, DEVICE_PATH), "TarnDp %r" % (by_key.get(("TarnDp", VENDOR)),))
        expect(by_key.get(("TarnItems", VENDOR)) == (7, ITEMS), "TarnItems")
        expect(by_key.get(("TarnTmp", VENDOR)) == (2, b"\x05\x00"), "TarnTmp")
        expect(("BootOrder", GLOBAL) in by_key, "BootOrder missing from the dump")
        # Every live variable of the firmware's store file is in the dump, the same.
        for key, value in read_store(store).items():
            if key[0] == "TarnTmp":
                continue  # deleted after the save
            expect(by_key.get(key) == value, "%s: store %r, dump %r" % (key, value, by_key.get(key)))

        # A fresh store: the vendor's records come back with -l -guid; none without it.
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="dmpstore-load",
                     files={"\\all.bin": dump, "\\vendor.bin": vendor_only(dump)}) as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            step(m, "dmpstore -l vendor.bin", "No variable in the file matches")
            loaded = step(m, "dmpstore -l all.bin -guid systemd",
                          "Load variable %s:TarnItems - Success" % VENDOR_TEXT)
            expect("Load variable %s:TarnDp - Success" % VENDOR_TEXT in loaded, loaded)
            expect(GLOBAL_TEXT_LOWER not in loaded, "a global variable was loaded: %s" % loaded)
            step(m, "setvar TarnDp -guid systemd", "DataSize = 0x16", "  0000  02 01 0c 00 d0 41 03 0a")
            step(m, "setvar TarnTmp -guid systemd", "DataSize = 0x2")
            m.send_line("exit")
            expect(m.exit_status() == 0, "status of the second boot")


GLOBAL_TEXT_LOWER = str(GLOBAL)


def vendor_only(blob: bytes) -> bytes:
    """The records of the dump under the vendor GUID, as they were written."""
    out, at = b"", 0
    while at < len(blob):
        name_size, data_size = struct.unpack_from("<II", blob, at)
        end = at + 32 + name_size + data_size
        if uuid.UUID(bytes_le=blob[at + 8 + name_size:at + 24 + name_size]) == VENDOR:
            out += blob[at:end]
        at = end
    return out


if __name__ == "__main__":
    run_cases([dmpstore_and_setvar])
