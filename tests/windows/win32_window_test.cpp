// The Win32 window under Wine: the control wrappers' contract when a worker calls them, the
// dialog against its template, the About box, and vx418.exe started without Npcap and beside a
// running window. The test's main thread is the window thread and serves it while it waits;
// GoogleTest's checks may be made from the workers (it is thread-safe on Windows).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/command_dispatch.h"
#include "net/memory_segment.h"
#include "platform/win32/common_controls.h"
#include "shell/cvx418_dlg.h"
#include "shell/log_line.h"
#include "vx418_version.h"
#include "wait_until.h"

#include "platform/win32/system_headers.h"

namespace {

using namespace std::chrono_literals;

HWND servedDialog = nullptr;  // gets its keys as in the program's own loop

// Serves this (window) thread's messages until done() holds.
bool Serve(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    return vxtest::PollUntil(done, timeout, [] {
        MSG m{};
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) != FALSE) {
            if (servedDialog == nullptr || IsDialogMessageA(servedDialog, &m) == FALSE) {
                TranslateMessage(&m);
                DispatchMessageA(&m);
            }
        }
        std::this_thread::sleep_for(1ms);
    });
}

// Runs fn on a thread of its own, as the workers run, while this thread serves the window.
void OnWorker(const std::function<void()>& fn) {
    auto done = std::async(std::launch::async, fn);
    Serve([&] { return done.wait_for(0ms) == std::future_status::ready; }, 60s);
    done.get();
}

std::mutex raisedMutex;
std::vector<int> raised;  // commands the dialog raised, in order

std::vector<int> TakeRaised() {
    const std::lock_guard lock(raisedMutex);
    return std::exchange(raised, {});
}

HWND Control(CVX418Dlg& d, int id) {
    return GetDlgItem(d.GetSafeHwnd(), id);
}

HWND EditOf(HWND combo) {
    return FindWindowExA(combo, nullptr, "Edit", nullptr);
}

// Keys as a user presses them in a combo box's edit field.
void Type(HWND combo, const std::string& text) {
    const HWND edit = EditOf(combo);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char c : text) {
        SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
    }
}

// A key pressed in the box's edit field, through the window thread's queue and the dialog's
// keyboard handling; returns once done() holds.
bool Key(HWND combo, WPARAM key, const std::function<bool()>& done) {
    PostMessageA(EditOf(combo), WM_KEYDOWN, key, 0);
    PostMessageA(EditOf(combo), WM_KEYUP, key, 0);
    return vxtest::SleepUntil(done, 5s);
}

// A top-level window once it is shown (a dialog shows once its controls are made).
HWND WaitForWindow(const char* title) {
    HWND w = nullptr;
    vxtest::SleepUntil([&] { return IsWindowVisible(w = FindWindowA(nullptr, title)) != 0; }, 20s);
    return w;
}

std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class Win32Window : public ::testing::Test {
  protected:
    // The real dialog on the real dispatcher over an in-memory adapter list; workers are
    // recorded, not run.
    static void SetUpTestSuite() {
        InitializeCommonControls();
        auto segment = std::make_shared<MemorySegment>();
        segment->SetAdapters({{"rpcap://test0", "Test adapter", {}, 0}});
        SetCaptureBackend(segment);
        SetWorkerStartObserver([](const WorkerStart&) { return false; });
        dialog_ = new CVX418Dlg([](Command command) {
            {
                const std::lock_guard lock(raisedMutex);
                raised.push_back(static_cast<int>(command));
            }
            DispatchCommand(dialog_, command);
        });
        dialog_->OnInitDialog();
        ShowWindow(dialog_->GetSafeHwnd(), SW_SHOW);
        servedDialog = dialog_->GetSafeHwnd();
    }
    static void TearDownTestSuite() {
        delete dialog_;
        dialog_ = nullptr;
    }
    void SetUp() override { TakeRaised(); }

    static inline CVX418Dlg* dialog_ = nullptr;
};

