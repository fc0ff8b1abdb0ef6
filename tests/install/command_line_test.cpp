// Every installed program answers --help and --version on standard output with status 0, and a
// bad option with its usage on standard error and a non-zero status. The window program must do
// so without a display (help2man runs it while building). Every place that shows the version
// shows project()'s.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vx418_version.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome RunProgram(const std::string& program, const std::string& args) {
    const std::string base = ::testing::TempDir() + "cli-" + std::to_string(getpid());
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 '" +
        program + "' " + args + " >" + base + ".out 2>" + base + ".err";
    Outcome run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Slurp(base + ".out");
    run.err = Slurp(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return run;
}

TEST(CommandLine, HelpVersionAndBadOptions) {
    struct Case {
        const char* program;
        const char* args;
        bool ok;               // status 0, text on stdout only; else non-zero, usage on stderr
        const char* contains;  // in the stream that carries the answer
    };
    const std::vector<Case> cases{
        {VX418_BINARY, "--help", true, "Usage: vx418"},
        {VX418_BINARY, "-h", true, "--version"},
        {VX418_BINARY, "--bogus", false, "Usage: vx418"},
        {VX418_BINARY, "stray-argument", false, "Usage: vx418"},
        {VX418_SIM_BINARY, "--help", true, "--interface"},
        {VX418_SIM_BINARY, "--bogus", false, "Usage: vx418-sim"},
        {VX418_SIM_BINARY, "", false, "--interface is required"},
        {VX418_SIM_BINARY, "--interface x --no-answer 2", false, "Usage: vx418-sim"},
        {VX418_CAPTURE_BINARY, "--help", true, "Usage: vx418-capture"},
        {VX418_CAPTURE_BINARY, "--interface eth0", false, "Usage: vx418-capture"},
        {VX418_CAPTURE_BINARY, "", false, "vx418 and vx418ctl start it"},  // not on sockets
    };
    for (const Case& c : cases) {
        const Outcome run = RunProgram(c.program, c.args);
        const std::string where = std::string(c.program) + " " + c.args;
        if (c.ok) {
            EXPECT_EQ(run.status, 0) << where;
            EXPECT_NE(run.out.find(c.contains), std::string::npos) << where << "\n" << run.out;
            EXPECT_EQ(run.err, "") << where;
        } else {
            EXPECT_NE(run.status, 0) << where;
            EXPECT_NE(run.err.find(c.contains), std::string::npos) << where << "\n" << run.err;
            EXPECT_EQ(run.out, "") << where;
        }
    }
}

// Each program's --version, the About box of both front ends (the Qt form; the resource script,
// which also gives vx418.exe its file version) and the Windows installer, when VX418_MSI names
// one (scripts/test sets it once the MinGW build has made the package).
TEST(CommandLine, EveryProgramTheAboutBoxAndTheInstallerShowTheProjectVersion) {
    for (const std::string program :
         {VX418_BINARY, VX418CTL_BINARY, VX418_SIM_BINARY, VX418_CAPTURE_BINARY}) {
        const Outcome run = RunProgram(program, "--version");
        EXPECT_EQ(run.status, 0) << program;
        EXPECT_EQ(run.out, program.substr(program.rfind('/') + 1) + " " VX_VERSION "\n");
        EXPECT_EQ(run.err, "") << program;
    }
    const std::string about = "VX418 Version " VX_VERSION;
    EXPECT_NE(Slurp(VX_ABOUT_FORM).find("<string>" + about + "</string>"), std::string::npos);
    std::string numbers = VX_VERSION;
    for (std::size_t at; (at = numbers.find('.')) != std::string::npos;) {
        numbers.replace(at, 1, ", ");
    }
    const std::string script = Slurp(VX_RESOURCE_SCRIPT);
    for (const std::string& line :
         {"LTEXT \"" + about + "\"", "FILEVERSION " + numbers + ", 0",
          "PRODUCTVERSION " + numbers + ", 0", std::string("\"FileVersion\", \"" VX_VERSION "\""),
          std::string("\"ProductVersion\", \"" VX_VERSION "\"")}) {
        EXPECT_NE(script.find(line), std::string::npos) << line;
    }
    const char* msi = std::getenv("VX418_MSI");
    if (msi == nullptr || !std::ifstream(msi)) {
        std::puts("no installer to read (VX418_MSI): its version is not checked here");
        return;
    }
    const Outcome table = RunProgram("msiinfo", std::string("export '") + msi + "' Property");
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("\nProductVersion\t" VX_VERSION "\r\n"), std::string::npos)
        << table.out;
}

}  // namespace
