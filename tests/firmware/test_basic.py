"""TARN BASIC in real firmware: BASIC lines at the prompt with block collection, RUN and
RUN$, and a script found by name on the path, run with arguments, whose END code
becomes lasterror."""

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "

SCRIPT = """\
PRINT "args:"; ARGC; " first="; ARG$(1); " second="; ARG$(2)
END 7
"""


def basic_at_the_prompt_and_scripts(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="basic",
                 files={"\\efi\\tools\\greet.tsb": SCRIPT}) as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("x = 5\r")
        m.wait_for(PROMPT)
        m.send("PRINT x * 2\r")
        m.wait_for("\n10\n")
        m.wait_for(PROMPT)
        m.send("FOR i = 1 TO 2\r")
        m.wait_for("... ")
        m.send("PRINT \"item\"; i\r")
        m.wait_for("... ")
        m.send("NEXT\r")
        m.wait_for("item1\nitem2\n")
        m.wait_for(PROMPT)
        m.send("RUN \"set X 1\"\r")
        m.wait_for(PROMPT)
        m.send("set X\r")
        m.wait_for("1\n")
        m.wait_for(PROMPT)
        m.send("a$ = RUN$(\"echo hi\")\r")
        m.wait_for(PROMPT)
        m.send("PRINT \"[\"; a$; \"]\"\r")
        m.wait_for("[hi]\n")
        m.wait_for(PROMPT)
        # Found by name on the default path (fs0:\efi\tools), run with arguments.
        m.send("greet one \"two words\"\r")
        m.wait_for("args:2 first=one second=two words\n")
        m.wait_for(PROMPT)
        m.send("set lasterror\r")
        m.wait_for("0x7\n")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")


if __name__ == "__main__":
    run_cases([basic_at_the_prompt_and_scripts])
