#include "platform/threads.h"

#include <chrono>
#include <thread>
#include <utility>

void StartDetachedThread(std::function<void()> body) {
    std::thread(std::move(body)).detach();
}

void Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
