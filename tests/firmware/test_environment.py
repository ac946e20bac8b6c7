"""Environment variables, aliases and redirection in real firmware: set and alias
listings, > and >> into files read back with mtools, and permanent variables and
aliases kept in the firmware's variable store across a reboot (temporary ones are not)."""

import os
import tempfile

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "


def variables_aliases_and_redirection(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-fw-env-") as folder:
        boot_twice(efi_dir, os.path.join(folder, "vars.fd"))


def boot_twice(efi_dir, store):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="env-1") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("set keepme \"permanent value\"\r")
        m.wait_for(PROMPT)
        m.send("set -v gone temporary\r")
        m.wait_for(PROMPT)
        m.send("alias hi echo hello from alias\r")
        m.wait_for(PROMPT)
        m.send("hi\r")
        m.wait_for("hello from alias\n")
        m.send("set\r")
        m.wait_for("V %-18s = temporary\n" % "gone")
        m.wait_for("  %-18s = permanent value\n" % "keepme")
        m.send("echo first > out.txt\r")
        m.wait_for(PROMPT)
        m.send("echo second >> out.txt\r")
        m.wait_for(PROMPT)
        m.send("set > vars.txt\r")
        m.wait_for(PROMPT)
        m.send("alias\r")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")
        out = m.read_file("\\out.txt").decode()
        expect(out == "first\nsecond\n", "out.txt: %r" % out)
        listing = m.read_file("\\vars.txt").decode()
        expect("keepme" in listing and "gone" in listing, "vars.txt: %r" % listing)
        ok, report = m.check_disk()
        expect(ok, "fsck: " + report)
    # The same variable store booted again: the permanent variable and the alias are
    # back, the temporary variable is not.
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, name="env-2") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("set\r")
        m.wait_for("  %-18s = permanent value\n" % "keepme")
        m.wait_for(PROMPT)
        expect("gone" not in m.output(), "a -v variable survived the reboot")
        m.send("hi\r")
        m.wait_for("hello from alias\n")
        m.wait_for(PROMPT)
        m.send("set -d keepme\r")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")


if __name__ == "__main__":
    run_cases([variables_aliases_and_redirection])
