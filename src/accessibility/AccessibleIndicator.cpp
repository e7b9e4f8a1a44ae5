// The AT-SPI2 objects of the indicator, served with GDBus on a connection of their own.
//
// Four objects: the application (the root, embedded in the registry's desktop), its
// notification window, and in it a label and a push button. Each object path carries the
// interfaces of its object; every call is answered from the state that the backend last handed
// over (under the mutex), so a drag or a new monitor is what the next GetExtents sees. The thread
// finds the bus, connects, registers the objects, embeds the root in the registry, announces the
// window and runs its loop until the owner ends it; closing the connection is what removes the
// application from the registry.
#include "AccessibleIndicator.h"

#include <gio/gio.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace Accessibility {

namespace {

constexpr const char* kRootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* kNullPath = "/org/a11y/atspi/null";
constexpr const char* kCachePath = "/org/a11y/atspi/cache";
constexpr const char* kAccessible = "org.a11y.atspi.Accessible";
constexpr const char* kApplication = "org.a11y.atspi.Application";
constexpr const char* kComponent = "org.a11y.atspi.Component";
constexpr const char* kAction = "org.a11y.atspi.Action";
constexpr const char* kCache = "org.a11y.atspi.Cache";
constexpr int kCallTimeoutMs = 5000;

// The roles and states of the AT-SPI2 protocol (atspi-constants.h).
constexpr guint32 kRoleLabel = 29;
constexpr guint32 kRolePushButton = 43;
constexpr guint32 kRoleApplication = 75;
// A notification, not a plain window: screen readers speak a notification's text when it shows.
constexpr guint32 kRoleNotification = 101;
constexpr int kStateActive = 1;
constexpr int kStateEnabled = 8;
constexpr int kStateFocusable = 11;
constexpr int kStateFocused = 12;
constexpr int kStateSensitive = 24;
constexpr int kStateShowing = 25;
constexpr int kStateVisible = 30;
constexpr guint32 kLayerWidget = 3;
constexpr guint32 kLayerWindow = 7;
constexpr guint32 kCoordScreen = 0;
constexpr guint32 kCoordWindow = 1;

enum class Node { Root, Window, Label, Button };

struct NodeInfo {
  Node node;
  const char* path;
  guint32 role;
  const char* roleName;
  int indexInParent;
};

constexpr NodeInfo kNodes[] = {
    {Node::Root, kRootPath, kRoleApplication, "application", -1},
    {Node::Window, "/org/a11y/atspi/accessible/window", kRoleNotification, "notification", 0},
    {Node::Label, "/org/a11y/atspi/accessible/label", kRoleLabel, "label", 0},
    {Node::Button, "/org/a11y/atspi/accessible/button", kRolePushButton, "push button", 1},
};

const NodeInfo& info(Node node) { return kNodes[static_cast<int>(node)]; }

const NodeInfo* nodeAt(const char* path) {
  for (const NodeInfo& node : kNodes) {
    if (g_strcmp0(node.path, path) == 0) return &node;
  }
  return nullptr;
}

// The interfaces that pyatspi and screen readers call on such objects, in the protocol's own
// names and signatures.
constexpr const char* kIntrospection = R"XML(<node>
<interface name="org.a11y.atspi.Accessible">
  <property name="Name" type="s" access="read"/>
  <property name="Description" type="s" access="read"/>
  <property name="Parent" type="(so)" access="read"/>
  <property name="ChildCount" type="i" access="read"/>
  <property name="Locale" type="s" access="read"/>
  <property name="AccessibleId" type="s" access="read"/>
  <method name="GetChildAtIndex"><arg direction="in" type="i"/><arg direction="out" type="(so)"/></method>
  <method name="GetChildren"><arg direction="out" type="a(so)"/></method>
  <method name="GetIndexInParent"><arg direction="out" type="i"/></method>
  <method name="GetRelationSet"><arg direction="out" type="a(ua(so))"/></method>
  <method name="GetRole"><arg direction="out" type="u"/></method>
  <method name="GetRoleName"><arg direction="out" type="s"/></method>
  <method name="GetLocalizedRoleName"><arg direction="out" type="s"/></method>
  <method name="GetState"><arg direction="out" type="au"/></method>
  <method name="GetAttributes"><arg direction="out" type="a{ss}"/></method>
  <method name="GetApplication"><arg direction="out" type="(so)"/></method>
  <method name="GetInterfaces"><arg direction="out" type="as"/></method>
</interface>
<interface name="org.a11y.atspi.Application">
  <property name="ToolkitName" type="s" access="read"/>
  <property name="Version" type="s" access="read"/>
  <property name="AtspiVersion" type="s" access="read"/>
  <property name="Id" type="i" access="readwrite"/>
  <method name="GetLocale"><arg direction="in" type="u"/><arg direction="out" type="s"/></method>
</interface>
<interface name="org.a11y.atspi.Component">
  <method name="Contains"><arg direction="in" type="i"/><arg direction="in" type="i"/><arg direction="in" type="u"/><arg direction="out" type="b"/></method>
  <method name="GetAccessibleAtPoint"><arg direction="in" type="i"/><arg direction="in" type="i"/><arg direction="in" type="u"/><arg direction="out" type="(so)"/></method>
  <method name="GetExtents"><arg direction="in" type="u"/><arg direction="out" type="(iiii)"/></method>
  <method name="GetPosition"><arg direction="in" type="u"/><arg direction="out" type="i"/><arg direction="out" type="i"/></method>
  <method name="GetSize"><arg direction="out" type="i"/><arg direction="out" type="i"/></method>
  <method name="GetLayer"><arg direction="out" type="u"/></method>
  <method name="GetMDIZOrder"><arg direction="out" type="n"/></method>
  <method name="GrabFocus"><arg direction="out" type="b"/></method>
  <method name="GetAlpha"><arg direction="out" type="d"/></method>
</interface>
<interface name="org.a11y.atspi.Action">
  <property name="NActions" type="i" access="read"/>
  <method name="GetDescription"><arg direction="in" type="i"/><arg direction="out" type="s"/></method>
  <method name="GetName"><arg direction="in" type="i"/><arg direction="out" type="s"/></method>
  <method name="GetLocalizedName"><arg direction="in" type="i"/><arg direction="out" type="s"/></method>
  <method name="GetKeyBinding"><arg direction="in" type="i"/><arg direction="out" type="s"/></method>
  <method name="GetActions"><arg direction="out" type="a(sss)"/></method>
  <method name="DoAction"><arg direction="in" type="i"/><arg direction="out" type="b"/></method>
</interface>
<interface name="org.a11y.atspi.Cache">
  <method name="GetItems"><arg direction="out" type="a((so)(so)(so)iiassusau)"/></method>
</interface>
</node>)XML";

