#include "WaylandShowing.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "BarDesign.h"
#include "DisplayScale.h"
#include "FocusRing.h"

namespace NativeUI {

namespace {

constexpr const char* kNamespace = "screen-share-indicator";
constexpr uint32_t kTop = ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP;
constexpr uint32_t kBottom = ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM;
constexpr uint32_t kLeft = ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
constexpr uint32_t kRight = ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
constexpr int kDefaultCursorSize = 24;

// One of the cursor-name lists of setCursor, whatever its length.
class Names {
 public:
  template <size_t N>
  explicit Names(const char* const (&names)[N]) : _first(names), _last(names + N) {}
  const char* const* begin() const { return _first; }
  const char* const* end() const { return _last; }

 private:
  const char* const* _first;
  const char* const* _last;
};

// The pixel value as the X11 frame's window holds it: compositors read an X11 ARGB visual's
// pixels as premultiplied, as they read ARGB8888 buffers, so the same value is the same colour
// over whatever lies beneath on both backends.
void fillArgb(ShmBuffer& buffer, uint32_t pixel) {
  auto* pixels = reinterpret_cast<uint32_t*>(buffer.data());
  std::fill(pixels, pixels + size_t{static_cast<unsigned>(buffer.width())} * buffer.height(),
            pixel);
}

}  // namespace

// The pointer's listener: only the bar takes input, so every event is about the bar.
struct PointerEvents {
  static WaylandShowing* showing(void* data) { return static_cast<WaylandShowing*>(data); }
  static void enter(void* data, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x,
                    wl_fixed_t) {
    WaylandShowing* self = showing(data);
    self->_pointerOnBar = surface == self->_bar.surface.get();
    self->_enterSerial = serial;
    self->_cursorSet = false;
    if (self->_pointerOnBar) self->pointerAt(wl_fixed_to_double(x));
  }
  static void leave(void* data, wl_pointer*, uint32_t, wl_surface*) {
    showing(data)->_pointerOnBar = false;
  }
  static void motion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t) {
    WaylandShowing* self = showing(data);
    if (self->_pointerOnBar || self->_dragging) self->pointerAt(wl_fixed_to_double(x));
  }
  static void button(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t state) {
    showing(data)->pointerButton(state == WL_POINTER_BUTTON_STATE_PRESSED);
  }
  static void axis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
  static void frame(void*, wl_pointer*) {}
  static void axisSource(void*, wl_pointer*, uint32_t) {}
  static void axisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
  static void axisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
};

namespace {
const wl_pointer_listener kPointerListener = {
    PointerEvents::enter,        PointerEvents::leave,
    PointerEvents::motion,       PointerEvents::button,
    PointerEvents::axis,         PointerEvents::frame,
    PointerEvents::axisSource,   PointerEvents::axisStop,
    PointerEvents::axisDiscrete, nullptr};  // axis_value120: version 8, not bound
}  // namespace

WaylandShowing::WaylandShowing(const ShowingPlan& plan, ShowingHost& host, PangoFontMap* fontMap)
    : _plan(plan), _host(host), _fontMap(fontMap) {}

WaylandShowing::~WaylandShowing() = default;

bool WaylandShowing::run() {
  if (!build()) return false;
  Ending ending = loop();
  // Compositors close the layer surfaces of an output that goes away before they withdraw its
  // global: one more round trip tells an unplugged output from a surface closed for itself.
  if (ending == Ending::Closed && wl_display_roundtrip(_wl.display()) >= 0 && !_output) {
    ending = Ending::Unplugged;
  }
  if (ending != Ending::Hide) _host.endingByItself();
  if (ending != Ending::Lost) {
    tearDown();
    // Gone means gone from the compositor, not only from our buffer.
    wl_display_roundtrip(_wl.display());
  }
  switch (ending) {
    case Ending::Lost:
      _host.log(LogType::Warn, "Wayland connection lost: %s",
                std::strerror(wl_display_get_error(_wl.display())));
      _host.hidden(HiddenReason::ConnectionLost);
      break;
    case Ending::Unplugged:
      _host.log(LogType::Warn, "Wayland output %s disconnected", _outputName.c_str());
      _host.hidden(HiddenReason::MonitorDisconnected);
      break;
    case Ending::Closed:
      _host.log(LogType::Warn, "The compositor closed a layer surface");
      _host.hidden(HiddenReason::Destroyed);
      break;
    default:
      _host.hidden(HiddenReason::Hide);
  }
  return true;
}

