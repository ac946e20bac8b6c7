"""The handle and driver commands in real firmware, one boot typed at the prompt: dh, dh -d,
drivers, devices and devtree on OVMF's handle database; as many PciIo handles as QEMU's
monitor reports PCI functions (`info pci`); openinfo of a virtio-blk controller showing
its drivers BY_DRIVER, gone after disconnect and back after connect and reconnect;
reconnect -r followed by ls and a redirection; load over a folder holding an application
and testdrv.efi (the application refused, the driver started), drvcfg and drvdiag
reaching testdrv with the arguments given, and unload of testdrv after its prompt.
disconnect -r leaves a console that still answers. Under Secure Boot (the snakeoil OVMF) an unsigned testdrv gets the Secure Boot message, a
corrupt file its status text, and a signed testdrv starts."""

import os
import pathlib
import re
import tempfile

from harness import Machine, expect, run_cases, sign_image

PROMPT = "fs0:\\> "
HANDLE_LINE = re.compile(r"^ *([0-9A-F]+):(.*)$", re.M)


def run(m: Machine, line: str, timeout: float = 30) -> str:
    """The output of one command line, up to the next prompt."""
    mark = m.mark()
    m.send_line(line)
    m.wait_for(PROMPT, timeout=timeout)
    out = m.since(mark)
    # Drop the echoed command line and the prompt after the output.
    out = out.split("\n", 1)[1] if "\n" in out else ""
    return out[: out.rfind(PROMPT)] if PROMPT in out else out


def detail_blocks(text: str) -> dict[str, str]:
    """dh -d output split into handle number -> its block."""
    blocks = {}
    for part in re.split(r"(?m)^(?=Handle [0-9A-F]+ \()", text):
        found = re.match(r"Handle ([0-9A-F]+) \(", part)
        if found:
            blocks[found.group(1)] = part
    return blocks


def path_of(block: str) -> str:
    found = re.search(r"^   DevicePath\n      (.*)$", block, re.M)
    return found.group(1).strip() if found else ""


def driver_lines(openinfo: str) -> list[str]:
    return [line for line in openinfo.splitlines() if re.match(r"\s+Drv\[[0-9A-F]+\] .* Driver(\+Exclusive)? ", line)]


