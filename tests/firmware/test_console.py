"""mode and gop in OVMF with QEMU's standard VGA, in one boot typed at the prompt. gop
lists the modes OVMF's video driver offers, with the frame buffer at the VGA card's first
BAR as QEMU's monitor reports it (`info pci`); every switch (by size, by number, -fit on
a 100x31 console, -max) is confirmed by the size of the picture QEMU's `screendump`
writes; a switch to a resolution too small for the text mode fits the text mode first.
mode lists the text modes, selects by size and -max, refuses a size it lacks, leaves the
console working when the firmware refuses a mode, and mode -fill restarts the console
driver and selects the largest text mode that fits the screen, after which ls and gop
still work."""

import os
import re

from harness import Machine, expect, records, run_cases

PROMPT = "fs0:\\> "
CELL = (8, 19)  # the pixels of one console character


def run(m: Machine, line: str, timeout: float = 30) -> str:
    """The output of one command line, up to the next prompt."""
    return m.prompt_command(line, PROMPT, timeout)


def screen_size(m: Machine) -> tuple[int, int]:
    """The resolution of the picture QEMU shows, from the header of a PPM screendump."""
    path = os.path.join(m.workdir, "screen.ppm")
    if os.path.exists(path):
        os.unlink(path)
    reply = m.monitor("screendump " + path)
    expect(os.path.exists(path), "screendump wrote nothing: %r" % reply)
    with open(path, "rb") as f:
        header = f.read(64).split()
    expect(header[0] == b"P6", "not a PPM picture: %r" % header[:3])
    return int(header[1]), int(header[2])


def text_modes(listing: str) -> dict[int, tuple[int, int]]:
    return {int(n): (int(c), int(r)) for n, c, r in
            re.findall(r"(?m)^ +(\d+): +(\d+) columns x +(\d+) rows", listing)}


def current_text_mode(listing: str) -> int:
    found = re.search(r"(?m)^ +(\d+): .*\(current\)$", listing)
    expect(found is not None, "no current text mode:\n" + listing)
    return int(found.group(1))


def best_text_mode(modes: dict[int, tuple[int, int]], width: int, height: int) -> int:
    fits = [n for n, (c, r) in sorted(modes.items()) if c * CELL[0] <= width and r * CELL[1] <= height]
    return max(fits, key=lambda n: (modes[n][0] * modes[n][1], -n))


def check_gop_list(m: Machine) -> dict[int, tuple[int, int]]:
    listing = run(m, "gop")
    data = records(run(m, "gop -data"))
    modes = {int(r["mode"]): (int(r["width"]), int(r["height"])) for r in data if "mode" in r}
    expect(len(modes) >= 10, "few graphics modes:\n" + listing)
    lines = re.findall(r"(?m)^ +(\d+): +(\d+) x (\d+) +(\S+)(  \(current\))?$", listing)
    expect({int(n): (int(w), int(h)) for n, w, h, _, _ in lines} == modes, "gop and gop -data differ")
    current = [int(r["mode"]) for r in data if r.get("current") == "yes"]
    expect(len(current) == 1 and modes[current[0]] == screen_size(m),
           "current mode %r, screen %r" % (current, screen_size(m)))
    for size in ((640, 480), (800, 600), (1024, 768)):
        expect(size in modes.values(), "%dx%d missing:\n%s" % (size + (listing,)))
    # The frame buffer is the VGA card's first memory BAR.
    fb = [r for r in data if "framebuffer" in r]
    expect(len(fb) == 1, "no frame buffer record")
    bar = re.search(r"VGA controller.*?BAR0: 32 bit prefetchable memory at (0x[0-9a-f]+)",
                    m.monitor("info pci"), re.S)
    expect(bar is not None and int(fb[0]["framebuffer"], 16) == int(bar.group(1), 16),
           "frame buffer %s, BAR0 %s" % (fb[0]["framebuffer"], bar and bar.group(1)))
    w, h = modes[current[0]]
    expect(int(fb[0]["framebuffer_size"]) >= w * h * 4, "frame buffer smaller than the screen")
    expect("Frame buffer at %s, %s bytes" % (fb[0]["framebuffer"], fb[0]["framebuffer_size"]) in listing, listing)
    return modes


def switch(m: Machine, line: str, want: tuple[int, int], text: tuple[int, int] | None = None) -> None:
    out = run(m, line)
    tail = " (text %d x %d)" % text if text else ""
    expect(re.search(r"Graphics mode \d+: %d x %d%s\n" % (want + (re.escape(tail),)), out) is not None,
           "%s:\n%s" % (line, out))
    expect(screen_size(m) == want, "%s: screen %r, not %r" % (line, screen_size(m), want))


