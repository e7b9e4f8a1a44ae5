// Window-manager hints and window properties as the server holds them, the message that asks
// for the ABOVE state as a root-window client receives it, and a real window manager acting on
// it.
#include <gtest/gtest.h>
// Xlib after gtest: Xlib's macros (None, Bool) break gtest's templates.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "X11Utils.h"
#include "XHandles.h"
#include "support/XProbe.h"
#include "support/XServer.h"

using NativeUI::DisplayPtr;
using testing_x::Property;
using testing_x::readProperty;
using testing_x::XServer;

namespace {

using Longs = std::vector<long>;

class Hints : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xvfb");
    display.reset(XOpenDisplay(server->display().c_str()));
    ASSERT_TRUE(display);
    root = DefaultRootWindow(d());
    window = XCreateSimpleWindow(d(), root, 0, 0, 300, 25, 0, 0, 0);
  }

  Display* d() { return display.get(); }
  long atom(const char* name) { return static_cast<long>(XInternAtom(d(), name, False)); }
  bool atomExists(const char* name) { return XInternAtom(d(), name, True) != 0; }
  Property property(const char* name) {
    XSync(d(), False);
    return readProperty(d(), window, name);
  }

  std::unique_ptr<XServer> server;
  DisplayPtr display;
  Window root = 0;
  Window window = 0;
};

// ---- properties

TEST_F(Hints, FixedSizeWritesMinimumAndMaximumOnly) {
  NativeUI::setWindowFixedSize(d(), window, 300, 25);
  const Property hints = property("WM_NORMAL_HINTS");
  EXPECT_EQ(hints.type, XA_WM_SIZE_HINTS);
  EXPECT_EQ(hints.format, 32);
  Longs expected(18, 0);
  expected[0] = 0x30;  // PMinSize | PMaxSize
  expected[5] = expected[7] = 300;
  expected[6] = expected[8] = 25;
  EXPECT_EQ(hints.items, expected);
}

TEST_F(Hints, RemoveTitleBarMakesADockWindow) {
  NativeUI::removeTitleBar(d(), window, root);
  const Property type = property("_NET_WM_WINDOW_TYPE");
  EXPECT_EQ(type.type, XA_ATOM);
  EXPECT_EQ(type.format, 32);
  EXPECT_EQ(type.items, Longs{atom("_NET_WM_WINDOW_TYPE_DOCK")});
}

TEST_F(Hints, MarkersHoldTheNumberOneAsAnAtom) {
  NativeUI::setZELNativeUIWindowType(d(), window);
  Property marker = property("_ZEL_NATIVE_UI_TYPE");
  EXPECT_EQ(marker.type, XA_ATOM);
  EXPECT_EQ(marker.format, 32);
  EXPECT_EQ(marker.items, Longs{1});
  EXPECT_EQ(property("_ZEL_NATIVE_UI_TYPE_IGNORE").type, 0u);

  const Window border = XCreateSimpleWindow(d(), root, 0, 0, 10, 10, 0, 0, 0);
  NativeUI::setZELNativeUIWindowTypeIgnore(d(), border);
  XSync(d(), False);
  marker = readProperty(d(), border, "_ZEL_NATIVE_UI_TYPE_IGNORE");
  EXPECT_EQ(marker.type, XA_ATOM);
  EXPECT_EQ(marker.format, 32);
  EXPECT_EQ(marker.items, Longs{1});
  EXPECT_EQ(readProperty(d(), border, "_ZEL_NATIVE_UI_TYPE").type, 0u);
}

TEST_F(Hints, StatesAreWrittenDirectlyAsOneAtom) {
  NativeUI::keepWindowAlwaysTop(d(), window, root);
  Property state = property("_NET_WM_STATE");
  EXPECT_EQ(state.type, XA_ATOM);
  EXPECT_EQ(state.format, 32);
  EXPECT_EQ(state.items, Longs{atom("_NET_WM_STATE_ABOVE")});

  NativeUI::setFullScreen(d(), window);
  state = property("_NET_WM_STATE");
  EXPECT_EQ(state.type, XA_ATOM);
  EXPECT_EQ(state.items, Longs{atom("_NET_WM_STATE_FULLSCREEN")});  // replaced, not appended
}

TEST_F(Hints, KeepOnTopOfNoWindowMakesNoRequest) {
  XSync(d(), False);
  const unsigned long before = XNextRequest(d());
  NativeUI::keepWindowAlwaysTop(d(), 0, root);
  EXPECT_EQ(XNextRequest(d()), before);
  EXPECT_FALSE(atomExists("_NET_WM_STATE_ABOVE"));
}

// ---- the request to the window manager