bool WaylandShowing::build() {
  std::string error;
  if (!_wl.open(error)) {
    _host.buildFailed(error.c_str());
    return false;
  }
  if (!_wl.layerShell()) {
    _host.buildFailed("the compositor offers no layer shell");
    return false;
  }
  if (!_wl.compositor() || !_wl.shm()) {
    _host.buildFailed("the compositor offers no wl_compositor or no wl_shm");
    return false;
  }
  _outputName = _plan.monitor.outputs.empty() ? std::string() : _plan.monitor.outputs.front();
  _output = _wl.findOutput(_outputName);
  if (!_output) {
    const std::string line = "Wayland output " + _outputName + " not found";
    _host.buildFailed(line.c_str());
    return false;
  }
  _monitor = _output->logical;
  _override = _plan.scaleOverride != 0 ? clampScale(_plan.scaleOverride) : 1;
  _frameWidth = scaledLength(kFrameWidth, _override);
  _barHeight = scaledLength(kBarHeight, _override);
  _host.log(LogType::Log, "Wayland output %s at %d,%d %dx%d scale %d", _outputName.c_str(),
            _monitor.x, _monitor.y, _monitor.width, _monitor.height, _output->scale);
  _wl.outputChanged = [this](WaylandOutput& output) { onOutputChanged(output); };
  _wl.outputRemoved = [this](WaylandOutput& output) { onOutputRemoved(output); };
  _wl.seatChanged = [this] { onSeatChanged(); };
  onSeatChanged();

  // The frame's top edge is two pieces, left and right of the bar, so that the two never
  // overlap: compositors disagree on how they stack surfaces of one layer (sway 1.7 draws the
  // older above the newer), and the bar's top rows must be the bar's own colours everywhere.
  const uint32_t anchors[kStrips] = {kTop | kLeft, kTop | kRight, kBottom | kLeft | kRight,
                                     kLeft | kTop | kBottom, kRight | kTop | kBottom};
  for (int i = 0; i < kStrips; ++i) {
    if (!createSurface(_strips[i], anchors[i], 0, 0, -1, false)) return false;
  }
  layOutBar();
  if (!createSurface(_bar, kTop | kLeft, 0, 0, 0, true)) return false;
  if (_wl.fractionalScale() && _wl.viewporter()) {
    static const wp_fractional_scale_v1_listener listener = {onPreferredScale};
    _bar.fractional.reset(wp_fractional_scale_manager_v1_get_fractional_scale(_wl.fractionalScale(),
                                                                              _bar.surface.get()));
    wp_fractional_scale_v1_add_listener(_bar.fractional.get(), &listener, this);
  }
  placeBar();
  placeStrips();
  wl_surface_commit(_bar.surface.get());
  return true;
}

