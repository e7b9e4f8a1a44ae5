// One showing of the indicator on a Wayland compositor: a connection of its own, the frame as
// four strips and the bar, all layer surfaces on the overlay layer of the shown output, the
// keyboard that a click on the bar asks for, and the loop that runs them until the owner or the
// compositor ends the showing. Lives and dies on the showing's UI thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "BarPainter.h"
#include "IndicatorBackend.h"
#include "ShmBuffer.h"
#include "WaylandConnection.h"
#include "WaylandKeyboard.h"

namespace NativeUI {

class WaylandShowing {
 public:
  // Borrows all three; they must outlive the object.
  WaylandShowing(const ShowingPlan& plan, ShowingHost& host, PangoFontMap* fontMap);
  WaylandShowing(const WaylandShowing&) = delete;
  WaylandShowing& operator=(const WaylandShowing&) = delete;
  ~WaylandShowing();

  // The contract of IndicatorBackend::run.
  bool run();

 private:
  // One layer surface with its protocol objects, its buffer and its configure state. Members go
  // in the opposite order of their declaration: the role objects before the surface.
  struct Surface {
    void release();
    WaylandShowing* owner = nullptr;
    WlSurfacePtr surface;
    LayerSurfacePtr layer;
    ViewportPtr viewport;
    FractionalScalePtr fractional;  // the bar's only: the compositor's preferred scale
    std::unique_ptr<ShmBuffer> buffer;
    int width = 0;  // logical, as last configured
    int height = 0;
    bool configured = false;
    int askedWidth = -1;  // the top pieces': the width asked for; 0: clear
    int askedTop = -1;    // the side strips': the top margin asked for
  };
  enum class Ending { Running, Hide, Closed, Unplugged, Lost };
  static constexpr int kStrips = 5;  // top left and right of the bar, bottom, left, right

  bool build();
  bool createSurface(Surface& surface, uint32_t anchor, int width, int height, int exclusiveZone,
                     bool takesInput);
  void placeStrips();
  void placeTopPieces();
  void placeTopPiece(Surface& piece, int width);
  void placeSide(Surface& side, int top);
  void layOutBar();
  void placeBar();
  int clampBarX(int x) const;
  double renderScale() const;
  bool fractional() const;
  int physical(int logical) const;
  void drawStrip(Surface& strip);
  void drawBar();
  void attach(Surface& surface, std::unique_ptr<ShmBuffer> buffer);
  void redrawAll();
  void checkShown();

  Ending loop();
  void tearDown();

  // Events.
  static void onConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
                          uint32_t height);
  static void onClosed(void* data, zwlr_layer_surface_v1* layer);
  static void onPreferredScale(void* data, wp_fractional_scale_v1* fractional, uint32_t scale);
  static void onFrameDone(void* data, wl_callback* callback, uint32_t time);
  void onOutputChanged(WaylandOutput& output);
  void onOutputRemoved(WaylandOutput& output);
  void onSeatChanged();
  friend struct PointerEvents;
  void pointerAt(double x);
  void pointerButton(bool pressed);
  void setCursor(CursorKind kind);
  void moveBar(int x);
  void reportPlacement();
  // The keyboard: asked for on a click, given up on Escape or when the compositor takes it.
  void askForKeyboard(bool wanted);
  void keyboardFocus(wl_surface* surface, bool entered);
  void keyPressed(xkb_keysym_t keysym);

  const ShowingPlan& _plan;
  ShowingHost& _host;
  PangoFontMap* _fontMap;
  WaylandConnection _wl;             // before every proxy below: goes after them
  WaylandOutput* _output = nullptr;  // owned by _wl; null once removed
  std::string _outputName;
  MonitorInfo _monitor;  // logical
  double _override = 1;
  int _frameWidth = 0;  // logical
  int _barHeight = 0;   // logical
  int _barWidth = 0;    // logical
  int _barX = 0;        // logical, from the output's left edge
  bool _barDragged = false;
  uint32_t _scale120 = 0;  // the preferred fractional scale x 120; 0: none announced
  std::array<Surface, kStrips> _strips;
  Surface _bar;
  std::unique_ptr<BarPainter> _painter;
  WlCallbackPtr _frameCallback;
  bool _barPresented = false;
  bool _shown = false;
  bool _configuredLogged = false;
  Ending _ending = Ending::Running;

  // The pointer over the bar.
  WlPointerPtr _pointer;
  WlSurfacePtr _cursorSurface;
  WlCursorThemePtr _cursorTheme;
  int _cursorThemeScale = 0;
  CursorKind _cursorKind = CursorKind::Default;
  bool _cursorSet = false;
  uint32_t _enterSerial = 0;
  bool _pointerOnBar = false;
  double _pointerX = 0;  // logical, from the bar's left edge
  bool _dragging = false;
  WindowOrder _dragHandle = WindowOrder::LeftDragHandle;

  // The keyboard: the bar asks for it (keyboard interactivity on demand) only once clicked, so
  // that a showing never takes it by itself.
  std::unique_ptr<WaylandKeyboard> _keyboard;
  bool _keyboardAsked = false;
  bool _barFocused = false;
};

}  // namespace NativeUI