TEST_F(Hints, AlwaysOnTopInternsTheAtomsPrintsThemAndAsksTheRoot) {
  ASSERT_FALSE(atomExists("_NET_WM_STATE_ABOVE"));
  ASSERT_FALSE(atomExists("_NET_WM_STATE"));
  // A second client listening on the root as a window manager's neighbours do; only one client
  // may select SubstructureRedirect, so it takes the Notify half of the mask.
  DisplayPtr listener(XOpenDisplay(server->display().c_str()));
  XSelectInput(listener.get(), root, SubstructureNotifyMask);
  XSync(listener.get(), False);

  testing::internal::CaptureStdout();
  NativeUI::setAlwaysOnTop(d(), window, root);
  XSync(d(), False);
  const std::string out = testing::internal::GetCapturedStdout();
  const long above = atom("_NET_WM_STATE_ABOVE");
  const long state = atom("_NET_WM_STATE");
  EXPECT_EQ(out, "_NET_WM_STATE_ABOVE has atom of " + std::to_string(above) +
                     "\n_NET_WM_STATE has atom of " + std::to_string(state) + "\n");

  XEvent event{};
  ASSERT_TRUE(testing_x::waitForEvent(
      listener.get(), [](const XEvent& e) { return e.type == ClientMessage; }, &event));
  const XClientMessageEvent& message = event.xclient;
  EXPECT_TRUE(message.send_event);
  EXPECT_EQ(message.window, window);
  EXPECT_EQ(static_cast<long>(message.message_type), state);
  EXPECT_EQ(message.format, 32);
  EXPECT_EQ(Longs(message.data.l, message.data.l + 5), (Longs{1, above, 0, 0, 0}));
}

