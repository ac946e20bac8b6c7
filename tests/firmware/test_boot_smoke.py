"""tarn.efi booted directly by the firmware (as \\EFI\\BOOT\\BOOTX64.EFI, no arguments)
starts, prints its name and does not crash."""

from harness import Machine, expect, run_cases


def direct_boot_starts(efi_dir):
    with Machine(efi_dir, boot="tarn.efi", name="smoke") as m:
        m.wait_boot()
        m.wait_for("TARN")
        # Watch for a moment: the firmware must not report a processor exception. (A
        # return to the boot manager is not judged here; the harness stops QEMU then.)
        m.expect_absent("!!!! ", within=2.0)
        expect(m.cpu_exception() is None, "processor exception: %s" % m.cpu_exception())
        expect("failed to start" not in m.output(), "the firmware could not start tarn.efi")


if __name__ == "__main__":
    run_cases([direct_boot_starts])
