#!/usr/bin/env python3
"""tarn-sim as a Linux user runs it: arguments with quotes, blanks, '>' and UTF-8 reach the
shell unchanged, output into a pipe is plain text with LF line ends, and the exit status is
the shell's.  Usage: tarn_sim_cli.py PATH-TO-TARN-SIM"""
import os
import subprocess
import sys
import tempfile

SCRIPT = 'FOR i = 1 TO ARGC\r\n  PRINT "[" + ARG$(i) + "]"\r\nNEXT\r\nEND ARGC\r\n'

# (shell arguments, expected standard output, expected exit status)
CASES = [
    (["-c", 'PRINT "hi"'], "hi\n", 0),
    (["-c", 'PRINT "a  ""b"" > c": PRINT "\u00fc\u20ac"'], 'a  "b" > c\n\u00fc\u20ac\n', 0),
    (["-c", 'COLOR 14, 1: PRINT "yellow": CLS: LOCATE 3, 4: PRINT "at"'], "yellow\nat\n", 0),
    (["-c", "END 3"], "", 3),
    (["-c", "END 300"], "", 44),
    (["-c", "PRINT 1 +"], "syntax error: expected an expression, found end of input\n", 1),
    (["args.tsb", "x y", "", 'q"u""o', "\u00fc", ">out", "\t"],
     '[x y]\n[]\n[q"u""o]\n[\u00fc]\n[>out]\n[\t]\n', 6),
]


def main():
    sim = os.path.abspath(sys.argv[1])
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "args.tsb"), "w", newline="") as f:
            f.write(SCRIPT)
        for args, want_out, want_status in CASES:
            run = subprocess.run([sim, "--volume", folder, "--"] + args, cwd=folder,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, timeout=120)
            problems = []
            if run.stdout != want_out.encode("utf-8"):
                problems.append("output %r, expected %r" % (run.stdout, want_out.encode("utf-8")))
            if run.returncode != want_status:
                problems.append("exit status %d, expected %d" % (run.returncode, want_status))
            if b"\x1b" in run.stdout or b"\r" in run.stdout:
                problems.append("terminal control bytes in the output")
            if problems:
                failures += 1
                print("FAIL %r: %s (stderr %r)" % (args, "; ".join(problems), run.stderr))
            else:
                print("ok   %r" % (args,))
        # A redirection sign inside an argument is text, not a redirection.
        if os.path.exists(os.path.join(folder, "out")):
            failures += 1
            print("FAIL: an argument '>out' created a file")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
