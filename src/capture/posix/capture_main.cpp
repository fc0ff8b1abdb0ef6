// vx418-capture: captures and sends the units' frames for vx418 and vx418ctl, which run without
// any capability. It is the one program that holds one (cap_net_raw), so it reads no
// environment, no configuration file and no argument that changes what it does, loads no
// plugins, and keeps no capability but CAP_NET_RAW (docs/capture-helper.md).

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "capture/posix/capture_service.h"
#include "vx418_version.h"

namespace {

constexpr int kControlFd = STDIN_FILENO;  // requests and their answers
constexpr int kFramesFd = STDOUT_FILENO;  // the captured frames
constexpr int kExitUsage = 2;
constexpr int kExitSetup = 3;

constexpr char kUsage[] =
    "Usage: vx418-capture\n"
    "\n"
    "The capture helper of vx418 and vx418ctl, which start it with two sockets as its\n"
    "standard input and output; it is not run by hand.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n";

int AnswerCommandLine(int argc, char** argv) {
    const std::string_view option = argv[1];
    if (argc == 2 && option == "--help") {
        std::fputs(kUsage, stdout);
        return EXIT_SUCCESS;
    }
    if (argc == 2 && option == "--version") {
        std::printf("vx418-capture %s\n", VX_VERSION);
        return EXIT_SUCCESS;
    }
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// Keeps CAP_NET_RAW alone, also where the file was given more or root runs it, and makes sure
// nothing this process might run could gain privileges.
bool KeepOnlyNetRaw() {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return false;
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, sets) != 0) {
        return false;
    }
    constexpr std::uint32_t kNetRaw = 1u << CAP_NET_RAW;  // in the first of the two words
    sets[0] = {sets[0].effective & kNetRaw, sets[0].permitted & kNetRaw, 0};
    sets[1] = {};
    return syscall(SYS_capset, &header, sets) == 0;
}

bool IsSocket(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    // First of all: nothing of the caller's environment reaches libpcap or the C library.
    clearenv();
    if (argc > 1) {
        return AnswerCommandLine(argc, argv);
    }
    const pid_t parent = getppid();
    close_range(STDERR_FILENO + 1, ~0u, 0);  // only the two sockets and standard error stay
    if (!KeepOnlyNetRaw()) {
        std::perror("vx418-capture: capabilities");
        return kExitSetup;
    }
    if (!IsSocket(kControlFd) || !IsSocket(kFramesFd)) {
        std::fputs("vx418-capture: vx418 and vx418ctl start it; see vx418-capture --help\n",
                   stderr);
        return kExitUsage;
    }
    ServeCaller(kControlFd, kFramesFd, parent);
}
