#pragma once
// The browser add-on's fixed numbers and names, in one place.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv::browser {

// Frames are followed this many levels below the top document, no deeper.
inline constexpr std::size_t kMaxFrameDepth = 16;
// Captures waiting for the worker; a capture that finds the queue full is dropped.
inline constexpr std::size_t kCaptureQueueCapacity = 64;
// The filter's read buffer: the first read's requested size, clamped to this range.
inline constexpr std::size_t kMinReadBuffer = 8192;
inline constexpr std::size_t kMaxReadBuffer = 65536;

// Per-user switch that turns page capture off.
inline constexpr std::string_view kWebHistoryKey = "Software\\Quillon\\Vesper\\WebHistory";
inline constexpr std::string_view kDisableCacheChanging = "DisableCacheChanging";

// Cache file extensions of a page copy and of a version index.
inline constexpr std::string_view kCopyExtension = "htm";
inline constexpr std::string_view kIndexExtension = "kvv";

// Events (source "Quillon Vesper", the tracer's category).
inline constexpr std::uint32_t kEventContentWriteFailed = 0xC0000203;  // warning
inline constexpr std::uint32_t kEventTempDeleteFailed = 0xC0000204;    // warning
inline constexpr std::uint32_t kEventIndexWriteFailed = 0xC0000205;    // warning
inline constexpr std::uint32_t kEventCaptureUrlFailed = 0xC000020B;    // warning
inline constexpr std::uint32_t kEventCaptureDataFailed = 0xC000020D;   // warning

}  // namespace qv::browser
