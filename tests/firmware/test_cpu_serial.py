"""cpuid and sermode in OVMF. cpuid under two of QEMU's processor models shows the vendor,
family, model and stepping QEMU gives each, and sysinfo the brand string (model-id);
sermode lists the serial port, sets its line, and the 16550's line-control register, read
back with mm, holds the bits for that line."""

import re

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "
# QEMU's models: qemu64 is AMD family 0xF with extended model 6 (model 0x6B), stepping 1;
# Skylake-Client is Intel family 6, model 0x5E, stepping 3.
MODELS = [
    ("qemu64", "AuthenticAMD", "Family F, model 6B, stepping 1,"),
    ("Skylake-Client,model-id=  TARN Test Processor 7", "GenuineIntel", "Family 6, model 5E, stepping 3,"),
]
# sysinfo's CPU line: the brand string from the extended leaves (QEMU's model-id, leading
# blanks removed), then the vendor.
BRANDS = {
    "qemu64": "CPU:      QEMU Virtual CPU version 2.5+ / AuthenticAMD\n",
    "Skylake-Client": "CPU:      TARN Test Processor 7 / GenuineIntel\n",
}
# Line-control register: bits 0-1 data bits - 5, bit 2 more than one stop bit, bit 3
# parity on, bits 4-5 even / stick parity.
LCR = "IO   0x00000000000003FB : 0x%02X"


def boot_with(efi_dir: str, model: str) -> Machine:
    return Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="cpu-" + model.split(",")[0].lower(),
                   extra_args=["-cpu", model], timeout=90, files={"\\ser.tsb": SCRIPT})


def check_model(m: Machine, vendor: str, identity: str) -> None:
    m.send_line("cpuid")
    m.wait_for("Vendor: %s, max leaf " % vendor)
    m.wait_for(identity)
    m.wait_for("Features: SSE SSE2")
    m.wait_for(PROMPT)
    m.send_line("cpuid 0")
    found = m.wait_for(re.compile(r"EAX=([0-9A-F]{8}) EBX=([0-9A-F]{8}) ECX=([0-9A-F]{8}) EDX=([0-9A-F]{8})"))
    regs = [int(found.group(i), 16) for i in (2, 4, 3)]
    text = b"".join(r.to_bytes(4, "little") for r in regs).decode("latin-1")
    expect(text == vendor, "cpuid 0 registers spell %r, not %r" % (text, vendor))
    m.wait_for(PROMPT)


def cpuid_models(efi_dir: str) -> None:
    for model, vendor, identity in MODELS:
        with boot_with(efi_dir, model) as m:
            m.wait_boot()
            m.wait_for(PROMPT, timeout=60)
            check_model(m, vendor, identity)
            m.send_line("sysinfo")
            m.wait_for(BRANDS[model.split(",")[0]])
            m.wait_for(PROMPT)
            if model == "qemu64":
                check_sermode(m)
            m.send_line("exit")
            expect(m.exit_status() == 0, "exit status under " + model)


# sermode settings, the line sermode then shows, and the line-control register's value.
# The last one is the console's own setting: while the port's line differs from it the
# firmware's terminal on the port is gone, so the changes run from one script that ends
# by putting the line back, and print what they saw once the console is back. After each
# change the script also reads the baud-rate divisor (the 1.8432 MHz clock / 16 / baud)
# through the divisor latch: line-control bit 7 set, ports 0x3F8 and 0x3F9, bit 7 cleared.
SETTINGS = [
    ("115200 even 8 2", "115200 baud, parity even, 8 data bits, stop bits 2", 0x1F),
    ("9600 o 7 2", "9600 baud, parity odd, 7 data bits, stop bits 2", 0x0E),
    ("19200 s 5 15", "19200 baud, parity space, 5 data bits, stop bits 1.5", 0x3C),
    ("115200 n 8 1", "115200 baud, parity none, 8 data bits, stop bits 1", 0x03),
]
PORT = "IO   0x00000000000003F%X : 0x%02X"


def divisor(args: str) -> int:
    return 115200 // int(args.split()[0])


def script_step(args: str, lcr: int) -> str:
    return ('all$ = all$ + "<" + RUN$("sermode " + h$ + " %s") + "|" + RUN$("mm 3fb -IO -n")\n'
            'RUN "mm 3fb %X -IO"\n'
            'all$ = all$ + "|" + RUN$("mm 3f8 -IO -n") + "|" + RUN$("mm 3f9 -IO -n") + ">"\n'
            'RUN "mm 3fb %X -IO"\n') % (args, lcr | 0x80, lcr)


SCRIPT = ("h$ = ARG$(1)\nall$ = \"\"\n" + "".join(script_step(args, lcr) for args, _, lcr in SETTINGS)
          + "PRINT all$\n")


def check_sermode(m: Machine) -> None:
    m.send_line("sermode")
    found = m.wait_for(re.compile(r"Handle ([0-9A-F]+): 115200 baud, parity none, 8 data bits, stop bits 1\r?\n"))
    handle = found.group(1)
    m.wait_for(PROMPT)
    m.send_line("mm 3fb -IO -n")
    m.wait_for(LCR % 0x03)
    m.wait_for(PROMPT)
    m.send_line("sermode " + handle)
    m.wait_for("Handle %s: 115200 baud" % handle)
    m.wait_for(PROMPT)
    m.send_line("ser.tsb " + handle)
    expected = "".join("<Handle %s: %s|%s|%s|%s>" % (handle, line, LCR % lcr, PORT % (8, divisor(args) & 0xff),
                                                     PORT % (9, divisor(args) >> 8))
                       for args, line, lcr in SETTINGS)
    m.wait_for(expected)
    m.wait_for(PROMPT)
    # Refused words: the usage line, and the port untouched.
    for words in ("115200 n 4 1", "115200 x 8 1", "115200 n 8 3", "115200 n 8"):
        m.send_line("sermode %s %s" % (handle, words))
        m.wait_for("usage: sermode HANDLE BAUD d|n|e|o|m|s DATABITS(5-8) 0|1|1.5|2")
        m.wait_for(PROMPT)
    m.send_line("sermode 1")
    m.wait_for("sermode: 1 is not a serial port handle")
    m.wait_for(PROMPT)


if __name__ == "__main__":
    run_cases([cpuid_models])
