// ORVI, as the demo product ships it: a stand-in for the media player that
// behaves the way the setup sees the real one.
//
// With a reachable X display it opens one top-level window whose WM_CLASS is
// ("orvi", "TORVIMainForm"), the class by which the setup finds and closes a
// running player, and which carries _NET_WM_PID so that the setup can tell
// which program owns it. The window closes, and the program ends with exit
// code 0, when the window manager (or the setup) asks through
// WM_DELETE_WINDOW. Without a display it says so and ends with exit code 0,
// so that starting it after an installation never fails.
//
//   ORVI [FILE...]   open the window (the files are only listed)
//   ORVI --version   print the version
//   ORVI --plugins   load every Plugins/*.so beside the program and list them;
//                    exit code 1 when one cannot be loaded
//
// When ORVI_DEMO_LOG names a file, every start appends one line to it: the
// process id, its parent's id and the arguments.

#include <xcb/xcb.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr const char* kVersion = "5.30";
constexpr const char* kWindowClass = "TORVIMainForm";
constexpr const char* kWindowInstance = "orvi";
constexpr std::uint16_t kWidth = 480;
constexpr std::uint16_t kHeight = 270;

// What every plug-in of the player exports as "orvi_plugin_info".
struct OrviPluginInfo {
    int abiVersion;
    const char* name;
    const char* kind;
    const char* description;
};
using PluginInfoFunction = const OrviPluginInfo* (*)();

std::filesystem::path ProgramFolder() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return self.parent_path();
}

void AppendStartRecord(int argc, char** argv) {
    const char* logName = std::getenv("ORVI_DEMO_LOG");
    if (logName == nullptr || *logName == '\0') return;
    std::ofstream log(logName, std::ios::app);
    log << "ORVI pid=" << getpid() << " ppid=" << getppid();
    for (int i = 1; i < argc; ++i) log << ' ' << argv[i];
    log << '\n';
    if (!log) std::fprintf(stderr, "ORVI: cannot write %s\n", logName);
}

int ListPlugins() {
    std::filesystem::path folder = ProgramFolder() / "Plugins";
    std::vector<std::filesystem::path> libraries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".so") libraries.push_back(entry.path());
    }
    if (error) {
        std::printf("no plug-ins: %s: %s\n", folder.c_str(), error.message().c_str());
        return 0;
    }
    std::sort(libraries.begin(), libraries.end());
    int failures = 0;
    for (const auto& library : libraries) {
        void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::printf("%s: cannot load: %s\n", library.filename().c_str(), dlerror());
            ++failures;
            continue;
        }
        auto query = reinterpret_cast<PluginInfoFunction>(dlsym(handle, "orvi_plugin_info"));
        const OrviPluginInfo* info = query != nullptr ? query() : nullptr;
        if (info == nullptr || info->abiVersion != 1) {
            std::printf("%s: not an ORVI plug-in\n", library.filename().c_str());
            ++failures;
        } else {
            std::printf("%s: %s (%s) - %s\n", library.filename().c_str(), info->name, info->kind,
                        info->description);
        }
        dlclose(handle);
    }
    return failures == 0 ? 0 : 1;
}

xcb_atom_t InternAtom(xcb_connection_t* connection, std::string_view name) {
    xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

void SetProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                 xcb_atom_t type, std::uint8_t format, const void* data, std::uint32_t count) {
    if (property == XCB_ATOM_NONE || type == XCB_ATOM_NONE) return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, format, count,
                        data);
}

void SetText(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
             xcb_atom_t type, std::string_view text) {
    SetProperty(connection, window, property, type, 8, text.data(),
                static_cast<std::uint32_t>(text.size()));
}

// A colour of the default colour map, or the fallback when it cannot be had.
std::uint32_t Colour(xcb_connection_t* connection, const xcb_screen_t* screen, std::uint8_t red,
                     std::uint8_t green, std::uint8_t blue, std::uint32_t fallback) {
    xcb_alloc_color_reply_t* reply = xcb_alloc_color_reply(
        connection,
        xcb_alloc_color(connection, screen->default_colormap, static_cast<std::uint16_t>(red * 257),
                        static_cast<std::uint16_t>(green * 257),
                        static_cast<std::uint16_t>(blue * 257)),
        nullptr);
    std::uint32_t pixel = reply != nullptr ? reply->pixel : fallback;
    std::free(reply);
    return pixel;
}

class PlayerWindow {
public:
    explicit PlayerWindow(xcb_connection_t* connection, const xcb_screen_t* screen)
        : connection_(connection), screen_(screen) {}