GDBusNodeInfo* introspection() {
  static GDBusNodeInfo* const parsed = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return parsed;
}

GDBusInterfaceInfo* interfaceInfo(const char* name) {
  return g_dbus_node_info_lookup_interface(introspection(), name);
}

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct VariantUnref {
  void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
using ConnectionPtr = std::unique_ptr<GDBusConnection, ObjectUnref>;
using CancellablePtr = std::unique_ptr<GCancellable, ObjectUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

struct ContextUnref {
  void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
struct LoopUnref {
  void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};

std::string validText(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string result(valid);
  g_free(valid);
  return result;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The session bus's address without GIO's fallbacks, one of which would start a bus of its own
// (dbus-launch) in a process that has none.
std::string sessionBusAddress() {
  std::string address = environment("DBUS_SESSION_BUS_ADDRESS");
  if (!address.empty()) return address;
  const std::string runtime = environment("XDG_RUNTIME_DIR");
  if (runtime.empty()) return "";
  const std::string socket = runtime + "/bus";
  return g_file_test(socket.c_str(), G_FILE_TEST_EXISTS) ? "unix:path=" + socket : "";
}

ConnectionPtr connectTo(const std::string& address, GCancellable* cancellable, ErrorPtr& error) {
  GError* raw = nullptr;
  ConnectionPtr connection(g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable, &raw));
  error.reset(raw);
  return connection;
}

std::atomic<bool> sWarned{false};

}  // namespace

struct AccessibleIndicator::Bus {
  Bus(const IndicatorState& initial, std::string root, Press onPress, Warn onWarn)
      : state(initial),
        rootBusAddress(std::move(root)),
        press(std::move(onPress)),
        warn(std::move(onWarn)),
        context(g_main_context_new()),
        loop(g_main_loop_new(context.get(), FALSE)),
        cancellable(g_cancellable_new()) {
    state.notice = validText(state.notice);
    state.stopText = validText(state.stopText);
  }

  void run();
  std::string findAddress();
  bool serve(const std::string& address);
  bool registerObjects();
  void unregisterObjects();
  void announceShowing();
  void announceFocus();
  void warnOnce(const char* what, const GError* error);
  // Runs function(data) once on the bus thread's loop; any thread.
  void post(GSourceFunc function, gpointer data);

  // Answers, on the bus thread.
  GVariant* reference(Node node) const;
  GVariant* parentOf(Node node) const;
  GVariant* states(Node node, const IndicatorState& now) const;
  GVariant* interfaces(Node node) const;
  GVariant* cacheItems();
  GVariant* property(Node node, const char* interfaceName, const char* name);
  void call(Node node, const char* interfaceName, const char* method, GVariant* parameters,
            GDBusMethodInvocation* invocation);
  void callAccessible(Node node, const char* method, GVariant* parameters,
                      GDBusMethodInvocation* invocation);
  void callComponent(Node node, const char* method, GVariant* parameters,
                     GDBusMethodInvocation* invocation);
  void callAction(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation);
  std::string nameOf(Node node, const IndicatorState& now) const;
  Extents extentsOf(Node node, const IndicatorState& now) const;
  IndicatorState snapshot() {
    const std::lock_guard<std::mutex> lock(mutex);
    return state;
  }

  std::mutex mutex;
  IndicatorState state;         // under mutex
  bool announcedFocus = false;  // bus thread
  std::string rootBusAddress;
  Press press;
  Warn warn;
  std::unique_ptr<GMainContext, ContextUnref> context;
  std::unique_ptr<GMainLoop, LoopUnref> loop;
  CancellablePtr cancellable;
  // Bus thread only, from here on.
  ConnectionPtr connection;
  std::string uniqueName;
  std::string desktopName;
  std::string desktopPath = kNullPath;
  gint32 applicationId = 0;
  std::vector<guint> registrations;
  std::thread thread;
};

namespace {

void onMethodCall(GDBusConnection*, const gchar*, const gchar* path, const gchar* interfaceName,
                  const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                  gpointer data) {
  auto* bus = static_cast<AccessibleIndicator::Bus*>(data);
  const NodeInfo* node = nodeAt(path);
  if (node == nullptr) {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownObject", path);
    return;
  }
  bus->call(node->node, interfaceName, method, parameters, invocation);
}

void onCacheCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                 GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
  auto* bus = static_cast<AccessibleIndicator::Bus*>(data);
  if (g_strcmp0(method, "GetItems") != 0) {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownMethod", method);
    return;
  }
  GVariant* items = bus->cacheItems();
  g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&items, 1));
}

GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar* path,
                        const gchar* interfaceName, const gchar* name, GError** error,
                        gpointer data) {
  auto* bus = static_cast<AccessibleIndicator::Bus*>(data);
  const NodeInfo* node = nodeAt(path);
  GVariant* value = node ? bus->property(node->node, interfaceName, name) : nullptr;
  if (value == nullptr) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "%s", name);
  }
  return value;
}

// The registry numbers the applications it embeds through the root's Id.
gboolean onSetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* name, GVariant* value, GError** error, gpointer data) {
  auto* bus = static_cast<AccessibleIndicator::Bus*>(data);
  if (g_strcmp0(name, "Id") != 0) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "%s", name);
    return FALSE;
  }
  bus->applicationId = g_variant_get_int32(value);
  return TRUE;
}

const GDBusInterfaceVTable kObjectTable = {onMethodCall, onGetProperty, onSetProperty, {nullptr}};
const GDBusInterfaceVTable kCacheTable = {onCacheCall, nullptr, nullptr, {nullptr}};

}  // namespace

std::unique_ptr<AccessibleIndicator> AccessibleIndicator::start(const IndicatorState& state,
                                                                const std::string& rootBusAddress,
                                                                Press press, Warn warn) {
  if (environment("AT_SPI_BUS_ADDRESS").empty() && rootBusAddress.empty() &&
      sessionBusAddress().empty()) {
    return nullptr;
  }
  auto bus = std::make_unique<Bus>(state, rootBusAddress, std::move(press), std::move(warn));
  Bus* raw = bus.get();
  bus->thread = std::thread([raw] { raw->run(); });
  return std::unique_ptr<AccessibleIndicator>(new AccessibleIndicator(std::move(bus)));
}

