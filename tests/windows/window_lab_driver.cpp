// The window program with a scripted user, for the Wine lab test (wine_lab_test.cpp): main is
// the program's own (RunWindowProgram); a second thread presses the real buttons (BM_CLICK),
// reads the trees and the Log pane through the wrappers, as workers do, and at last closes the
// window during a Refresh. One line per step on standard output; exit status the program's own
// (0 after the close), 2 when a step timed out.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/window_program.h"
#include "protocol/device_table.h"
#include "shell/cvx418_dlg.h"
#include "shell/shell_state.h"
#include "tree_items.h"
#include "wait_until.h"

#include "platform/win32/system_headers.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vxtest::FindUnit;

struct Script {
    std::string renameMac, newName, txMac, rxMac, screenshot;
};

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void WaitOrFail(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                const char* step) {
    if (!vxtest::SleepUntil(done, timeout)) {
        Say(std::string("FAILED: ") + step);
        std::_Exit(2);
    }
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Press(CVX418Dlg& d, int id) {
    SendMessageA(GetDlgItem(d.GetSafeHwnd(), id), BM_CLICK, 0, 0);
}

bool LogHas(CVX418Dlg& d, const std::string& line) {
    return d.m_LogPane.GetWindowText().find(line + "\r\n") != std::string::npos;
}

// Every item of a tree, depth first, as "  " per level + label.
void Walk(CTreeCtrl& tree, HTREEITEM item, int depth, std::vector<std::string>& out) {
    for (; item; item = tree.GetNextSiblingItem(item)) {
        out.push_back(std::string(2 * depth, ' ') + tree.GetItemText(item));
        Walk(tree, tree.GetChildItem(item), depth + 1, out);
    }
}

// Selects the unit's item, waiting while a rebuild replaces the tree's items.
void SelectWhenShown(CTreeCtrl& tree, const std::string& mac, const char* step) {
    WaitOrFail(
        [&] {
            const HTREEITEM item = FindUnit(tree, mac);
            return item && tree.SelectItem(item);
        },
        5s, step);
}

void PrintTrees(CVX418Dlg& d) {
    for (auto [name, tree] : {std::pair{"connections", &d.m_ConnectionsTree},
                              std::pair{"available", &d.m_AvailableTree}}) {
        std::vector<std::string> labels;
        Walk(*tree, tree->GetRootItem(), 0, labels);
        for (const std::string& label : labels) {
            Say(std::string(name) + ": " + label);
        }
    }
}

// The window as the screen shows it, as a 24-bit BMP.
void SaveScreenshot(HWND window, const std::string& path) {
    RECT r{};
    GetWindowRect(window, &r);
    const LONG w = r.right - r.left;
    const LONG h = r.bottom - r.top;
    const auto size = static_cast<DWORD>((w * 3 + 3) / 4 * 4 * h);
    BITMAPINFOHEADER info{sizeof info, w, h, 1, 24, BI_RGB, size, 0, 0, 0, 0};
    constexpr DWORD kHeaders = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file{0x4D42, kHeaders + size, 0, 0, kHeaders};
    std::string bmp(file.bfSize, '\0');
    std::memcpy(bmp.data(), &file, sizeof file);
    std::memcpy(bmp.data() + sizeof file, &info, sizeof info);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, h, bmp.data() + file.bfOffBits,
              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(bmp.data(), 1, bmp.size(), out);
    std::fclose(out);
}

void Drive(const Script& s) {
    WaitOrFail([] { return MainDialog.load() != nullptr; }, 60s, "the dialog");
    CVX418Dlg& d = *MainDialog.load();
    WaitOrFail([&] { return IsWindowVisible(d.GetSafeHwnd()) != FALSE; }, 60s, "the window");

    Press(d, IDC_SET_ADAPTER);
    WaitOrFail([&] { return LogHas(d, "Succeed in setting the network adapter."); }, 20s,
               "Set Adapter");

    Press(d, IDC_REFRESH);
    const auto refreshed = Clock::now();
    WaitOrFail([] { return Devices().DeviceCount() > 0; }, 10s, "a discovery reply");
    Say("first discovery reply stored after " + std::to_string(MsSince(refreshed)) + " ms");
    WaitOrFail([&] { return LogHas(d, "Finished searching for VX418."); }, 20s, "the Refresh");
    Say("Refresh done after " + std::to_string(MsSince(refreshed)) + " ms");
    PrintTrees(d);

    if (!s.screenshot.empty()) {
        d.m_ConnectionsTree.SelectItem(FindUnit(d.m_ConnectionsTree, s.txMac));
        std::this_thread::sleep_for(500ms);  // painted
        SaveScreenshot(d.GetSafeHwnd(), s.screenshot);
    }

    // Rename: the unit chosen in a tree, the name typed, "Change" pressed.
    SelectWhenShown(d.m_AvailableTree, s.renameMac, "the unit to rename");
    d.m_NameEdit.SetWindowText(s.newName);
    Press(d, IDC_CHANGE_NAME);
    const auto renamed = Clock::now();
    WaitOrFail([&] { return LogHas(d, "Succeeded in updating device's name."); }, 10s, "rename");
    Say("rename confirmed after " + std::to_string(MsSince(renamed)) + " ms");

    // Add: the Transmitter chosen, its Connect picker opened (refilled) and the Receiver picked
    // with the arrow keys as a user does, "Add" pressed.
    // The rename's reply can come before its worker has rebuilt the trees.
    SelectWhenShown(d.m_ConnectionsTree, s.txMac, "the Transmitter");
    const HWND picker = GetDlgItem(d.GetSafeHwnd(), IDC_CONNECT_PICKER);
    SendMessageA(picker, CB_SHOWDROPDOWN, TRUE, 0);
    const HWND field = FindWindowExA(picker, nullptr, "Edit", nullptr);
    for (int i = 0; i < d.m_ConnectPicker.GetCount(); ++i) {
        SendMessageA(field, WM_KEYDOWN, VK_DOWN, 0);
        if (d.m_ConnectPicker.GetWindowText().find("[" + s.rxMac + "]") != std::string::npos) {
            break;
        }
    }
    SendMessageA(field, WM_KEYDOWN, VK_RETURN, 0);
    Say("picked: " + d.m_ConnectPicker.GetLBText(d.m_ConnectPicker.GetCurSel()));
    Press(d, IDC_ADD_CONNECT);
    const auto added = Clock::now();
    WaitOrFail([&] { return LogHas(d, "Succeeded in adding the Receiver."); }, 10s, "add");
    Say("add confirmed after " + std::to_string(MsSince(added)) + " ms");

    // The close box while a Refresh sleeps, the capture loop runs and the trees wait to be
    // rebuilt: the program must end at once and cleanly.
    Press(d, IDC_REFRESH);
    WaitOrFail([&] { return !d.m_RefreshButton.IsWindowEnabled(); }, 5s, "the second Refresh");
    Say("closing during the Refresh");
    PostMessageA(d.GetSafeHwnd(), WM_CLOSE, 0, 0);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fputs("usage: RENAME_MAC NEW_NAME TX_MAC RX_MAC [SCREENSHOT.bmp]\n", stderr);
        return 1;
    }
    const Script script{argv[1], argv[2], argv[3], argv[4], argc > 5 ? argv[5] : ""};
    std::thread([script] { Drive(script); }).detach();
    return RunWindowProgram(argc, argv);
}