// An unmapped layer surface on the overlay layer of the shown output, without keyboard focus;
// one that takes no input gets an empty input region, so every press goes to what lies under it.
bool WaylandShowing::createSurface(Surface& surface, uint32_t anchor, int width, int height,
                                   int exclusiveZone, bool takesInput) {
  static const zwlr_layer_surface_v1_listener listener = {onConfigure, onClosed};
  surface.owner = this;
  surface.surface.reset(wl_compositor_create_surface(_wl.compositor()));
  surface.layer.reset(zwlr_layer_shell_v1_get_layer_surface(
      _wl.layerShell(), surface.surface.get(), _output->output.get(),
      ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, kNamespace));
  if (!surface.surface || !surface.layer) {
    _host.buildFailed("Layer surface creation failed");
    return false;
  }
  zwlr_layer_surface_v1_add_listener(surface.layer.get(), &listener, &surface);
  zwlr_layer_surface_v1_set_anchor(surface.layer.get(), anchor);
  zwlr_layer_surface_v1_set_size(surface.layer.get(), static_cast<uint32_t>(width),
                                 static_cast<uint32_t>(height));
  zwlr_layer_surface_v1_set_exclusive_zone(surface.layer.get(), exclusiveZone);
  zwlr_layer_surface_v1_set_keyboard_interactivity(
      surface.layer.get(), ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  if (!takesInput) {
    const WlRegionPtr empty(wl_compositor_create_region(_wl.compositor()));
    wl_surface_set_input_region(surface.surface.get(), empty.get());
  }
  if (_wl.viewporter()) {
    surface.viewport.reset(wp_viewporter_get_viewport(_wl.viewporter(), surface.surface.get()));
  }
  return true;
}

// The side strips stop short of the top and bottom ones: corners covered twice would be darker.
void WaylandShowing::placeStrips() {
  const int f = _frameWidth;
  zwlr_layer_surface_v1_set_size(_strips[2].layer.get(), 0, static_cast<uint32_t>(f));
  wl_surface_commit(_strips[2].surface.get());
  for (int i = 3; i < kStrips; ++i) {
    zwlr_layer_surface_v1_set_size(_strips[i].layer.get(), static_cast<uint32_t>(f), 0);
    _strips[i].askedTop = -1;  // committed with the margin below
  }
  _strips[0].askedWidth = _strips[1].askedWidth = -1;  // the frame's width may have changed
  placeTopPieces();
}

// The frame keeps out of the bar's way: the top edge beside it, and a side edge that the bar
// reaches (dragged to the output's edge) starts below it.
void WaylandShowing::placeTopPieces() {
  const int f = _frameWidth;
  placeTopPiece(_strips[0], _barX);
  placeTopPiece(_strips[1], _monitor.width - _barX - _barWidth);
  placeSide(_strips[3], _barX < f ? std::max(f, _barHeight) : f);
  placeSide(_strips[4], _barX + _barWidth > _monitor.width - f ? std::max(f, _barHeight) : f);
}

void WaylandShowing::placeSide(Surface& side, int top) {
  if (top == side.askedTop) return;
  side.askedTop = top;
  zwlr_layer_surface_v1_set_margin(side.layer.get(), top, 0, _frameWidth, 0);
  wl_surface_commit(side.surface.get());
}

// A layer surface cannot be 0 wide unless anchored to both sides, and unmapping one races with
// the configures already on their way: a piece with no width stays 1 pixel wide and clear.
void WaylandShowing::placeTopPiece(Surface& piece, int width) {
  const int wanted = std::max(0, width);
  if (wanted == piece.askedWidth) return;
  const bool wasEmpty = piece.askedWidth == 0;
  piece.askedWidth = wanted;
  zwlr_layer_surface_v1_set_size(piece.layer.get(), static_cast<uint32_t>(std::max(1, wanted)),
                                 static_cast<uint32_t>(_frameWidth));
  // A 1-pixel piece keeps its size: its configure will not come to repaint it.
  if ((wanted == 0 || wasEmpty) && piece.width == 1) drawStrip(piece);
  wl_surface_commit(piece.surface.get());
}

// Laid out at the scale the compositor draws the output at, times the showing's own factor; the
// logical size is what that many physical pixels cover, rounded up, and the bar's last part
// takes the columns that the rounding adds.
void WaylandShowing::layOutBar() {
  const double scale = renderScale();
  const int maxWidth = static_cast<int>(std::floor(_monitor.width * scale));
  _painter = std::make_unique<BarPainter>(_fontMap, _plan.rows, scale * _override,
                                          physical(_barHeight), maxWidth);
  _barWidth = std::max(1, static_cast<int>(std::ceil(_painter->width() / scale - 1e-9)));
  _host.log(LogType::Log, "Wayland bar %dx%d at scale %.2f", _painter->width(), _painter->height(),
            scale * _override);
}

// Centred with truncating halves, as on X11, or where a drag left it, within the output.
void WaylandShowing::placeBar() {
  const int x = _barDragged ? _barX : _monitor.width / 2 - _barWidth / 2;
  _barX = clampBarX(x);
  zwlr_layer_surface_v1_set_size(_bar.layer.get(), static_cast<uint32_t>(_barWidth),
                                 static_cast<uint32_t>(_barHeight));
  zwlr_layer_surface_v1_set_margin(_bar.layer.get(), 0, 0, 0, _barX);
}

// A bar wider than the output keeps its left edge on the output's.
int WaylandShowing::clampBarX(int x) const {
  if (x + _barWidth > _monitor.width) x = _monitor.width - _barWidth;
  return std::max(0, x);
}

bool WaylandShowing::fractional() const { return _scale120 != 0 && _bar.viewport; }

double WaylandShowing::renderScale() const {
  if (fractional()) return _scale120 / 120.0;
  return _output ? _output->scale : 1;
}

int WaylandShowing::physical(int logical) const {
  return fractional() ? static_cast<int>(std::lround(logical * renderScale()))
                      : logical * static_cast<int>(renderScale());
}

void WaylandShowing::drawStrip(Surface& strip) {
  if (!strip.configured || strip.width <= 0 || strip.height <= 0) return;
  std::unique_ptr<ShmBuffer> buffer =
      ShmBuffer::create(_wl.shm(), physical(strip.width), physical(strip.height));
  if (!buffer) return;
  fillArgb(*buffer, strip.askedWidth == 0 ? 0 : static_cast<uint32_t>(kFrameColour));
  attach(strip, std::move(buffer));
}

void WaylandShowing::drawBar() {
  if (!_bar.configured || !_painter) return;
  std::unique_ptr<ShmBuffer> buffer =
      ShmBuffer::create(_wl.shm(), physical(_bar.width), physical(_bar.height));
  if (!buffer) return;
  _painter->paint(buffer->data(), buffer->width(), buffer->height(), buffer->stride(), _barFocused);
  if (!_barPresented && !_frameCallback) {
    static const wl_callback_listener listener = {onFrameDone};
    _frameCallback.reset(wl_surface_frame(_bar.surface.get()));
    wl_callback_add_listener(_frameCallback.get(), &listener, this);
  }
  attach(_bar, std::move(buffer));
}

// Buffers in physical pixels: at an integer scale the compositor is told the factor; at a
// fractional one the viewport maps the buffer onto the logical size.
void WaylandShowing::attach(Surface& surface, std::unique_ptr<ShmBuffer> buffer) {
  wl_surface* s = surface.surface.get();
  if (fractional()) {
    wl_surface_set_buffer_scale(s, 1);
    wp_viewport_set_destination(surface.viewport.get(), surface.width, surface.height);
  } else {
    if (surface.viewport) wp_viewport_set_destination(surface.viewport.get(), -1, -1);
    wl_surface_set_buffer_scale(s, static_cast<int32_t>(renderScale()));
  }
  wl_surface_attach(s, buffer->buffer(), 0, 0);
  wl_surface_damage(s, 0, 0, INT32_MAX, INT32_MAX);
  wl_surface_commit(s);
  surface.buffer = std::move(buffer);  // the previous one goes: the compositor has its own copy
}

void WaylandShowing::redrawAll() {
  for (Surface& strip : _strips) drawStrip(strip);
  layOutBar();
  placeBar();
  placeStrips();
  // A bar of the same size is drawn now; one of another size once the compositor agrees to it.
  if (_bar.width == _barWidth && _bar.height == _barHeight) {
    drawBar();
  } else {
    wl_surface_commit(_bar.surface.get());
  }
  reportPlacement();
}

void WaylandShowing::checkShown() {
  if (_shown || !_barPresented) return;
  for (const Surface& strip : _strips) {
    if (!strip.buffer) return;
  }
  _shown = true;
  _host.shown();
  reportPlacement();
}

// In the compositor's logical coordinates: the physical columns of the painter's parts at the
// scale the bar is drawn at.
void WaylandShowing::reportPlacement() {
  if (!_shown || !_painter) return;
  const double scale = renderScale();
  const auto box = [&](WindowOrder order) {
    const BarPainter::Span span = _painter->span(order);
    return BarPlacement::Box{
        _monitor.x + _barX + static_cast<int32_t>(std::floor(span.left / scale)), _monitor.y,
        static_cast<int32_t>(std::lround(span.width / scale)), _barHeight};
  };
  BarPlacement placement;
  placement.bar = {_monitor.x + _barX, _monitor.y, _barWidth, _barHeight};
  placement.notice = box(WindowOrder::SharingText);
  placement.stop = box(WindowOrder::StopSharingText);
  placement.focused = _barFocused;
  _host.barPlaced(placement);
}

void WaylandShowing::onConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                                 uint32_t width, uint32_t height) {
  auto& surface = *static_cast<Surface*>(data);
  WaylandShowing& self = *surface.owner;
  zwlr_layer_surface_v1_ack_configure(layer, serial);
  const bool resized = !surface.configured || static_cast<int>(width) != surface.width ||
                       static_cast<int>(height) != surface.height;
  surface.width = static_cast<int>(width);
  surface.height = static_cast<int>(height);
  surface.configured = true;
  if (!self._configuredLogged && self._bar.configured &&
      std::all_of(self._strips.begin(), self._strips.end(),
                  [](const Surface& strip) { return strip.configured; })) {
    self._configuredLogged = true;
    self._host.log(LogType::Log, "Layer surfaces configured");
  }
  if (&surface == &self._bar) {
    if (resized || !surface.buffer) self.drawBar();
  } else if (resized || !surface.buffer) {
    self.drawStrip(surface);
  }
}