AccessibleIndicator::AccessibleIndicator(std::unique_ptr<Bus> bus) : _bus(std::move(bus)) {}

// A quit queued on the loop's own context reaches the loop even when it has not started yet;
// the cancellation ends a connection or call still under way.
AccessibleIndicator::~AccessibleIndicator() {
  g_cancellable_cancel(_bus->cancellable.get());
  _bus->post(
      [](gpointer data) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(data));
        return G_SOURCE_REMOVE;
      },
      _bus->loop.get());
  _bus->thread.join();
}

void AccessibleIndicator::update(const IndicatorState& state) {
  bool focusChanged = false;
  {
    const std::lock_guard<std::mutex> lock(_bus->mutex);
    if (_bus->state == state) return;  // called after every turn of the bar's loop
    focusChanged = _bus->state.buttonFocused != state.buttonFocused;
    _bus->state = state;
    _bus->state.notice = validText(state.notice);
    _bus->state.stopText = validText(state.stopText);
  }
  if (!focusChanged) return;
  _bus->post(
      [](gpointer data) -> gboolean {
        static_cast<Bus*>(data)->announceFocus();
        return G_SOURCE_REMOVE;
      },
      _bus.get());
}

// Sources still pending when the thread ends go with the context, uncalled.
void AccessibleIndicator::Bus::post(GSourceFunc function, gpointer data) {
  GSource* source = g_idle_source_new();
  g_source_set_callback(source, function, data, nullptr);
  g_source_attach(source, context.get());
  g_source_unref(source);
}

void AccessibleIndicator::Bus::run() {
  pthread_setname_np(pthread_self(), "indicator-a11y");
  g_main_context_push_thread_default(context.get());
  const std::string address = findAddress();
  if (!address.empty() && serve(address)) g_main_loop_run(loop.get());
  unregisterObjects();
  if (connection) g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
  connection.reset();
  g_main_context_pop_thread_default(context.get());
}

// Not finding a bus is no failure: most desktops run without one until a screen reader starts.
std::string AccessibleIndicator::Bus::findAddress() {
  std::string address = environment("AT_SPI_BUS_ADDRESS");
  if (!address.empty()) return address;
  if (!rootBusAddress.empty()) return rootBusAddress;
  const std::string session = sessionBusAddress();
  if (session.empty()) return "";
  ErrorPtr error;
  const ConnectionPtr sessionBus = connectTo(session, cancellable.get(), error);
  if (!sessionBus) return "";
  GError* raw = nullptr;
  const VariantPtr reply(g_dbus_connection_call_sync(
      sessionBus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
      G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable.get(), &raw));
  error.reset(raw);
  if (reply) {
    const gchar* text = nullptr;
    g_variant_get(reply.get(), "(&s)", &text);
    address = text;
  }
  g_dbus_connection_close_sync(sessionBus.get(), nullptr, nullptr);
  return address;
}