// Template 102 in dialog units, as the dialog manager maps them; a combo box's height is its
// list's.
struct TemplateControl {
    int id, x, y, w, h;
    const char* windowClass;
    LONG styles;  // style bits the control must have
    bool border = false;
};
constexpr TemplateControl kTemplate[] = {
    {1019, 245, 97, 37, 10, "Static", SS_CENTER},
    {1023, 249, 60, 32, 8, "Static", 0},
    {1003, 9, 54, 149, 25, "Button", WS_TABSTOP},
    {1004, 166, 54, 65, 25, "Button", WS_TABSTOP},
    {1005, 291, 146, 133, 14, "Edit", WS_TABSTOP | ES_AUTOHSCROLL, true},
    {1006, 447, 143, 50, 14, "Button", WS_TABSTOP},
    {1007, 291, 181, 133, 14, "Edit", ES_AUTOHSCROLL | ES_READONLY, true},
    {1008, 291, 162, 133, 14, "Edit", WS_TABSTOP | ES_AUTOHSCROLL, true},
    {1009, 447, 162, 50, 14, "Button", WS_TABSTOP},
    {1020, 248, 113, 34, 8, "Static", 0},
    {1012, 281, 58, 156, 147, "ComboBox", CBS_DROPDOWN | WS_TABSTOP},
    {1013, 283, 94, 154, 128, "ComboBox", CBS_DROPDOWN | WS_TABSTOP},
    {1014, 283, 110, 154, 109, "ComboBox", CBS_DROPDOWN | WS_TABSTOP},
    {1015, 447, 57, 50, 14, "Button", WS_TABSTOP},
    {1016, 447, 93, 50, 14, "Button", WS_TABSTOP},
    {1017, 447, 110, 50, 14, "Button", WS_TABSTOP},
    {1002, 9, 82, 225, 138, "SysTreeView32",
     TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_NOTOOLTIPS | TVS_CHECKBOXES, true},
    {1018, 247, 235, 257, 88, "Edit", ES_MULTILINE | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL,
     true},
    {1026, 250, 202, 43, 8, "Static", 0},
    {1021, 291, 201, 133, 59, "ComboBox", CBS_DROPDOWN | WS_TABSTOP},
    {1022, 447, 199, 50, 14, "Button", WS_TABSTOP},
    {1024, 9, 21, 430, 81, "ComboBox", CBS_DROPDOWN | WS_TABSTOP},
    {1025, 447, 20, 50, 14, "Button", WS_TABSTOP},
    {1010, 9, 236, 223, 87, "SysTreeView32",
     TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_NOTOOLTIPS, true},
    {2, 498, 223, 16, 11, "Button", 0},
    {1, 475, 225, 15, 10, "Button", BS_DEFPUSHBUTTON | WS_DISABLED},
};

