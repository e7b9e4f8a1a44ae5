#include "NativeChildWindows.h"

namespace NativeUI {

namespace {
constexpr XRenderColor kWhite = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
constexpr XRenderColor kLightGrey = {0xF2F2, 0xF2F2, 0xF2F2, 0xFFFF};
constexpr unsigned long kGreen = 0xFF1DB868;
constexpr unsigned long kRed = 0xFFFE3A68;
}  // namespace

ChildWinInfo ChildControlBarWins[kChildWindowCount] = {
    {WindowOrder::LeftDragHandle, ChildWindowType::Image, "", "", "ic_drag.png",
     CursorKind::HorizontalResize, 8, 12, true, ChildAlignment::Left, kWhite, kGreen},
    {WindowOrder::SharingText, ChildWindowType::Text, "You are sharing entire screen", "", "",
     CursorKind::Default, 0, 13, false, ChildAlignment::Left, kWhite, kGreen},
    {WindowOrder::StopIcon, ChildWindowType::Image, "", "", "ic_stop_2x.png", CursorKind::Default,
     10, 10, false, ChildAlignment::Left, kWhite, kRed},
    {WindowOrder::StopSharingText, ChildWindowType::Text, "Stop sharing", "", "", CursorKind::Hand,
     0, 0, true, ChildAlignment::Left, kLightGrey, kRed},
    {WindowOrder::RightDragHandle, ChildWindowType::Image, "", "", "ic_drag.png",
     CursorKind::HorizontalResize, 12, 12, true, ChildAlignment::Left, kLightGrey, kRed},
};

void setChildControlBarText(WindowOrder order, const std::string& text) {
  for (ChildWinInfo& row : ChildControlBarWins) {
    if (row.order == order) row.customText = text;
  }
}

}  // namespace NativeUI