bool AccessibleIndicator::Bus::serve(const std::string& address) {
  ErrorPtr error;
  connection = connectTo(address, cancellable.get(), error);
  if (!connection) {
    warnOnce("cannot connect to the accessibility bus", error.get());
    return false;
  }
  uniqueName = g_dbus_connection_get_unique_name(connection.get());
  if (!registerObjects()) {
    warnOnce("cannot register on the accessibility bus", nullptr);
    return false;
  }
  GError* raw = nullptr;
  const VariantPtr reply(g_dbus_connection_call_sync(
      connection.get(), "org.a11y.atspi.Registry", kRootPath, "org.a11y.atspi.Socket", "Embed",
      g_variant_new("((so))", uniqueName.c_str(), kRootPath), G_VARIANT_TYPE("((so))"),
      G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancellable.get(), &raw));
  error.reset(raw);
  if (!reply) {
    if (!g_cancellable_is_cancelled(cancellable.get())) {
      warnOnce("the accessibility registry did not take the indicator", error.get());
    }
    return false;
  }
  const gchar* name = nullptr;
  const gchar* path = nullptr;
  g_variant_get(reply.get(), "((&s&o))", &name, &path);
  desktopName = name;
  desktopPath = path;
  announceShowing();
  return true;
}

bool AccessibleIndicator::Bus::registerObjects() {
  struct Registration {
    Node node;
    const char* interfaceName;
  };
  const Registration table[] = {
      {Node::Root, kAccessible},   {Node::Root, kApplication}, {Node::Window, kAccessible},
      {Node::Window, kComponent},  {Node::Label, kAccessible}, {Node::Label, kComponent},
      {Node::Button, kAccessible}, {Node::Button, kComponent}, {Node::Button, kAction},
  };
  for (const Registration& entry : table) {
    const guint id = g_dbus_connection_register_object(connection.get(), info(entry.node).path,
                                                       interfaceInfo(entry.interfaceName),
                                                       &kObjectTable, this, nullptr, nullptr);
    if (id == 0) return false;
    registrations.push_back(id);
  }
  const guint cache = g_dbus_connection_register_object(
      connection.get(), kCachePath, interfaceInfo(kCache), &kCacheTable, this, nullptr, nullptr);
  if (cache == 0) return false;
  registrations.push_back(cache);
  return true;
}

void AccessibleIndicator::Bus::unregisterObjects() {
  for (const guint id : registrations) g_dbus_connection_unregister_object(connection.get(), id);
  registrations.clear();
}

void AccessibleIndicator::Bus::warnOnce(const char* what, const GError* error) {
  if (sWarned.exchange(true)) return;
  std::string line = std::string("Accessibility: ") + what;
  if (error != nullptr) line += std::string(": ") + error->message;
  warn(line);
}

// What a notification that appears says: "I am showing", which makes a screen reader read the
// window's name and text out, as it does for an alert.
void AccessibleIndicator::Bus::announceShowing() {
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_dbus_connection_emit_signal(
      connection.get(), nullptr, info(Node::Window).path, "org.a11y.atspi.Event.Object",
      "StateChanged",
      g_variant_new("(siiva{sv})", "showing", 1, 0, g_variant_new_int32(0), &properties), nullptr);
}

void AccessibleIndicator::Bus::announceFocus() {
  if (!connection || registrations.empty()) return;
  const bool focused = snapshot().buttonFocused;
  if (focused == announcedFocus) return;
  announcedFocus = focused;
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_dbus_connection_emit_signal(connection.get(), nullptr, info(Node::Button).path,
                                "org.a11y.atspi.Event.Object", "StateChanged",
                                g_variant_new("(siiva{sv})", "focused", focused ? 1 : 0, 0,
                                              g_variant_new_int32(0), &properties),
                                nullptr);
}

GVariant* AccessibleIndicator::Bus::reference(Node node) const {
  return g_variant_new("(so)", uniqueName.c_str(), info(node).path);
}

