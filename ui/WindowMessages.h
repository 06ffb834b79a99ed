#pragma once

#include <cstdint>

namespace tv2 {

// The program's custom window messages (user range, above 0x400). The frame
// relays those marked "relayed" unchanged to every pane, left column first,
// by synchronous calls, and answers 0. 0x424 is not used.
inline constexpr uint32_t UM_SHOW_COUNTER = 0x423;      // relayed; right view
inline constexpr uint32_t UM_ASSIGN_GRAPH = 0x425;      // relayed; left view
inline constexpr uint32_t UM_SELECT_PROCESSOR = 0x426;  // sent to every pane by the frame
inline constexpr uint32_t UM_SELECT_CONFIG = 0x427;     // relayed; left view
inline constexpr uint32_t UM_APPLY_PROFILE = 0x428;     // relayed; left view
inline constexpr uint32_t UM_CLEAR_GRAPHS = 0x429;      // relayed; both views
inline constexpr uint32_t UM_SAVE_PROFILE = 0x42A;      // relayed; left view
inline constexpr uint32_t UM_LOAD_PROFILE = 0x42B;      // relayed; left view

// The display tick the frame sends to every pane (timer message, identifier 0).
inline constexpr uint32_t kMsgTimer = 0x113;
inline constexpr uintptr_t kDisplayTimerId = 0;

// wParam of UM_SAVE_PROFILE: a std::string* the profile line is appended to
// (UTF-8, ending in '\n'), or 0 for a snapshot only. lParam: CProfile*.
// wParam of UM_LOAD_PROFILE: a TextFileReader* positioned at the start of the
// file. lParam: CProfile*.
// wParam of UM_APPLY_PROFILE: const CProfile* (0: nothing happens).

// Menu commands of the main frame.
inline constexpr int32_t kCmdLoadProfile = 32785;
inline constexpr int32_t kCmdSaveProfile = 32784;
inline constexpr int32_t kCmdSaveReport = 32789;
inline constexpr int32_t kCmdExit = 57665;
inline constexpr int32_t kCmdPlaceholder = 32773;
inline constexpr int32_t kCmdPause = 32778;
inline constexpr int32_t kCmdClear = 32788;
inline constexpr int32_t kCmdSwapViews = 32774;
inline constexpr int32_t kCmdKeepRatio = 32787;
inline constexpr int32_t kCmdStatusBar = 59393;
inline constexpr int32_t kCmdCheckUpdates = 32790;
inline constexpr int32_t kCmdAbout = 57664;

// Run-time command ranges built by the left view.
inline constexpr int32_t kCmdCounterBase = 0x1000;    // 4096 + counter index (0-511)
inline constexpr int32_t kCmdCounterLast = 0x11FF;    // 4607
inline constexpr int32_t kCmdProcessorBase = 0x1200;  // 4608 + package index (0-255)
inline constexpr int32_t kCmdProcessorLast = 0x12FF;  // 4863
inline constexpr int32_t kCmdConfigBase = 0x1300;     // 4864 + configuration index (0-16)
inline constexpr int32_t kCmdConfigLast = 0x1310;     // 4880

}  // namespace tv2
