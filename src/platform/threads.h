#pragma once

#include <functional>

// Starts a detached thread at normal priority with the default stack; the caller neither keeps
// nor waits for it.
void StartDetachedThread(std::function<void()> body);

// Sleeps the calling thread for the given milliseconds.
void Sleep(unsigned milliseconds);