GVariant* AccessibleIndicator::Bus::parentOf(Node node) const {
  switch (node) {
    case Node::Root:
      return g_variant_new("(so)", desktopName.c_str(), desktopPath.c_str());
    case Node::Window:
      return reference(Node::Root);
    case Node::Label:
    case Node::Button:
      return reference(Node::Window);
  }
  return reference(Node::Root);
}

std::string AccessibleIndicator::Bus::nameOf(Node node, const IndicatorState& now) const {
  return node == Node::Button ? now.stopText : now.notice;
}

Extents AccessibleIndicator::Bus::extentsOf(Node node, const IndicatorState& now) const {
  switch (node) {
    case Node::Label:
      return now.label;
    case Node::Button:
      return now.button;
    default:
      return now.window;
  }
}

GVariant* AccessibleIndicator::Bus::states(Node node, const IndicatorState& now) const {
  guint32 bits[2] = {0, 0};
  const auto set = [&bits](int state) { bits[state / 32] |= 1u << (state % 32); };
  if (node != Node::Root) {
    for (int state : {kStateEnabled, kStateSensitive, kStateShowing, kStateVisible}) set(state);
  }
  if (node == Node::Window) set(kStateActive);
  if (node == Node::Button) {
    set(kStateFocusable);
    if (now.buttonFocused) set(kStateFocused);
  }
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("au"));
  for (const guint32 word : bits) g_variant_builder_add(&builder, "u", word);
  return g_variant_builder_end(&builder);
}

GVariant* AccessibleIndicator::Bus::interfaces(Node node) const {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&builder, "s", kAccessible);
  if (node == Node::Root) g_variant_builder_add(&builder, "s", kApplication);
  if (node != Node::Root) g_variant_builder_add(&builder, "s", kComponent);
  if (node == Node::Button) g_variant_builder_add(&builder, "s", kAction);
  return g_variant_builder_end(&builder);
}

namespace {

int childCount(Node node) {
  switch (node) {
    case Node::Root:
      return 1;
    case Node::Window:
      return 2;
    default:
      return 0;
  }
}

// The child at that index, or false.
bool childAt(Node node, int index, Node& child) {
  if (node == Node::Root && index == 0) {
    child = Node::Window;
    return true;
  }
  if (node == Node::Window && (index == 0 || index == 1)) {
    child = index == 0 ? Node::Label : Node::Button;
    return true;
  }
  return false;
}

}  // namespace

GVariant* AccessibleIndicator::Bus::cacheItems() {
  const IndicatorState now = snapshot();
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a((so)(so)(so)iiassusau)"));
  for (const NodeInfo& node : kNodes) {
    g_variant_builder_add(&builder, "(@(so)@(so)@(so)ii@assus@au)", reference(node.node),
                          reference(Node::Root), parentOf(node.node), node.indexInParent,
                          childCount(node.node), interfaces(node.node),
                          nameOf(node.node, now).c_str(), node.role, "", states(node.node, now));
  }
  return g_variant_builder_end(&builder);
}

GVariant* AccessibleIndicator::Bus::property(Node node, const char* interfaceName,
                                             const char* name) {
  const IndicatorState now = snapshot();
  if (g_strcmp0(interfaceName, kAccessible) == 0) {
    if (g_strcmp0(name, "Name") == 0) return g_variant_new_string(nameOf(node, now).c_str());
    if (g_strcmp0(name, "Description") == 0) return g_variant_new_string("");
    if (g_strcmp0(name, "Parent") == 0) return parentOf(node);
    if (g_strcmp0(name, "ChildCount") == 0) return g_variant_new_int32(childCount(node));
    if (g_strcmp0(name, "Locale") == 0) return g_variant_new_string("");
    if (g_strcmp0(name, "AccessibleId") == 0) return g_variant_new_string("");
  } else if (g_strcmp0(interfaceName, kApplication) == 0) {
    if (g_strcmp0(name, "ToolkitName") == 0) return g_variant_new_string("screen-share-indicator");
    if (g_strcmp0(name, "Version") == 0) return g_variant_new_string("1");
    if (g_strcmp0(name, "AtspiVersion") == 0) return g_variant_new_string("2.1");
    if (g_strcmp0(name, "Id") == 0) return g_variant_new_int32(applicationId);
  } else if (g_strcmp0(interfaceName, kAction) == 0 && g_strcmp0(name, "NActions") == 0) {
    return g_variant_new_int32(1);
  }
  return nullptr;
}