void WaylandShowing::onClosed(void* data, zwlr_layer_surface_v1*) {
  WaylandShowing& self = *static_cast<Surface*>(data)->owner;
  if (self._ending == Ending::Running) self._ending = Ending::Closed;
}

void WaylandShowing::onPreferredScale(void* data, wp_fractional_scale_v1*, uint32_t scale) {
  auto* self = static_cast<WaylandShowing*>(data);
  if (scale == self->_scale120) return;
  self->_scale120 = scale;
  self->_host.log(LogType::Log, "Wayland fractional scale %.3f", scale / 120.0);
  self->redrawAll();
}

void WaylandShowing::onFrameDone(void* data, wl_callback*, uint32_t) {
  auto* self = static_cast<WaylandShowing*>(data);
  self->_frameCallback.reset();
  self->_barPresented = true;
  self->checkShown();
}

void WaylandShowing::onOutputChanged(WaylandOutput& output) {
  if (&output != _output) return;
  const bool moved = !(output.logical == _monitor);
  _monitor = output.logical;
  _host.log(LogType::Log, "Wayland output %s changed: %d,%d %dx%d scale %d", _outputName.c_str(),
            _monitor.x, _monitor.y, _monitor.width, _monitor.height, output.scale);
  redrawAll();
  if (moved) _host.monitorChanged(_monitor);
}

