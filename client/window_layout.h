#pragma once
// The main window's saved layout under the View key: its placement record (the 44-byte
// window placement layout), the status bar, the three splitters and the reading pane. A
// saved placement is clamped to the screens present, so a window saved on a larger or
// since removed screen comes back whole and reachable.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/registry/registry.h"

namespace qv::client {

inline constexpr std::string_view kPositionValue = "Position";
inline constexpr std::string_view kStatusBarValue = "StatusBar";
inline constexpr std::string_view kVertSplitValue = "VertSplitPos";
inline constexpr std::string_view kHorzSplitValue = "HorzSplitPos";
inline constexpr std::string_view kReadingPaneValue = "ReadingPane";
inline constexpr std::string_view kSearchSplitValue = "SearchSplitPos";
inline constexpr std::size_t kPlacementBytes = 44;
inline constexpr std::int32_t kShowNormal = 1;
inline constexpr std::int32_t kShowMaximized = 3;
inline constexpr std::uint32_t kMaxReadingPaneMode = 2;

struct Rect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
  std::int64_t width() const { return std::int64_t{right} - left; }
  std::int64_t height() const { return std::int64_t{bottom} - top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The placement record: length, flags, show command, minimized and maximized positions, and
// the normal (restored) rectangle; 32-bit little-endian fields.
struct WindowPlacement {
  std::uint32_t flags = 0;
  std::int32_t showCmd = kShowNormal;
  std::int32_t minX = -1, minY = -1, maxX = -1, maxY = -1;
  Rect normal;
  friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};
std::array<std::uint8_t, kPlacementBytes> EncodePlacement(const WindowPlacement& p);
// nullopt unless exactly 44 bytes whose normal rectangle has a positive size.
std::optional<WindowPlacement> DecodePlacement(std::span<const std::uint8_t> bytes);

// Moves and, where it is larger, shrinks `r` into the work area of the screen it overlaps
// most (the nearest screen when it overlaps none; the first when distances tie). Screens are
// work areas in one coordinate space; without any the rectangle is returned as it is.
Rect ClampToScreens(const Rect& r, std::span<const Rect> screens);

struct WindowLayout {
  std::optional<WindowPlacement> placement;  // clamped; nullopt: the default placement
  bool statusBar = true;
  std::optional<std::uint32_t> vertSplit, horzSplit;  // nullopt: the default position
  std::optional<std::uint32_t> readingPane;           // 0 to 2
  std::optional<std::uint32_t> searchSplit;
  friend bool operator==(const WindowLayout&, const WindowLayout&) = default;
};

// Reads the layout; values of the wrong type or out of range are left at their defaults.
WindowLayout LoadWindowLayout(const platform::Registry& reg, std::span<const Rect> screens);
// Writes the status bar and every value the layout holds (the main window, closing, holds all
// six); the first registry error, 0 on success.
std::int32_t SaveWindowLayout(platform::Registry& reg, const WindowLayout& layout);

}  // namespace qv::client