// openbox, a real EWMH window manager, answers the request by adding the state.
TEST_F(Hints, AlwaysOnTopIsHonouredByAWindowManager) {
  XSelectInput(d(), root, PropertyChangeMask);
  XSync(d(), False);
  const pid_t openbox = fork();
  ASSERT_GE(openbox, 0);
  if (openbox == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    setenv("DISPLAY", server->display().c_str(), 1);
    execlp("setpriv", "setpriv", "--pdeathsig", "KILL", "--", "openbox", "--sm-disable",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } reaper{openbox};
  ASSERT_TRUE(testing_x::waitForPropertyCondition(d(), root, [&] {
    return !readProperty(d(), root, "_NET_SUPPORTING_WM_CHECK").items.empty();
  })) << "openbox did not start";

  // openbox names itself on the root well before the end of its start, and drops a map request
  // that comes in meanwhile; so the request is repeated until the window is mapped.
  XSelectInput(d(), window, StructureNotifyMask | PropertyChangeMask);
  bool mapped = false;
  for (int attempt = 0; attempt < 20 && !mapped; ++attempt) {
    XMapWindow(d(), window);
    mapped = testing_x::waitForEvent(
        d(), [&](const XEvent& e) { return e.type == MapNotify && e.xmap.window == window; },
        nullptr, std::chrono::milliseconds(500));
  }
  ASSERT_TRUE(mapped) << "openbox did not map the window";
  ASSERT_TRUE(readProperty(d(), window, "_NET_WM_STATE").items.empty());
  testing::internal::CaptureStdout();
  NativeUI::setAlwaysOnTop(d(), window, root);
  XFlush(d());
  testing::internal::GetCapturedStdout();
  const long above = atom("_NET_WM_STATE_ABOVE");
  EXPECT_TRUE(testing_x::waitForPropertyCondition(d(), window, [&] {
    const Longs states = readProperty(d(), window, "_NET_WM_STATE").items;
    return std::find(states.begin(), states.end(), above) != states.end();
  }));
}

// ---- work area

class WorkArea : public Hints {
 protected:
  void setWorkArea(Atom type, const Longs& values) {
    XChangeProperty(d(), root, XInternAtom(d(), "_NET_WORKAREA", False), type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
    XSync(d(), False);
  }
  NativeUI::RootWorkArea untouched{11, 22, 33, 44};
  Longs read() {
    NativeUI::RootWorkArea area = untouched;
    NativeUI::getWorkArea(d(), root, area);
    return {area.x, area.y, area.width, area.height};
  }
};

TEST_F(WorkArea, FirstDesktopOfSeveralIsReadAsWrittenUncut) {
  setWorkArea(XA_CARDINAL, {0, 27, 1920, 1053, 5, 6, 7, 8});
  EXPECT_EQ(read(), (Longs{0, 27, 1920, 1053}));
  // Nothing is cut to 16 bits on the way: the caller checks what another client wrote.
  setWorkArea(XA_CARDINAL, {65535, 0x10000 + 27, 0x7FFFFFFF, 600});
  EXPECT_EQ(read(), (Longs{65535, 0x10000 + 27, 0x7FFFFFFF, 600}));
}

TEST_F(WorkArea, ShortMissingOrMistypedPropertyLeavesTheRectangle) {
  const Longs unchanged{11, 22, 33, 44};
  EXPECT_EQ(read(), unchanged) << "missing";
  setWorkArea(XA_CARDINAL, {0, 27, 1920});
  EXPECT_EQ(read(), unchanged) << "three values";
  setWorkArea(XA_INTEGER, {0, 27, 1920, 1053});
  EXPECT_EQ(read(), unchanged) << "INTEGER instead of CARDINAL";
}

// ---- where windows are

TEST_F(Hints, PositionAndParentOfANestedWindow) {
  const Window outer = XCreateSimpleWindow(d(), root, 100, 50, 400, 300, 0, 0, 0);
  const Window inner = XCreateSimpleWindow(d(), outer, 10, 20, 40, 30, 0, 0, 0);
  int x = -1;
  int y = -1;
  NativeUI::getWindowPosition(d(), inner, root, x, y);
  EXPECT_EQ(x, 100);  // its origin on the root less its place in its parent
  EXPECT_EQ(y, 50);
  Window parent = 0;
  Window rootOut = 0;
  EXPECT_TRUE(NativeUI::getWindowParent(d(), inner, parent, rootOut));
  EXPECT_EQ(parent, outer);
  EXPECT_EQ(rootOut, root);
}

TEST_F(Hints, WindowThatIsGoneHasPositionZeroAndNoParent) {
  const Window gone = XCreateSimpleWindow(d(), root, 100, 50, 40, 30, 0, 0, 0);
  XDestroyWindow(d(), gone);
  testing_x::ErrorTrap trap(d());
  int x = -1;
  int y = -1;
  NativeUI::getWindowPosition(d(), gone, root, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  Window parent = 0;
  Window rootOut = 0;
  EXPECT_FALSE(NativeUI::getWindowParent(d(), gone, parent, rootOut));
  EXPECT_FALSE(trap.errors().empty());  // the server did refuse, and nobody exited over it
}

// ---- legacy decoration hints

TEST_F(Hints, NoDecorationsWithoutTheAtomsOnlySetsTransientForAndRemaps) {
  const Window owner = XCreateSimpleWindow(d(), root, 0, 0, 10, 10, 0, 0, 0);
  XSelectInput(d(), window, StructureNotifyMask);
  XMapWindow(d(), window);
  ASSERT_TRUE(testing_x::waitForEvent(d(), [&](const XEvent& e) { return e.type == MapNotify; }));

  NativeUI::wmNoDecorations(d(), root, owner, window);
  XSync(d(), False);
  int count = 0;
  NativeUI::XPtr<Atom> names(XListProperties(d(), window, &count));
  ASSERT_EQ(count, 1);
  EXPECT_EQ(names.get()[0], XA_WM_TRANSIENT_FOR);
  EXPECT_EQ(readProperty(d(), window, "WM_TRANSIENT_FOR").items, Longs{static_cast<long>(owner)});
  for (const char* name :
       {"_MOTIF_WM_HINTS", "KWM_WIN_DECORATION", "_WIN_HINTS", "_NET_WM_WINDOW_TYPE"}) {
    EXPECT_FALSE(atomExists(name)) << name << " was interned";
  }
  EXPECT_TRUE(testing_x::waitForEvent(d(), [&](const XEvent& e) { return e.type == UnmapNotify; }));
  EXPECT_TRUE(testing_x::waitForEvent(d(), [&](const XEvent& e) { return e.type == MapNotify; }));
}

TEST_F(Hints, NoDecorationsWritesEveryHintWhoseAtomExists) {
  const long motif = atom("_MOTIF_WM_HINTS");
  const long kwm = atom("KWM_WIN_DECORATION");
  const long win = atom("_WIN_HINTS");
  atom("_NET_WM_WINDOW_TYPE");
  const long normal = atom("_NET_WM_WINDOW_TYPE_NORMAL");
  NativeUI::wmNoDecorations(d(), root, root, window);

  Property p = property("_MOTIF_WM_HINTS");
  EXPECT_EQ(static_cast<long>(p.type), motif);
  EXPECT_EQ(p.items, (Longs{2, 0, 0, 0, 0}));
  p = property("KWM_WIN_DECORATION");
  EXPECT_EQ(static_cast<long>(p.type), kwm);
  EXPECT_EQ(p.items, (Longs{2, 0}));
  p = property("_WIN_HINTS");
  EXPECT_EQ(static_cast<long>(p.type), win);
  EXPECT_EQ(p.items, (Longs{0, 0}));
  p = property("_NET_WM_WINDOW_TYPE");
  EXPECT_EQ(p.type, XA_ATOM);
  EXPECT_EQ(p.items, (Longs{0, normal}));  // the KDE override type was never interned
}

}  // namespace