def check_console(efi_dir: str) -> None:
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="console", monitor=True,
                 extra_args=["-device", "VGA"], timeout=150) as m:
        m.wait_for(PROMPT, timeout=90)
        run(m, "set -v pager off")
        graphics = check_gop_list(m)
        listing = run(m, "mode")
        text = text_modes(listing)
        expect((80, 25) in text.values() and (100, 31) in text.values(), "text modes:\n" + listing)

        # By size (the start-up mode, 100 x 31, fits 1024 x 768); then a resolution too
        # small for 100 x 31 takes 80 x 25 first.
        expect(text[current_text_mode(listing)] == (100, 31), "start-up text mode:\n" + listing)
        switch(m, "gop 1024 768", (1024, 768))
        # OVMF's console refuses its current mode again after a resolution change; either
        # way the console answers and keeps its mode.
        out = run(m, "mode 100 31")
        expect(re.search(r"Text mode \d+: 100 x 31 characters\n|mode: [a-z ]+\n", out) is not None, out)
        expect(text[current_text_mode(run(m, "mode"))] == (100, 31), "text mode after a refused mode 100 31")
        switch(m, "gop 640 480", (640, 480), (80, 25))
        expect(text[current_text_mode(run(m, "mode"))] == (80, 25), "text mode after gop 640 480")
        # By number; -fit on a 100 x 31 console: the fewest pixels at least 800 x 589.
        number = [n for n, s in graphics.items() if s == (1024, 768)][0]
        switch(m, "gop %d" % number, (1024, 768))
        mode_100 = [n for n, s in text.items() if s == (100, 31)][0]
        out = run(m, "mode 100 31")
        expect("Text mode %d: 100 x 31 characters\n" % mode_100 in out, out)
        fit = min((w * h, n) for n, (w, h) in graphics.items() if w >= 800 and h >= 589)[1]
        expect(graphics[fit] == (800, 600), "the fitting mode is %r" % (graphics[fit],))
        switch(m, "gop -fit", graphics[fit])
        largest = max(graphics, key=lambda n: (graphics[n][0] * graphics[n][1], -n))
        switch(m, "gop -max", graphics[largest])
        switch(m, "gop max", graphics[largest])
        out = run(m, "gop 641 480")
        expect("gop: no mode with 641 x 480 (gop lists the available ones)" in out, out)
        out = run(m, "gop %d" % (max(graphics) + 1))
        expect("gop: cannot switch to mode %d: " % (max(graphics) + 1) in out, out)
        expect(screen_size(m) == graphics[largest], "a refused switch moved the screen")

        # mode by size, -max, a size it lacks.
        out = run(m, "mode 80 25")
        expect(re.search(r"Text mode \d+: 80 x 25 characters", out) is not None, out)
        expect(text[current_text_mode(run(m, "mode"))] == (80, 25), "mode 80 25 not current")
        most = max(text, key=lambda n: (text[n][0] * text[n][1], -n))
        out = run(m, "mode -max")
        expect("Text mode %d: %d x %d characters" % ((most,) + text[most]) in out, out)
        out = run(m, "mode 80 51")
        expect("mode: no text mode with 80 columns and 51 rows (mode lists them)" in out, out)

        # -fill: the console driver restarts, then the best text mode for the screen.
        switch(m, "gop 1024 768", (1024, 768))
        out = run(m, "mode -fill", timeout=60)
        expect("Restarting the firmware console driver...\nAll controllers reconnected.\n" in out, out)
        found = re.search(r"Text mode (\d+): (\d+) x (\d+) characters", out)
        expect(found is not None, out)
        width, height = screen_size(m)
        after = text_modes(run(m, "mode"))
        best = best_text_mode(after, width, height)
        expect(int(found.group(1)) == best and after[best] == (int(found.group(2)), int(found.group(3))),
               "mode -fill chose %s on %dx%d; modes %r" % (found.group(0), width, height, after))
        listing = run(m, "ls")
        expect("tarn.efi" in listing.lower(), "ls after mode -fill:\n" + listing)
        switch(m, "gop 800 600", (800, 600))
        # The launcher's volume handle went with the restart: end at the debug-exit port.
        m.send_line("mm 0xf4 0x10 -IO -w 1")
        code = m.wait_exit(timeout=30)
        expect(m.debug_exit_value() == 0x10, "isa-debug-exit saw %r (QEMU status %r)" % (m.debug_exit_value(), code))


if __name__ == "__main__":
    run_cases([check_console])