def check_drivers(efi_dir: str) -> None:
    efi = pathlib.Path(efi_dir)
    files = {
        "\\drv\\a_probe.efi": efi / "launcher.efi",  # an application
        "\\drv\\testdrv.efi": efi / "testdrv.efi",
    }
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="drivers", monitor=True, files=files,
                 disks=[{"\\second.txt": "on the second disk\n"}], timeout=170) as m:
        m.wait_for(PROMPT, timeout=90)
        run(m, "set -v pager off")

        # The views on the real database.
        dh = run(m, "dh")
        rows = dict(HANDLE_LINE.findall(dh))
        expect(len(rows) > 30, "dh lists only %d handles:\n%s" % (len(rows), dh))
        expect(any("LoadedImage" in r and "DriverBinding" in r for r in rows.values()), "no driver image in dh")
        details = detail_blocks(run(m, "dh -d", timeout=60))
        expect(set(details) == set(rows), "dh -d handles %s, dh %s" % (sorted(details)[:5], sorted(rows)[:5]))
        expect(any("      Version: 0x" in b for b in details.values()), "no DriverBinding details")
        expect(any(re.search(r"Code: boot driver", b) for b in details.values()), "no boot driver image")
        drivers = run(m, "drivers")
        expect("DRV VERSION E G G #D #C DRIVER NAME" in drivers, drivers[:400])
        expect(re.search(r"(?m)^ *[0-9A-F]+ [0-9A-F]{7} [BD] - - .* Virtio", drivers) is not None,
               "no virtio driver line:\n" + drivers)
        devices = run(m, "devices")
        expect("CTRL E G G #P #D #C Device Name" in devices, devices[:400])
        expect(re.search(r"(?m)^ *[0-9A-F]+ R ", devices) is not None, "no root device:\n" + devices)
        tree = run(m, "devtree")
        expect(re.search(r"(?m)^Ctrl\[[0-9A-F]+\] ", tree) and re.search(r"(?m)^    Ctrl\[[0-9A-F]+\] ", tree),
               "devtree has no depth:\n" + tree)

        # One PciIo handle per PCI function.
        pci = HANDLE_LINE.findall(run(m, "dh -p PciIo"))
        info = m.monitor("info pci")
        functions = re.findall(r"Bus\s+\d+, device\s+\d+, function \d+:", info)
        expect(functions and len(pci) == len(functions),
               "%d PciIo handles, %d functions in info pci" % (len(pci), len(functions)))

        # The virtio-blk controller of the second disk (not the one holding fs0).
        fs0 = [b for b in details.values() if "Volume fs0:" in b]
        expect(len(fs0) == 1, "no fs0 volume in dh -d")
        boot_path = path_of(fs0[0])
        disks = [n for n, b in details.items() if "   PciIo\n" in b and "   BlockIo\n" in b]
        others = [n for n in disks if not boot_path.startswith(path_of(details[n]))]
        expect(len(disks) == 2 and len(others) == 1, "virtio-blk controllers %s, boot %s" % (disks, boot_path))
        target = others[0]
        before = driver_lines(run(m, "openinfo " + target))
        expect(len(before) >= 2, "openinfo %s shows drivers %s" % (target, before))
        out = run(m, "disconnect " + target)
        expect("Disconnect - Handle [%s] Result Success." % target in out, out)
        expect(driver_lines(run(m, "openinfo " + target)) == [], "drivers left after disconnect")
        out = run(m, "connect " + target)
        expect("Connect - Handle [%s] Result Success." % target in out, out)
        expect(len(driver_lines(run(m, "openinfo " + target))) >= 1, "no driver after connect")
        out = run(m, "reconnect " + target)
        expect(("Disconnect - Handle [%s] Result Success.\nConnect - Handle [%s] Result Success." % (target, target))
               in out, out)
        expect(len(driver_lines(run(m, "openinfo " + target))) == len(before), "drivers after reconnect")

        out = run(m, "reconnect -r", timeout=60)
        expect("All controllers reconnected." in out, out)
        listing = run(m, "ls")
        expect("drv" in listing.lower() and "tarn.efi" in listing.lower(), "ls after reconnect -r:\n" + listing)
        run(m, "echo still here > after.txt")
        expect("still here" in run(m, "cat after.txt"), "redirection after reconnect -r")

        # load over a folder: the application refused, the driver started.
        out = run(m, "load fs0:\\drv\\*.efi", timeout=60)
        expect("a_probe.efi is an application, not a driver: run it by typing its name" in out, out)
        expect(re.search(r"Image 'fs0:\\drv\\testdrv\.efi' loaded at 0x[0-9a-f]+ - Success", out), out)
        drivers = run(m, "drivers")
        line = re.search(r"(?m)^ *([0-9A-F]+) 0000020 D X X  1  - TARN Test Driver +\S*testdrv\.efi$", drivers)
        expect(line is not None, "testdrv in drivers:\n" + drivers)
        drv = line.group(1)
        checks = [
            ("drvcfg", "Drv[%s] Ctrl[" % drv, "TARN Test Driver"),
            ("drvcfg -s " + drv, "testdrv: SetOptions child=none lang=en", "] done"),
            ("drvcfg -v " + drv, "testdrv: OptionsValid child=none", "] options valid"),
            ("drvcfg -f 5 " + drv, "testdrv: ForceDefaults child=none type=5",
             "] done, action required: restart the controller"),
            ("drvcfg -l fr -s " + drv, "testdrv: SetOptions child=none lang=en", "] done"),
            ("drvdiag -s " + drv, "] passed", "    testdrv: RunDiagnostics child=none type=0 lang=en"),
            ("drvdiag -e " + drv, "] passed", "    testdrv: RunDiagnostics child=none type=1 lang=en"),
            ("drvdiag -m " + drv, "] passed", "    testdrv: RunDiagnostics child=none type=2 lang=en"),
        ]
        for command, first, second in checks:
            out = run(m, command)
            expect(first in out and second in out, "%s:\n%s" % (command, out))

        # unload: the prompt, then the driver is gone.
        mark = m.mark()
        m.send_line("unload " + drv)
        m.wait_for(re.compile(r"Unload handle %s \(\S*testdrv\.efi\)\? \[y/N\] " % drv))
        m.send_line("Y")
        m.wait_for(PROMPT)
        out = m.since(mark)
        expect("Unload - Handle [%s] Result Success." % drv in out, out)
        expect("TARN Test Driver" not in run(m, "drivers"), "testdrv still listed")
        # Everything disconnected: the consoles come back and the shell still answers.
        m.send_line("disconnect -r")
        m.wait_for("All controllers disconnected (consoles reconnected).", timeout=60)
        m.send_line("echo still alive")
        m.wait_for(re.compile(r"\nstill alive\n"), timeout=30)
        # The launcher's volume handle went with reconnect -r, so the run ends at the
        # debug-exit port rather than through the launcher.
        m.send_line("mm 0xf4 0x10 -IO -w 1")
        code = m.wait_exit(timeout=30)
        expect(m.debug_exit_value() == 0x10, "isa-debug-exit saw %r (QEMU status %r)" % (m.debug_exit_value(), code))


def check_secure_boot(efi_dir: str) -> None:
    efi = pathlib.Path(efi_dir)
    with tempfile.TemporaryDirectory(prefix="tarn-drv-sign-") as tmp:
        shell = sign_image(str(efi / "tarn.efi"), os.path.join(tmp, "tarn.efi"))
        signed = sign_image(str(efi / "testdrv.efi"), os.path.join(tmp, "testdrv.efi"))
        corrupt = b"MZ" + bytes(range(256)) * 4
        files = {"\\EFI\\BOOT\\BOOTX64.EFI": pathlib.Path(shell), "\\unsigned.efi": efi / "testdrv.efi",
                 "\\signed.efi": pathlib.Path(signed), "\\corrupt.efi": corrupt}
        with Machine(efi_dir, files=files, secure_boot=True, name="drivers-sb", timeout=120) as m:
            m.wait_for(PROMPT, timeout=90)
            run(m, "set -v pager off")
            out = run(m, "load fs0:\\unsigned.efi")
            expect("load: fs0:\\unsigned.efi: not allowed by Secure Boot (the driver is not signed by a trusted key)"
                   in out, out)
            out = run(m, "load fs0:\\corrupt.efi")
            expect("load: fs0:\\corrupt.efi: " in out and "Secure Boot" not in out, out)
            out = run(m, "load fs0:\\signed.efi")
            expect(re.search(r"Image 'fs0:\\signed\.efi' loaded at 0x[0-9a-f]+ - Success", out), out)
            expect("TARN Test Driver" in run(m, "drivers"), "signed testdrv not listed")


if __name__ == "__main__":
    run_cases([check_drivers, check_secure_boot])
