#pragma once

#include <sys/types.h>

// vx418-capture's work for one caller: answers the requests that arrive on controlFd (list the
// adapters, open one of them, send a frame) and passes every captured frame on over framesFd,
// until the caller closes controlFd or the parent process is gone. Then the process ends: the
// kernel closes the capture sockets, and the capture thread is not waited for.
[[noreturn]] void ServeCaller(int controlFd, int framesFd, pid_t parent);