void WaylandShowing::onOutputRemoved(WaylandOutput& output) {
  if (&output != _output) return;
  _output = nullptr;
  _ending = Ending::Unplugged;
}

void WaylandShowing::onSeatChanged() {
  const bool hasPointer = _wl.seat() && (_wl.seatCapabilities() & WL_SEAT_CAPABILITY_POINTER);
  if (hasPointer && !_pointer) {
    _pointer.reset(wl_seat_get_pointer(_wl.seat()));
    wl_pointer_add_listener(_pointer.get(), &kPointerListener, this);
  } else if (!hasPointer && _pointer) {
    _pointer.reset();
    _pointerOnBar = false;
    _dragging = false;
  }
  const bool hasKeyboard = _wl.seat() && (_wl.seatCapabilities() & WL_SEAT_CAPABILITY_KEYBOARD);
  if (hasKeyboard && !_keyboard) {
    _keyboard = std::make_unique<WaylandKeyboard>(
        _wl.seat(), [this](wl_surface* surface, bool entered) { keyboardFocus(surface, entered); },
        [this](xkb_keysym_t keysym) { keyPressed(keysym); });
  } else if (!hasKeyboard && _keyboard) {
    _keyboard.reset();  // no leave comes for it: the ring goes here
    keyboardFocus(_bar.surface.get(), false);
  }
}