void AccessibleIndicator::Bus::call(Node node, const char* interfaceName, const char* method,
                                    GVariant* parameters, GDBusMethodInvocation* invocation) {
  if (g_strcmp0(interfaceName, kAccessible) == 0) {
    callAccessible(node, method, parameters, invocation);
  } else if (g_strcmp0(interfaceName, kComponent) == 0) {
    callComponent(node, method, parameters, invocation);
  } else if (g_strcmp0(interfaceName, kAction) == 0) {
    callAction(method, parameters, invocation);
  } else if (g_strcmp0(method, "GetLocale") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", ""));
  } else {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownMethod", method);
  }
}

void AccessibleIndicator::Bus::callAccessible(Node node, const char* method, GVariant* parameters,
                                              GDBusMethodInvocation* invocation) {
  const IndicatorState now = snapshot();
  GVariant* result = nullptr;
  if (g_strcmp0(method, "GetChildAtIndex") == 0) {
    gint32 index = 0;
    g_variant_get(parameters, "(i)", &index);
    Node child = Node::Root;
    GVariant* reply = childAt(node, index, child)
                          ? reference(child)
                          : g_variant_new("(so)", uniqueName.c_str(), kNullPath);
    result = g_variant_new_tuple(&reply, 1);
  } else if (g_strcmp0(method, "GetChildren") == 0) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(so)"));
    Node child = Node::Root;
    for (int i = 0; childAt(node, i, child); ++i)
      g_variant_builder_add_value(&builder, reference(child));
    GVariant* list = g_variant_builder_end(&builder);
    result = g_variant_new_tuple(&list, 1);
  } else if (g_strcmp0(method, "GetIndexInParent") == 0) {
    result = g_variant_new("(i)", info(node).indexInParent);
  } else if (g_strcmp0(method, "GetRelationSet") == 0) {
    result = g_variant_new_parsed("(@a(ua(so)) [],)");
  } else if (g_strcmp0(method, "GetRole") == 0) {
    result = g_variant_new("(u)", info(node).role);
  } else if (g_strcmp0(method, "GetRoleName") == 0 ||
             g_strcmp0(method, "GetLocalizedRoleName") == 0) {
    result = g_variant_new("(s)", info(node).roleName);
  } else if (g_strcmp0(method, "GetState") == 0) {
    GVariant* bits = states(node, now);
    result = g_variant_new_tuple(&bits, 1);
  } else if (g_strcmp0(method, "GetAttributes") == 0) {
    result = g_variant_new_parsed("(@a{ss} {},)");
  } else if (g_strcmp0(method, "GetApplication") == 0) {
    GVariant* root = reference(Node::Root);
    result = g_variant_new_tuple(&root, 1);
  } else if (g_strcmp0(method, "GetInterfaces") == 0) {
    GVariant* names = interfaces(node);
    result = g_variant_new_tuple(&names, 1);
  }
  if (result == nullptr) {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownMethod", method);
    return;
  }
  g_dbus_method_invocation_return_value(invocation, result);
}

