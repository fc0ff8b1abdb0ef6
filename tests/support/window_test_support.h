#pragma once

// Shared by the tests that drive the real dialog (GUI and lab): serving the window thread
// while workers wait on it, running code on a worker, reading the Log pane, and finding the
// message boxes the workers open.

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "shell/cvx418_dlg.h"
#include "wait_until.h"

namespace vxtest {

using namespace std::chrono_literals;

// Spins the window thread's event loop until done() holds; false on time-out. Blocking calls
// from workers are served meanwhile.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return PollUntil(done, timeout, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    });
}

// Runs fn on a thread of its own, as the program's workers run, while this (window) thread
// keeps serving its calls; returns fn's result.
template <typename Fn>
auto OnWorker(Fn fn, std::chrono::milliseconds timeout = 60s) -> decltype(fn()) {
    std::packaged_task<decltype(fn())()> task(std::move(fn));
    auto result = task.get_future();
    std::thread worker(std::move(task));
    WaitUntil([&] { return result.wait_for(0ms) == std::future_status::ready; }, timeout);
    worker.join();
    return result.get();
}

inline bool RunOnWorker(const std::function<void()>& fn) {
    bool finished = false;
    OnWorker([&] {
        fn();
        finished = true;
    });
    return finished;
}

// The Log pane's lines, without their line ends. The "Adaptor:" line carries a line feed of
// its own before the CR LF, so it reads as that line and an empty one.
inline std::vector<std::string> LogLines(CVX418Dlg& dialog) {
    std::string text = dialog.m_LogPane.GetWindowText();
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) {
        text.erase(at, 1);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

inline bool HasLine(CVX418Dlg& dialog, const std::string& line) {
    const auto lines = LogLines(dialog);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline int CountLine(CVX418Dlg& dialog, const std::string& line) {
    const auto lines = LogLines(dialog);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// The message boxes open now (the workers' boxes have no owner, so they are top level).
inline std::vector<QMessageBox*> OpenMessageBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

// For a copy of the program that a test runs as a process of its own: a lock directory of its
// own (XDG_RUNTIME_DIR), so that no other copy on this machine, another test's, stops it. Empty
// when none could be made; remove it once the copy holds its lock.
inline std::string PrivateLockDirectory() {
    std::string directory = "/tmp/vx-test-lock-XXXXXX";
    if (mkdtemp(directory.data()) == nullptr) {
        return {};
    }
    setenv("XDG_RUNTIME_DIR", directory.c_str(), 1);
    return directory;
}

}  // namespace vxtest
