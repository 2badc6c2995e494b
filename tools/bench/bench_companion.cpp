// What the companion link costs the tracking path under X11: the injector asks
// for the target window's state once per cycle (two round trips to the X
// server) and posts each contact message as a checked send (one round trip).
// Needs an X server: xvfb-run -a build/bin/bench-companion
#include "platform/linux/X11CompanionLink.h"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Another client with `count` top-level windows in a published client list; the
// last one is the companion (class TfrmCanvas), the others are foreign.
struct Desktop
{
    xcb_connection_t *conn = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn)).data->root;
    std::vector<xcb_window_t> windows;

    xcb_atom_t atom(const char *name)
    {
        auto *r = xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }

    explicit Desktop(int count)
    {
        for (int i = 0; i < count; ++i) {
            const xcb_window_t w = xcb_generate_id(conn);
            xcb_create_window(conn, XCB_COPY_FROM_PARENT, w, root, 0, 0, 100, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                              XCB_COPY_FROM_PARENT, 0, nullptr);
            const bool companion = i == count - 1;
            const char *cls = companion ? "TfrmCanvas\0TfrmCanvas\0" : "meridan-pen\0Qt5QWindowIcon\0";
            const int len = companion ? 22 : 27;
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, len, cls);
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, 7,
                                "Drawing");
            xcb_map_window(conn, w);
            windows.push_back(w);
        }
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, root, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 32,
                            uint32_t(windows.size()), windows.data());
        std::free(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), nullptr));
    }
    ~Desktop()
    {
        xcb_delete_property(conn, root, atom("_NET_CLIENT_LIST"));
        xcb_disconnect(conn);
    }
};

void BM_TargetStatePerCycle(benchmark::State &state)
{
    Desktop desktop(1);
    tl::X11CompanionLink link;
    const tl::WindowHandle target = desktop.windows.back();
    for (auto _ : state) {
        const bool shown = link.isVisible(target) && !link.isMinimised(target);
        benchmark::DoNotOptimize(shown);
    }
}
BENCHMARK(BM_TargetStatePerCycle);

void BM_ContactMessage(benchmark::State &state)
{
    Desktop desktop(1);
    tl::X11CompanionLink link;
    const tl::WindowHandle target = desktop.windows.back();
    for (auto _ : state)
        benchmark::DoNotOptimize(link.postMessage(target, 0x47E, (1000u << 16) | 500u, 10));
    // The companion never reads them here: drop what arrived.
    while (xcb_generic_event_t *e = xcb_poll_for_event(desktop.conn))
        std::free(e);
}
BENCHMARK(BM_ContactMessage);

void BM_FindCompanion(benchmark::State &state)
{
    Desktop desktop(int(state.range(0)));
    tl::X11CompanionLink link;
    for (auto _ : state)
        benchmark::DoNotOptimize(link.findCompanion("Meridan-Pen"));
}
BENCHMARK(BM_FindCompanion)->Arg(10)->Arg(100);

} // namespace

BENCHMARK_MAIN();
