#include "platform/window_lookup.h"

#include <QGuiApplication>

#if VX_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>
#endif

#if VX_HAVE_XCB
namespace {

// Longest title read, in 32-bit units of the property protocol.
constexpr std::uint32_t kMaxTitleUnits = 1024;
constexpr std::uint32_t kMaxClientListUnits = 65536;

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
XcbReply<T> Own(T* reply) {
    return XcbReply<T>(reply, &std::free);
}

xcb_atom_t InternAtom(xcb_connection_t* c, std::string_view name) {
    const auto cookie = xcb_intern_atom(c, 1, static_cast<std::uint16_t>(name.size()), name.data());
    const auto reply = Own(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The bytes of a window property, or nothing when the window does not have it.
bool ReadProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                  std::uint32_t maxUnits, std::string& value) {
    if (property == XCB_ATOM_NONE) {
        return false;
    }
    const auto cookie =
        xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, maxUnits);
    const auto reply = Own(xcb_get_property_reply(c, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) {
        return false;
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    value.assign(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    return true;
}

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t window) {
    const auto reply = Own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    if (!reply) {
        return {};
    }
    const xcb_window_t* first = xcb_query_tree_children(reply.get());
    return {first, first + xcb_query_tree_children_length(reply.get())};
}

// Top-level windows: the window manager's client list where there is one, the root's children
// (no window manager) and their children (a reparenting manager's frames hold the clients).
std::set<xcb_window_t> TopLevelWindows(xcb_connection_t* c, xcb_window_t root) {
    std::set<xcb_window_t> windows;
    std::string clients;
    if (ReadProperty(c, root, InternAtom(c, "_NET_CLIENT_LIST"), kMaxClientListUnits, clients)) {
        const std::size_t count = clients.size() / sizeof(xcb_window_t);
        const auto* ids = reinterpret_cast<const xcb_window_t*>(clients.data());
        windows.insert(ids, ids + count);
    }
    for (const xcb_window_t child : Children(c, root)) {
        windows.insert(child);
        for (const xcb_window_t grandchild : Children(c, child)) {
            windows.insert(grandchild);
        }
    }
    return windows;
}

bool X11WindowExists(std::string_view title) {
    using Connection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;
    const Connection c(xcb_connect(nullptr, nullptr), &xcb_disconnect);
    if (xcb_connection_has_error(c.get()) != 0) {
        return false;
    }
    const xcb_atom_t netWmName = InternAtom(c.get(), "_NET_WM_NAME");
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c.get())); it.rem > 0;
         xcb_screen_next(&it)) {
        for (const xcb_window_t window : TopLevelWindows(c.get(), it.data->root)) {
            std::string name;
            if (ReadProperty(c.get(), window, netWmName, kMaxTitleUnits, name) && name == title) {
                return true;
            }
            if (ReadProperty(c.get(), window, XCB_ATOM_WM_NAME, kMaxTitleUnits, name) &&
                name == title) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace
#endif

bool TopLevelWindowExists(std::string_view title) {
#if VX_HAVE_XCB
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        return X11WindowExists(title);
    }
#endif
    (void)title;
    return false;  // no window system to ask (offscreen)
}

std::string DisplaySessionKey() {
    const QString platform = QGuiApplication::platformName();
    const char* variable = platform == QStringLiteral("xcb")       ? "DISPLAY"
                           : platform == QStringLiteral("wayland") ? "WAYLAND_DISPLAY"
                                                                   : nullptr;
    const QByteArray display = variable != nullptr ? qgetenv(variable) : QByteArray();
    return (display.isEmpty() ? platform
                              : platform + QLatin1Char('-') + QString::fromLocal8Bit(display))
        .toStdString();
}