void WaylandShowing::pointerAt(double x) {
  _pointerX = x;
  if (_dragging) {
    // As on X11: the bar's left edge follows the pointer on the left grip, its right edge on
    // the right one.
    const int pointer = _barX + static_cast<int>(std::floor(x));
    const int left = _dragHandle == WindowOrder::RightDragHandle ? pointer - _barWidth : pointer;
    moveBar(left);
    return;
  }
  const ChildWinInfo* part = _painter ? _painter->partAt(static_cast<int>(x * renderScale()),
                                                         physical(std::max(_bar.width, 1)))
                                      : nullptr;
  setCursor(part ? part->cursor : CursorKind::Default);
}

void WaylandShowing::pointerButton(bool pressed) {
  if (!pressed) {
    _dragging = false;
    return;
  }
  if (!_pointerOnBar || !_painter) return;
  const ChildWinInfo* part = _painter->partAt(static_cast<int>(_pointerX * renderScale()),
                                              physical(std::max(_bar.width, 1)));
  if (!part) return;
  if (part->order == WindowOrder::StopSharingText) {
    _host.stopClicked(StopSource::Pointer);
    return;
  }
  askForKeyboard(true);
  if (part->order == WindowOrder::LeftDragHandle || part->order == WindowOrder::RightDragHandle) {
    _dragging = true;
    _dragHandle = part->order;
  }
}

// Within the output, as a drag moves it.
void WaylandShowing::moveBar(int x) {
  const int clamped = clampBarX(x);
  if (clamped == _barX) return;
  _barX = clamped;
  _barDragged = true;
  zwlr_layer_surface_v1_set_margin(_bar.layer.get(), 0, 0, 0, _barX);
  wl_surface_commit(_bar.surface.get());
  placeTopPieces();
  reportPlacement();
}

