// The single-instance rule on the real program: offscreen (the per-user lock alone) and on a
// real X server (a private Xvfb: the lock and the window title), a copy killed with SIGKILL not
// blocking the next start, and the close box ending the process. Each test gives the program a
// runtime directory of its own, so runs elsewhere on the machine do not count.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if VX_HAVE_XCB
#include <xcb/xcb.h>
#include <xcb/xproto.h>
#endif

extern char** environ;

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);

using Clock = std::chrono::steady_clock;

bool Executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

[[maybe_unused]] std::optional<std::string> FindXvfb() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/Xvfb";
        if (Executable(path)) {
            return path;
        }
    }
    return std::nullopt;
}

// A child process; killed on destruction if still running.
class Child {
  public:
    Child(const std::string& path, std::vector<std::string> args, std::vector<std::string> env,
          posix_spawn_file_actions_t* actions = nullptr) {
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Kill(); }
    bool started() const { return pid_ > 0; }
    void Kill() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            exited_ = true;
        }
    }
    // The exit status once the child has ended within the timeout.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
        const auto end = Clock::now() + timeout;
        do {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (Clock::now() < end);
        return std::nullopt;
    }

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

// Our environment with the display, the platform and the runtime directory replaced.
std::vector<std::string> EnvironmentWith(const std::string& display, const std::string& runtime,
                                         const std::string& platform = "xcb") {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0 &&
            std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("DISPLAY=" + display);
    env.push_back("QT_QPA_PLATFORM=" + platform);
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
    return env;
}