TEST_F(Win32Window, TheDialogIsItsTemplate) {
    const HWND dialog = dialog_->GetSafeHwnd();
    RECT size{0, 0, 521, 337};
    MapDialogRect(dialog, &size);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    EXPECT_EQ(WindowText(dialog), "VX418 Management Utility");
    const LONG_PTR style = GetWindowLongPtrA(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION | WS_SYSMENU);
    EXPECT_TRUE(GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    for (const TemplateControl& c : kTemplate) {
        SCOPED_TRACE(c.id);
        const HWND control = Control(*dialog_, c.id);
        ASSERT_NE(control, nullptr);
        char name[32] = {};
        GetClassNameA(control, name, sizeof name);
        EXPECT_STRCASEEQ(name, c.windowClass);
        EXPECT_EQ(GetWindowLongPtrA(control, GWL_STYLE) & c.styles, c.styles);
        // The dialog manager draws an edit's WS_BORDER as a sunken edge.
        const bool border = (GetWindowLongPtrA(control, GWL_STYLE) & WS_BORDER) != 0 ||
                            (GetWindowLongPtrA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
        EXPECT_EQ(border, c.border);
        RECT want{c.x, c.y, c.w, c.h};  // position and size, mapped each on its own
        MapDialogRect(dialog, &want);
        RECT screen{};
        GetWindowRect(control, &screen);
        RECT at = screen;
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&at), 2);
        EXPECT_EQ(at.left, want.left);
        EXPECT_EQ(at.top, want.top);
        EXPECT_EQ(at.right - at.left, want.right);
        if (std::string(c.windowClass) == "ComboBox") {
            // The list opens down to the template's height (Wine's stops one field, with its
            // borders, shorter).
            RECT dropped{};
            SendMessageA(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
            EXPECT_NEAR(dropped.bottom - screen.top, want.bottom, at.bottom - at.top + 2);
        } else {
            EXPECT_EQ(at.bottom - at.top, want.bottom);
        }
    }
    EXPECT_FALSE(GetWindowLongPtrA(Control(*dialog_, 2), GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(GetWindowLongPtrA(Control(*dialog_, 1), GWL_STYLE) & WS_VISIBLE);

    // Command 0 ran: the adapter offered, the busy set disabled, Set Adapter usable.
    EXPECT_FALSE(IsWindowEnabled(Control(*dialog_, IDC_BACKUP2_PICKER)));
    EXPECT_TRUE(IsWindowEnabled(Control(*dialog_, IDC_SET_ADAPTER)));
    EXPECT_EQ(dialog_->m_AdapterCombo.GetWindowText(), "Test adapter");
}

struct ContractRow {
    const char* what;
    void (*body)(CVX418Dlg&);
};

const ContractRow kContract[] = {
    {"tree items: insert, navigate, expand, select, check",
     [](CVX418Dlg& d) {
         CTreeCtrl& t = d.m_ConnectionsTree;
         t.DeleteAllItems();
         const HTREEITEM tx = t.InsertItem("Transmitter", 1, 1);
         const HTREEITEM rx1 = t.InsertItem("Receiver 1", 0, 0, tx);
         const HTREEITEM rx2 = t.InsertItem("Receiver 2", tx);
         const HTREEITEM other = t.InsertItem("Other", 0, 0);
         EXPECT_EQ(t.GetCount(), 4);
         EXPECT_TRUE(t.GetRootItem() == tx && t.GetChildItem(TVI_ROOT) == tx);
         EXPECT_TRUE(t.GetNextSiblingItem(tx) == other && !t.GetNextSiblingItem(other));
         EXPECT_TRUE(t.GetChildItem(tx) == rx1 && t.GetNextSiblingItem(rx1) == rx2 &&
                     !t.GetNextSiblingItem(rx2) && t.GetParentItem(rx2) == tx &&
                     !t.GetParentItem(tx));
         EXPECT_TRUE(t.ItemHasChildren(tx) && !t.ItemHasChildren(rx1));
         EXPECT_EQ(t.GetItemText(rx1), "Receiver 1");
         EXPECT_TRUE(t.GetItemImage(tx) == 1 && t.GetItemImage(rx2) == -1);
         EXPECT_TRUE(!t.IsExpanded(tx) && t.Expand(tx) && t.IsExpanded(tx));
         EXPECT_TRUE(!t.GetSelectedItem() && t.SelectItem(rx2) && t.GetSelectedItem() == rx2);
         EXPECT_EQ(TakeRaised(), std::vector<int>{10});  // before SelectItem returned
         EXPECT_TRUE(t.SelectItem(HTREEITEM{}) && !t.GetSelectedItem());
         EXPECT_TRUE(!t.GetCheck(rx1) && t.SetCheck(rx1, true) && t.GetCheck(rx1) &&
                     t.SetCheck(rx1, false) && !t.GetCheck(rx1));
         const HTREEITEM free = d.m_AvailableTree.InsertItem("free", 1, 1);
         EXPECT_TRUE(!d.m_AvailableTree.SetCheck(free, true) && !d.m_AvailableTree.GetCheck(free));
     }},
    {"stale handles name nothing; emptying a tree raises nothing",
     [](CVX418Dlg& d) {
         CTreeCtrl& t = d.m_ConnectionsTree;
         const HTREEITEM parent = t.InsertItem("old");
         const HTREEITEM child = t.InsertItem("old child", parent);
         t.SelectItem(child);
         TakeRaised();
         EXPECT_TRUE(t.DeleteAllItems());
         EXPECT_TRUE(TakeRaised().empty());
         const HTREEITEM fresh = t.InsertItem("new");
         EXPECT_TRUE(fresh != parent && fresh != child);
         for (const HTREEITEM stale : {parent, child}) {
             EXPECT_TRUE(t.GetItemText(stale).empty() && !t.GetParentItem(stale) &&
                         !t.GetChildItem(stale) && !t.GetNextSiblingItem(stale) &&
                         t.GetItemImage(stale) == -1 && !t.ItemHasChildren(stale) &&
                         !t.SelectItem(stale) && !t.SetCheck(stale, true) && !t.Expand(stale) &&
                         !t.InsertItem("orphan", stale));
         }
         EXPECT_TRUE(t.GetCount() == 1 && d.m_AvailableTree.GetItemText(fresh).empty());
     }},
    {"combo box entries: adding selects nothing, a number without an entry clears",
     [](CVX418Dlg& d) {
         CComboBox& c = d.m_Backup2Picker;
         c.ResetContent();
         EXPECT_TRUE(c.AddString("first") == 0 && c.AddString("second") == 1 &&
                     c.GetCurSel() == -1);
         for (const int none : {-1, 2}) {
             c.SetCurSel(1);
             EXPECT_TRUE(c.GetCurSel() == 1 && c.GetWindowText() == "second");
             c.SetCurSel(none);
             EXPECT_TRUE(c.GetCurSel() == -1 && c.GetWindowText().empty() &&
                         c.GetLBText(none).empty());
         }
     }},
    {"typed text is no entry until one is picked or set",
     [](CVX418Dlg& d) {
         CComboBox& c = d.m_TopologyCombo;  // "Multicast", "Unicast"
         const HWND box = Control(d, IDC_TOPOLOGY_COMBO);
         c.SetCurSel(0);
         Type(box, "Uni");
         EXPECT_EQ(c.GetCurSel(), -1);
         SendMessageA(box, CB_SHOWDROPDOWN, TRUE, 0);
         Type(box, "Unic");  // the open list highlights "Unicast"
         EXPECT_TRUE(
             Key(box, VK_RETURN, [box] { return !SendMessageA(box, CB_GETDROPPEDSTATE, 0, 0); }));
         EXPECT_EQ(c.GetCurSel(), -1);  // Enter did not take the matching entry
         EXPECT_EQ(c.GetWindowText(), "Unic");
         SendMessageA(d.GetSafeHwnd(), WM_NEXTDLGCTL, 0, FALSE);  // nor the focus leaving
         EXPECT_EQ(c.GetCurSel(), -1);
         EXPECT_TRUE(Key(box, VK_DOWN, [&c] { return c.GetCurSel() >= 0; }));  // a pick
         EXPECT_EQ(c.GetWindowText(), c.GetLBText(c.GetCurSel()));
         Type(box, "x");
         c.SetCurSel(1);
         EXPECT_EQ(c.GetCurSel(), 1);  // the program's selection counts
     }},
    {"edit text keeps every byte; the Log pane appends whole lines in order, unlimited",
     [](CVX418Dlg& d) {
         std::string bytes;
         for (int b = ' '; b < 256; ++b) {
             bytes.push_back(static_cast<char>(b));
         }
         d.m_NameEdit.SetWindowText(bytes);
         EXPECT_EQ(d.m_NameEdit.GetWindowText(), bytes);
         d.m_LogPane.SetWindowText("");
         std::string expected;
         for (int i = 0; i < 600; ++i) {  // 60 kB, beyond an edit's default 32 kB
             const std::string line = "line " + std::to_string(i) + std::string(90, '.');
             LogLine(&d, "%s", line.c_str());
             expected += line + "\r\n";
         }
         vxtest::SleepUntil([&] { return d.m_LogPane.GetWindowText().size() >= expected.size(); },
                            10s);
         EXPECT_EQ(d.m_LogPane.GetWindowText(), expected);
     }},
};

TEST_F(Win32Window, TheControlWrappersKeepTheirContractWhenAWorkerCallsThem) {
    for (const ContractRow& row : kContract) {
        OnWorker([&] {
            SCOPED_TRACE(row.what);
            row.body(*dialog_);
        });
    }
}

TEST_F(Win32Window, TheSystemMenuOpensTheAboutBox) {
    const HMENU menu = GetSystemMenu(dialog_->GetSafeHwnd(), FALSE);
    const int last = GetMenuItemCount(menu) - 1;
    char text[64] = {};
    GetMenuStringA(menu, last, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About VX418...");
    EXPECT_EQ(GetMenuItemID(menu, last), 0x10u);
    EXPECT_TRUE(GetMenuState(menu, last - 1, MF_BYPOSITION) & MF_SEPARATOR);
    // The box runs modally on this thread; a worker finds, reads and closes it.
    auto seen = std::async(std::launch::async, [] {
        const HWND box = WaitForWindow("About VX418");
        const HWND version = FindWindowExA(box, nullptr, "Static", "VX418 Version " VX_VERSION);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return version != nullptr;
    });
    PostMessageA(dialog_->GetSafeHwnd(), WM_SYSCOMMAND, 0x10, 0);
    ASSERT_TRUE(Serve([&] { return seen.wait_for(0ms) == std::future_status::ready; }, 30s));
    EXPECT_TRUE(seen.get());
    EXPECT_EQ(FindWindowA(nullptr, "About VX418"), nullptr);
}

// Wine's per-program setting that keeps vx418.exe from loading wpcap.dll, as on a machine
// without Npcap (Wine reads no WINEDLLOVERRIDES from a process that a Windows program starts).
constexpr char kProgramOverrides[] = "Software\\Wine\\AppDefaults\\vx418.exe\\DllOverrides";

void SetNpcapMissing(bool missing) {
    if (missing) {
        RegSetKeyValueA(HKEY_CURRENT_USER, kProgramOverrides, "wpcap", REG_SZ, "disabled",
                        sizeof "disabled");
    } else {
        RegDeleteKeyA(HKEY_CURRENT_USER, kProgramOverrides);
    }
}

// vx418.exe itself.
bool StartProgram(PROCESS_INFORMATION& process) {
    STARTUPINFOA start{};
    start.cb = sizeof start;
    std::string command = std::string("Z:") + VX_WINDOW_EXE;
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &start, &process) != FALSE;
}

DWORD WaitForExit(const PROCESS_INFORMATION& process) {
    DWORD status = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

TEST_F(Win32Window, TheProgramNamesNpcapWhenItIsMissingAndEndsBesideARunningWindow) {
    PROCESS_INFORMATION withoutNpcap{};
    SetNpcapMissing(true);
    ASSERT_TRUE(StartProgram(withoutNpcap));
    const HWND box = WaitForWindow("VX418: Npcap is needed");
    SetNpcapMissing(false);
    if (box == nullptr) {
        TerminateProcess(withoutNpcap.hProcess, 1);
    }
    ASSERT_NE(box, nullptr);
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_NE(std::string(text).find("Cannot list the adapters: wpcap.dll could not be loaded"),
              std::string::npos)
        << text;
    EXPECT_NE(std::string(text).find("Npcap (https://npcap.com)"), std::string::npos) << text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForExit(withoutNpcap), 4u);

    // This test's dialog has the program's title: a second copy ends at once, silently.
    PROCESS_INFORMATION second{};
    ASSERT_TRUE(StartProgram(second));
    EXPECT_EQ(WaitForExit(second), 0u);
    EXPECT_EQ(FindWindowA(nullptr, "VX418 Management Utility"), dialog_->GetSafeHwnd());
}

}  // namespace