void AccessibleIndicator::Bus::callComponent(Node node, const char* method, GVariant* parameters,
                                             GDBusMethodInvocation* invocation) {
  const IndicatorState now = snapshot();
  Extents box = extentsOf(node, now);
  // Window coordinates are counted from the bar's corner.
  const auto relative = [&](guint32 coordType) {
    Extents shifted = box;
    if (coordType == kCoordWindow) {
      shifted.x -= now.window.x;
      shifted.y -= now.window.y;
    } else if (coordType != kCoordScreen) {
      const Extents parent = node == Node::Window ? Extents{} : now.window;
      shifted.x -= parent.x;
      shifted.y -= parent.y;
    }
    return shifted;
  };
  GVariant* result = nullptr;
  if (g_strcmp0(method, "GetExtents") == 0) {
    guint32 coordType = 0;
    g_variant_get(parameters, "(u)", &coordType);
    const Extents e = relative(coordType);
    result = g_variant_new("((iiii))", e.x, e.y, e.width, e.height);
  } else if (g_strcmp0(method, "GetPosition") == 0) {
    guint32 coordType = 0;
    g_variant_get(parameters, "(u)", &coordType);
    const Extents e = relative(coordType);
    result = g_variant_new("(ii)", e.x, e.y);
  } else if (g_strcmp0(method, "GetSize") == 0) {
    result = g_variant_new("(ii)", box.width, box.height);
  } else if (g_strcmp0(method, "Contains") == 0 || g_strcmp0(method, "GetAccessibleAtPoint") == 0) {
    gint32 x = 0;
    gint32 y = 0;
    guint32 coordType = 0;
    g_variant_get(parameters, "(iiu)", &x, &y, &coordType);
    const Extents e = relative(coordType);
    const bool inside = x >= e.x && x < e.x + e.width && y >= e.y && y < e.y + e.height;
    if (g_strcmp0(method, "Contains") == 0) {
      result = g_variant_new("(b)", inside);
    } else {
      // The deepest object under the point: a child of the window, else the window itself.
      Node found = Node::Root;
      bool any = false;
      for (Node child : {Node::Label, Node::Button}) {
        const Extents c = extentsOf(child, now);
        const Extents shifted =
            Extents{c.x - (box.x - e.x), c.y - (box.y - e.y), c.width, c.height};
        if (node == Node::Window && x >= shifted.x && x < shifted.x + shifted.width &&
            y >= shifted.y && y < shifted.y + shifted.height) {
          found = child;
          any = true;
        }
      }
      GVariant* reference =
          any ? this->reference(found) : g_variant_new("(so)", uniqueName.c_str(), kNullPath);
      result = g_variant_new_tuple(&reference, 1);
    }
  } else if (g_strcmp0(method, "GetLayer") == 0) {
    result = g_variant_new("(u)", node == Node::Window ? kLayerWindow : kLayerWidget);
  } else if (g_strcmp0(method, "GetMDIZOrder") == 0) {
    result = g_variant_new("(n)", static_cast<gint16>(0));
  } else if (g_strcmp0(method, "GrabFocus") == 0) {
    result = g_variant_new("(b)", FALSE);  // only the shortcut gives the bar the focus
  } else if (g_strcmp0(method, "GetAlpha") == 0) {
    result = g_variant_new("(d)", 1.0);
  }
  if (result == nullptr) {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownMethod", method);
    return;
  }
  g_dbus_method_invocation_return_value(invocation, result);
}

void AccessibleIndicator::Bus::callAction(const char* method, GVariant* parameters,
                                          GDBusMethodInvocation* invocation) {
  GVariant* result = nullptr;
  if (g_strcmp0(method, "GetActions") == 0) {
    result = g_variant_new_parsed("([('click', '', '')],)");
  } else if (g_strcmp0(method, "DoAction") == 0 || g_strcmp0(method, "GetName") == 0 ||
             g_strcmp0(method, "GetLocalizedName") == 0 ||
             g_strcmp0(method, "GetDescription") == 0 || g_strcmp0(method, "GetKeyBinding") == 0) {
    gint32 index = 0;
    g_variant_get(parameters, "(i)", &index);
    const bool known = index == 0;
    if (g_strcmp0(method, "DoAction") == 0) {
      // Answered first: the press may take the bar down, and the caller waits for the reply.
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", known));
      if (known) press();
      return;
    }
    const bool named =
        g_strcmp0(method, "GetName") == 0 || g_strcmp0(method, "GetLocalizedName") == 0;
    result = g_variant_new("(s)", known && named ? "click" : "");
  }
  if (result == nullptr) {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownMethod", method);
    return;
  }
  g_dbus_method_invocation_return_value(invocation, result);
}

}  // namespace Accessibility