// A runtime directory of the test's own (0700, as the session's is), removed afterwards.
class RuntimeDir {
  public:
    RuntimeDir() {
        std::string pattern = ::testing::TempDir() + "vx418-runtime-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~RuntimeDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;
    const std::string& path() const { return path_; }

    // True once some process holds a lock on a file in the directory (the program's
    // single-instance lock), false on time-out.
    bool WaitUntilLocked(std::chrono::milliseconds timeout) const {
        const auto end = Clock::now() + timeout;
        do {
            std::error_code ignored;
            for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
                const int fd = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0) {
                    continue;
                }
                const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
                close(fd);
                if (held) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (Clock::now() < end);
        return false;
    }

  private:
    std::string path_;
};

std::unique_ptr<Child> StartOffscreen(const RuntimeDir& runtime) {
    return std::make_unique<Child>(VX418_BINARY, std::vector<std::string>{},
                                   EnvironmentWith("", runtime.path(), "offscreen"));
}

// Without a window system only the lock can tell that a copy runs.
TEST(OffscreenSession, ASecondCopyEndsSilentlyAndAKilledCopyDoesNotBlockTheNext) {
    RuntimeDir runtime;
    ASSERT_FALSE(runtime.path().empty());
    auto first = StartOffscreen(runtime);
    ASSERT_TRUE(first->started());
    ASSERT_TRUE(runtime.WaitUntilLocked(kStartTimeout)) << "the first copy took no lock";

    auto second = StartOffscreen(runtime);
    EXPECT_EQ(second->WaitExit(kStartTimeout), 0);
    EXPECT_FALSE(first->WaitExit(std::chrono::milliseconds(200)).has_value());  // still runs

    first->Kill();  // SIGKILL: no chance to release anything itself
    auto third = StartOffscreen(runtime);
    EXPECT_TRUE(runtime.WaitUntilLocked(kStartTimeout)) << "the new copy did not start";
    auto fourth = StartOffscreen(runtime);
    EXPECT_EQ(fourth->WaitExit(kStartTimeout), 0);
    EXPECT_FALSE(third->WaitExit(std::chrono::milliseconds(200)).has_value());
}

#if VX_HAVE_XCB

constexpr const char* kTitle = "VX418 Management Utility";

class X11Session : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto xvfb = FindXvfb();
        if (!xvfb) {
            GTEST_SKIP() << "Xvfb is not installed";
        }
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        server_ = std::make_unique<Child>(
            *xvfb,
            std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-screen", "0",
                                     "1024x768x24", "-nolisten", "tcp"},
            EnvironmentWith("", runtime_.path()), &actions);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') {
            number.push_back(c);
        }
        close(fds[0]);
        ASSERT_TRUE(server_->started());
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        display_ = ":" + number;
        connection_ = xcb_connect(display_.c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection_), 0);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }

    void TearDown() override {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
        server_.reset();
    }

    xcb_atom_t Atom(const char* name) {
        const auto cookie =
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }

    // Another program's top-level window with this title.
    xcb_window_t CreateTitledWindow(const std::string& title) {
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const auto length = static_cast<std::uint32_t>(title.size());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, length, title.data());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_NAME"),
                            Atom("UTF8_STRING"), 8, length, title.data());
        xcb_map_window(connection_, window);
        xcb_flush(connection_);
        return window;
    }

    std::string Title(xcb_window_t window) {
        const auto cookie = xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME,
                                             XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        std::string title;
        if (reply != nullptr) {
            title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(reply)));
            std::free(reply);
        }
        return title;
    }

    // Top-level windows (no window manager: the root's children) titled exactly so.
    std::vector<xcb_window_t> WindowsTitled(const std::string& title) {
        std::vector<xcb_window_t> found;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr);
        if (tree == nullptr) {
            return found;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            if (Title(children[i]) == title) {
                found.push_back(children[i]);
            }
        }
        std::free(tree);
        return found;
    }

    bool MappedAndTitled(xcb_window_t window, const std::string& title) {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool mapped =
            attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        return mapped && Title(window) == title;
    }

    std::unique_ptr<Child> StartProgram() {
        return std::make_unique<Child>(VX418_BINARY, std::vector<std::string>{},
                                       EnvironmentWith(display_, runtime_.path()));
    }

    // The program's own window once it shows (windows present before are not counted).
    std::optional<xcb_window_t> WaitForProgramWindow(const std::vector<xcb_window_t>& before) {
        const auto end = Clock::now() + kStartTimeout;
        while (Clock::now() < end) {
            for (const xcb_window_t w : WindowsTitled(kTitle)) {
                if (std::find(before.begin(), before.end(), w) == before.end() &&
                    MappedAndTitled(w, kTitle)) {
                    return w;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

    // What the close box does: the window manager's delete request.
    void PressCloseBox(xcb_window_t window) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = Atom("WM_PROTOCOLS");
        message.data.data32[0] = Atom("WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

    RuntimeDir runtime_;
    std::unique_ptr<Child> server_;
    std::string display_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

TEST_F(X11Session, AnyWindowWithTheTitleEndsTheNewStartSilently) {
    const xcb_window_t other = CreateTitledWindow(kTitle);
    auto program = StartProgram();
    ASSERT_TRUE(program->started());
    EXPECT_EQ(program->WaitExit(kStartTimeout), 0);
    EXPECT_EQ(WindowsTitled(kTitle), std::vector<xcb_window_t>{other});
    EXPECT_TRUE(MappedAndTitled(other, kTitle));  // left as it was
}

TEST_F(X11Session, OnlyTheExactTitleCountsAndTheCloseBoxEndsTheProgram) {
    CreateTitledWindow(std::string(kTitle) + " ");
    CreateTitledWindow("vx418 management utility");
    CreateTitledWindow("VX418 Management");
    auto program = StartProgram();
    const auto window = WaitForProgramWindow({});
    ASSERT_TRUE(window.has_value()) << "the program did not open its window";
    PressCloseBox(*window);
    EXPECT_EQ(program->WaitExit(std::chrono::seconds(10)), 0);
}

TEST_F(X11Session, ASecondCopyEndsWhileTheFirstRuns) {
    auto first = StartProgram();
    const auto window = WaitForProgramWindow({});
    ASSERT_TRUE(window.has_value());
    auto second = StartProgram();
    EXPECT_EQ(second->WaitExit(kStartTimeout), 0);
    EXPECT_EQ(WindowsTitled(kTitle), std::vector<xcb_window_t>{*window});
    EXPECT_FALSE(first->WaitExit(std::chrono::milliseconds(200)).has_value());  // still runs
    PressCloseBox(*window);
    EXPECT_EQ(first->WaitExit(std::chrono::seconds(10)), 0);
}

TEST_F(X11Session, AKilledCopyDoesNotBlockTheNextStart) {
    auto first = StartProgram();
    const auto window = WaitForProgramWindow({});
    ASSERT_TRUE(window.has_value());
    first->Kill();
    // The server drops the dead client's window; its id may come back for the new client.
    const auto end = Clock::now() + kStartTimeout;
    while (!WindowsTitled(kTitle).empty() && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto next = StartProgram();
    const auto nextWindow = WaitForProgramWindow({});
    ASSERT_TRUE(nextWindow.has_value()) << "the new copy did not open its window";
    PressCloseBox(*nextWindow);
    EXPECT_EQ(next->WaitExit(std::chrono::seconds(10)), 0);
}

#else
TEST(X11Session, NeedsLibxcb) {
    GTEST_SKIP() << "built without libxcb";
}
#endif

}  // namespace