// On demand is layer-shell version 4; an older compositor's bar stays a pointer's only (its
// other choice, exclusive, would keep the keyboard from every other window).
void WaylandShowing::askForKeyboard(bool wanted) {
  if (wanted == _keyboardAsked || !_bar.layer ||
      zwlr_layer_surface_v1_get_version(_bar.layer.get()) <
          ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND_SINCE_VERSION) {
    return;
  }
  _keyboardAsked = wanted;
  zwlr_layer_surface_v1_set_keyboard_interactivity(
      _bar.layer.get(), wanted ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND
                               : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  wl_surface_commit(_bar.surface.get());
}

// Losing the keyboard (a click elsewhere) also gives up asking for it: the next one comes
// with the next click on the bar.
void WaylandShowing::keyboardFocus(wl_surface* surface, bool entered) {
  if (surface != _bar.surface.get() || entered == _barFocused) return;
  _barFocused = entered;
  if (!entered) askForKeyboard(false);
  drawBar();
  reportPlacement();
}

void WaylandShowing::keyPressed(xkb_keysym_t keysym) {
  if (!_barFocused) return;
  switch (keysym) {
    case XKB_KEY_Return:
    case XKB_KEY_KP_Enter:
    case XKB_KEY_space:
      _host.stopClicked(StopSource::Keyboard);
      break;
    case XKB_KEY_Left:
    case XKB_KEY_KP_Left:
      moveBar(_barX - keyboardStep(_override));
      break;
    case XKB_KEY_Right:
    case XKB_KEY_KP_Right:
      moveBar(_barX + keyboardStep(_override));
      break;
    case XKB_KEY_Escape:
      keyboardFocus(_bar.surface.get(), false);
      break;
    default:
      break;
  }
}

// The names the X11 bar asks its cursor theme for.
void WaylandShowing::setCursor(CursorKind kind) {
  if (!_pointer || (_cursorSet && kind == _cursorKind)) return;
  // The X11 bar's names first; then the names of the same shapes in newer themes.
  static const char* const kResizeNames[] = {kResizeCursorName, "ew-resize"};
  static const char* const kDefaultNames[] = {"left_ptr", "default"};
  const int scale = std::max(1, static_cast<int>(std::ceil(renderScale())));
  if (!_cursorTheme || _cursorThemeScale != scale) {
    const char* sizeText = std::getenv("XCURSOR_SIZE");
    const int size = sizeText && std::atoi(sizeText) > 0 ? std::atoi(sizeText) : kDefaultCursorSize;
    _cursorTheme.reset(wl_cursor_theme_load(std::getenv("XCURSOR_THEME"), size * scale, _wl.shm()));
    _cursorThemeScale = scale;
  }
  if (!_cursorSurface) _cursorSurface.reset(wl_compositor_create_surface(_wl.compositor()));
  const auto names = kind == CursorKind::Hand               ? Names(kHandCursorNames)
                     : kind == CursorKind::HorizontalResize ? Names(kResizeNames)
                                                            : Names(kDefaultNames);
  wl_cursor* cursor = nullptr;
  for (const char* name : names) {
    if (!_cursorTheme || cursor) break;
    cursor = wl_cursor_theme_get_cursor(_cursorTheme.get(), name);
  }
  _cursorKind = kind;
  _cursorSet = true;
  if (!cursor || cursor->image_count == 0) return;
  wl_cursor_image* image = cursor->images[0];
  wl_buffer* buffer = wl_cursor_image_get_buffer(image);
  wl_surface_set_buffer_scale(_cursorSurface.get(), scale);
  wl_surface_attach(_cursorSurface.get(), buffer, 0, 0);
  wl_surface_damage(_cursorSurface.get(), 0, 0, INT32_MAX, INT32_MAX);
  wl_surface_commit(_cursorSurface.get());
  wl_pointer_set_cursor(_pointer.get(), _enterSerial, _cursorSurface.get(),
                        static_cast<int32_t>(image->hotspot_x) / scale,
                        static_cast<int32_t>(image->hotspot_y) / scale);
}

// The role's objects before the surface they were made for.
void WaylandShowing::Surface::release() {
  fractional.reset();
  viewport.reset();
  layer.reset();
  surface.reset();
  buffer.reset();
  configured = false;
  askedWidth = -1;
  askedTop = -1;
}

// Until the owner asks (a byte on the exit descriptor and the host agrees) or the compositor
// ends the showing. The reading follows libwayland's rules for a loop of one's own: prepare,
// flush (waiting for room when the socket is full), poll, read or cancel, dispatch.
WaylandShowing::Ending WaylandShowing::loop() {
  wl_display* display = _wl.display();
  pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {_plan.exitFd, POLLIN, 0}};
  const nfds_t count = _plan.exitFd >= 0 ? 2 : 1;
  while (true) {
    if (wl_display_dispatch_pending(display) < 0) return Ending::Lost;
    if (_ending != Ending::Running) return _ending;
    if (wl_display_prepare_read(display) != 0) continue;
    fds[0].events = POLLIN;
    if (wl_display_flush(display) < 0) {
      if (errno != EAGAIN) {
        wl_display_cancel_read(display);
        return Ending::Lost;
      }
      fds[0].events |= POLLOUT;
    }
    if (poll(fds, count, -1) < 0) {
      wl_display_cancel_read(display);
      if (errno == EINTR) continue;
      return Ending::Lost;
    }
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
      if (wl_display_read_events(display) < 0) return Ending::Lost;
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) return Ending::Lost;
    // A hang-up with nothing left to read: the compositor is gone.
    if ((fds[0].revents & (POLLERR | POLLHUP)) && !(fds[0].revents & POLLIN)) return Ending::Lost;
    if (count > 1 && (fds[1].revents & POLLIN)) {
      char byte = 0;
      if (read(_plan.exitFd, &byte, 1) != 1) _host.log(LogType::Error, "Pipe read failure");
      if (_host.takeExitRequest()) return Ending::Hide;
    }
  }
}

// Every surface and what hangs on it; the connection itself goes with the object.
void WaylandShowing::tearDown() {
  _frameCallback.reset();
  _cursorSurface.reset();
  _pointer.reset();
  _keyboard.reset();
  _bar.release();
  for (Surface& strip : _strips) strip.release();
  wl_display_flush(_wl.display());
}

}  // namespace NativeUI