    void Create() {
        window_ = xcb_generate_id(connection_);
        background_ = Colour(connection_, screen_, 0x26, 0x26, 0x26, screen_->black_pixel);
        accent_ = Colour(connection_, screen_, 0xDE, 0x8C, 0x33, screen_->white_pixel);
        const std::uint32_t values[] = {
            background_, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen_->root, 0, 0, kWidth,
                          kHeight, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

        wmProtocols_ = InternAtom(connection_, "WM_PROTOCOLS");
        wmDeleteWindow_ = InternAtom(connection_, "WM_DELETE_WINDOW");
        const xcb_atom_t netWmPid = InternAtom(connection_, "_NET_WM_PID");
        const xcb_atom_t netWmName = InternAtom(connection_, "_NET_WM_NAME");
        const xcb_atom_t utf8String = InternAtom(connection_, "UTF8_STRING");

        const std::string title = std::string("ORVI ") + kVersion;
        SetText(connection_, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
        SetText(connection_, window_, netWmName, utf8String, title);
        // WM_CLASS holds the instance and the class name, each ended by a NUL.
        std::string wmClass = kWindowInstance;
        wmClass.push_back('\0');
        wmClass += kWindowClass;
        wmClass.push_back('\0');
        SetText(connection_, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        SetProperty(connection_, window_, netWmPid, XCB_ATOM_CARDINAL, 32, &pid, 1);
        // _NET_WM_PID is only meaningful together with the host that owns the pid.
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0) {
            SetText(connection_, window_, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, host);
        }
        SetProperty(connection_, window_, wmProtocols_, XCB_ATOM_ATOM, 32, &wmDeleteWindow_, 1);

        gc_ = xcb_generate_id(connection_);
        const std::uint32_t gcValues[] = {accent_};
        xcb_create_gc(connection_, gc_, window_, XCB_GC_FOREGROUND, gcValues);

        xcb_map_window(connection_, window_);
        xcb_flush(connection_);
    }

    // Runs until the window is asked to close (exit code 0) or the display
    // connection breaks (exit code 1).
    int Run() {
        while (xcb_generic_event_t* event = xcb_wait_for_event(connection_)) {
            const std::uint8_t type = event->response_type & 0x7F;
            bool done = false;
            if (type == XCB_EXPOSE) {
                auto* expose = reinterpret_cast<xcb_expose_event_t*>(event);
                if (expose->count == 0) Paint();
            } else if (type == XCB_CLIENT_MESSAGE) {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                done = message->window == window_ && message->type == wmProtocols_ &&
                       message->format == 32 && message->data.data32[0] == wmDeleteWindow_;
            } else if (type == XCB_DESTROY_NOTIFY) {
                auto* destroyed = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
                if (destroyed->window == window_) {
                    window_ = XCB_WINDOW_NONE;
                    done = true;
                }
            }
            std::free(event);
            if (done) return 0;
        }
        std::fprintf(stderr, "ORVI: the connection to the display was lost\n");
        return 1;
    }

    ~PlayerWindow() {
        if (gc_ != 0) xcb_free_gc(connection_, gc_);
        if (window_ != XCB_WINDOW_NONE) xcb_destroy_window(connection_, window_);
        xcb_flush(connection_);
    }

    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

private:
    // A play symbol in a progress bar: enough to recognise the window.
    void Paint() {
        const xcb_point_t triangle[] = {{210, 80}, {280, 120}, {210, 160}};
        xcb_fill_poly(connection_, window_, gc_, XCB_POLY_SHAPE_CONVEX,
                      XCB_COORD_MODE_ORIGIN, 3, triangle);
        const xcb_rectangle_t bar[] = {{40, 220, 400, 4}, {40, 214, 150, 16}};
        xcb_poly_fill_rectangle(connection_, window_, gc_, 1, &bar[0]);
        xcb_poly_fill_rectangle(connection_, window_, gc_, 1, &bar[1]);
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_;
    const xcb_screen_t* screen_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_gcontext_t gc_ = 0;
    xcb_atom_t wmProtocols_ = XCB_ATOM_NONE;
    xcb_atom_t wmDeleteWindow_ = XCB_ATOM_NONE;
    std::uint32_t background_ = 0;
    std::uint32_t accent_ = 0;
};

int ShowWindow() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::printf("ORVI %s: no display, nothing to show\n", kVersion);
        return 0;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        std::printf("ORVI %s: cannot open display %s, nothing to show\n", kVersion, display);
        xcb_disconnect(connection);
        return 0;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        std::printf("ORVI %s: display %s has no screen %d\n", kVersion, display, screenNumber);
        xcb_disconnect(connection);
        return 0;
    }
    int result = 0;
    {
        PlayerWindow window(connection, screens.data);
        window.Create();
        result = window.Run();
    }
    xcb_disconnect(connection);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    AppendStartRecord(argc, argv);
    std::vector<std::string_view> files;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("ORVI %s\n", kVersion);
            return 0;
        }
        if (arg == "--plugins") return ListPlugins();
        if (arg == "--help") {
            std::printf("usage: ORVI [--version | --plugins | FILE...]\n");
            return 0;
        }
        files.push_back(arg);
    }
    for (std::string_view file : files) {
        std::printf("ORVI: would play %.*s\n", static_cast<int>(file.size()), file.data());
    }
    return ShowWindow();
}
