// The built-in functions that reach the shell: files, directory listings, environment
// variables, command capture and -data records, over the simulated firmware.
#include "command_test.h"

#include "basic/engine.h"
#include "basic/program.h"
#include "runtime/memory.h"
#include "runtime/string_buffer.h"

namespace {

using namespace tarn;
using namespace tarn_test;

class BasicLibShell : public ::testing::Test {
protected:
    CommandShell shell;

    RunResult run(const std::string& code) { return shell.run_basic(code); }
    std::string out(const std::string& code) {
        RunResult r = run(code);
        EXPECT_EQ(r.errors, "") << code;
        return r.out;
    }
    std::string error(const std::string& code) {
        RunResult r = run(code);
        EXPECT_EQ(r.code, 1) << code;
        return error_message(r);
    }

    sim::VolumeId fs0() { return shell.volumes[0]; }
};

TEST_F(BasicLibShell, WriteAppendReadBack) {
    EXPECT_EQ(out("PRINT WRITEFILE(\"fs0:\\a.txt\", \"one\"); ERR\n"
                  "APPENDFILE \"fs0:\\a.txt\", 2\n"
                  "PRINT READFILE$(\"fs0:\\a.txt\"); ERR; FILESIZE(\"fs0:\\a.txt\")"),
              "00\none204\n");
    EXPECT_EQ(sim::read_file(shell.fw, fs0(), "a.txt").value_or("?"), "one2");
    // WRITEFILE replaces the content.
    EXPECT_EQ(out("WRITEFILE \"fs0:\\a.txt\", \"x\": PRINT READFILE$(\"fs0:\\a.txt\")"), "x\n");
    // APPENDFILE creates a missing file.
    EXPECT_EQ(out("PRINT APPENDFILE(\"fs0:\\new.txt\", \"n\"); READFILE$(\"fs0:\\new.txt\")"), "0n\n");
}

TEST_F(BasicLibShell, BinaryContentSurvives) {
    sim::add_file(shell.fw, fs0(), "bin.dat", std::string("a\0b\r\n", 5));
    EXPECT_EQ(out("d$ = READFILE$(\"fs0:\\bin.dat\"): PRINT LEN(d$); ASC(MID$(d$, 2, 1)); ASC(MID$(d$, 4, 1))"),
              "5013\n");
}

TEST_F(BasicLibShell, MissingFilesReportThroughErr) {
    EXPECT_EQ(out("d$ = READFILE$(\"fs0:\\nosuchfile.txt\"): PRINT \"[\" + d$ + \"]\"; ERR: PRINT \"on\""),
              "[]1\non\n");
    EXPECT_EQ(out("PRINT FILESIZE(\"fs0:\\nope\"); ERR; FILESIZE(\"fs7:\\nope\"); ERR"), "-11-11\n");
    EXPECT_EQ(error("d$ = READFILE$(\"fs7:\\x.txt\")"), "invalid path: fs7:\\x.txt");
    EXPECT_EQ(error("WRITEFILE \"fs7:\\x.txt\", \"a\""), "invalid path: fs7:\\x.txt");
    EXPECT_EQ(error("PRINT APPENDFILE(\"fs7:\\x.txt\", \"a\")"), "invalid path: fs7:\\x.txt");
    // Writing fails on the device: result and ERR are 1, the script goes on.
    sim::fail_writes_after(shell.fw, fs0(), 0);
    EXPECT_EQ(out("PRINT WRITEFILE(\"fs0:\\w.txt\", \"abc\"); ERR; APPENDFILE(\"fs0:\\w.txt\", \"abc\"); ERR"),
              "1111\n");
    sim::fail_writes_after(shell.fw, fs0(), -1);
    EXPECT_EQ(out("PRINT WRITEFILE(\"fs0:\\w.txt\", \"abc\"); ERR"), "00\n");
}

TEST_F(BasicLibShell, ExistenceChecks) {
    sim::add_file(shell.fw, fs0(), "d\\f.txt", "hi");
    EXPECT_EQ(out("PRINT FILEEXISTS(\"fs0:\\d\\f.txt\"); FILEEXISTS(\"fs0:\\d\"); FILEEXISTS(\"fs0:\\zz\"); "
                  "FILEEXISTS(\"fs9:\\a\")"),
              "-1000\n");
    EXPECT_EQ(out("PRINT DIREXISTS(\"fs0:\\d\"); DIREXISTS(\"fs0:\\d\\f.txt\"); DIREXISTS(\"fs0:\\\"); "
                  "DIREXISTS(\"fs9:\\\")"),
              "-10-10\n");
}

TEST_F(BasicLibShell, DirectoryListing) {
    sim::add_file(shell.fw, fs0(), "lst\\b.txt", "1");
    sim::add_file(shell.fw, fs0(), "lst\\a.txt", "1");
    sim::add_file(shell.fw, fs0(), "lst\\c.log", "1");
    sim::add_directory(shell.fw, fs0(), "lst\\sub");
    EXPECT_EQ(out("n$ = DIR$(\"fs0:\\lst\")\nWHILE n$ <> \"\"\nPRINT n$\nn$ = DIR$\nWEND\nPRINT \"[\" + DIR$ + \"]\""),
              "a.txt\nb.txt\nc.log\nsub\n[]\n");
    EXPECT_EQ(out("PRINT DIR$(\"fs0:\\lst\\*.txt\"): PRINT DIR$: PRINT \"[\" + DIR$ + \"]\""), "a.txt\nb.txt\n[]\n");
    // A new pattern discards the old listing; an unresolvable one gives an empty listing.
    EXPECT_EQ(out("x$ = DIR$(\"fs0:\\lst\"): PRINT \"[\" + DIR$(\"fs9:\\*\") + \"][\" + DIR$ + \"]\""), "[][]\n");
    EXPECT_EQ(out("PRINT \"[\" + DIR$(\"fs0:\\lst\\*.none\") + \"]\""), "[]\n");
    // An empty pattern lists the current directory.
    shell.run("cd fs0:\\lst\\sub");
    sim::add_file(shell.fw, fs0(), "lst\\sub\\only.txt", "1");
    EXPECT_EQ(out("PRINT DIR$(\"\"); CWD$"), "only.txtfs0:\\lst\\sub\n");
}

TEST_F(BasicLibShell, EnvironmentVariables) {
    EXPECT_EQ(out("PRINT SETENV(\"lib_a\", 42); ERR: PRINT ENV$(\"LIB_A\"); ERR"), "00\n420\n");
    EXPECT_EQ(out("PRINT \"[\" + ENV$(\"lib_none\") + \"]\"; ERR"), "[]1\n");
    EXPECT_EQ(out("PRINT DELENV(\"lib_a\"); ERR; DELENV(\"lib_a\"); ERR"), "0011\n");
    char* gone = get_variable("lib_a");
    EXPECT_EQ(gone, nullptr);
    release(gone);
    std::string e = error("SETENV \"bad name!\", \"x\"");
    EXPECT_EQ(e.rfind("SETENV bad name!: ", 0), 0u) << e;
}

TEST_F(BasicLibShell, CapturedSetDataRecords) {
    shell.run("set lib_x one");
    shell.run("set lib_y two");
    EXPECT_EQ(out("t$ = RUN$(\"set -data\"): PRINT ERR\n"
                  "n = RECORDS(t$, r$()): PRINT n > 1; n = UBOUND(r$()) + 1\n"
                  "FOR i = 0 TO n - 1\n"
                  "IF FIELD$(r$(i), \"name\") = \"lib_x\" OR FIELD$(r$(i), \"NAME\") = \"lib_y\" THEN PRINT FIELD$(r$(i), \"value\")\n"
                  "NEXT"),
              "0\n-1-1\none\ntwo\n");
    EXPECT_EQ(out("PRINT \"[\" + RUN$(\"echo hi\") + \"]\"; ERR"), "[hi]0\n");
}

TEST_F(BasicLibShell, ReadFailureOnTheDeviceSetsErr) {
    sim::add_file(shell.fw, fs0(), "r.txt", "data");
    sim::inject_file_error(shell.fw, fs0(), sim::FileOp::Read, efi::kDeviceError);
    EXPECT_EQ(out("d$ = READFILE$(\"fs0:\\r.txt\"): PRINT \"[\" + d$ + \"]\"; ERR\n"
                  "PRINT READFILE$(\"fs0:\\r.txt\"); ERR"),
              "[]1\ndata0\n");
}

TEST_F(BasicLibShell, PermanentVariableAndWrongKinds) {
    EXPECT_EQ(out("PRINT SETENV(\"lib_keep\", \"v\", 1); SETENV(\"lib_temp\", \"w\")"), "00\n");
    EXPECT_TRUE(variable_is_permanent("lib_keep"));
    EXPECT_FALSE(variable_is_permanent("lib_temp"));
    EXPECT_EQ(error("PRINT ENV$(1)"), "env$: argument 1 must be a string");
    EXPECT_EQ(error("PRINT SETENV(\"a\", \"b\", \"c\")"), "setenv: argument 3 must be a number");
    EXPECT_EQ(error("PRINT READFILE$(2)"), "readfile$: argument 1 must be a string");
    EXPECT_EQ(error("PRINT DIR$(2)"), "dir$: argument 1 must be a string");
    EXPECT_EQ(error("PRINT FIELD$(\"a=1\")"), "field$ expects 2 arguments");
}

TEST_F(BasicLibShell, DirOfAFileNamesIt) {
    sim::add_file(shell.fw, fs0(), "one\\f.txt", "1");
    EXPECT_EQ(out("PRINT DIR$(\"fs0:\\one\\f.txt\"): PRINT \"[\" + DIR$ + \"]\""), "f.txt\n[]\n");
}

}  // namespace
