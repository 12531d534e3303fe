#pragma once
// Message numbers and flags that the windowing system itself defines, kept in one place so
// that every component names them the same way. Application messages (WM_USER + n) belong
// to the component that owns the receiving window.
#include <cstdint>

namespace qv::platform {

// Window messages.
inline constexpr std::uint32_t WM_NULL = 0x0000;
inline constexpr std::uint32_t WM_CREATE = 0x0001;
inline constexpr std::uint32_t WM_DESTROY = 0x0002;
inline constexpr std::uint32_t WM_SETTEXT = 0x000C;
inline constexpr std::uint32_t WM_CLOSE = 0x0010;
inline constexpr std::uint32_t WM_QUERYENDSESSION = 0x0011;
inline constexpr std::uint32_t WM_QUIT = 0x0012;
inline constexpr std::uint32_t WM_ENDSESSION = 0x0016;
inline constexpr std::uint32_t WM_MOUSEACTIVATE = 0x0021;
inline constexpr std::uint32_t WM_COPYDATA = 0x004A;
inline constexpr std::uint32_t WM_NCHITTEST = 0x0084;
inline constexpr std::uint32_t WM_NCMOUSEMOVE = 0x00A0;
inline constexpr std::uint32_t WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr std::uint32_t WM_NCLBUTTONUP = 0x00A2;
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_KEYUP = 0x0101;
inline constexpr std::uint32_t WM_COMMAND = 0x0111;
inline constexpr std::uint32_t WM_TIMER = 0x0113;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr std::uint32_t WM_RBUTTONUP = 0x0205;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr std::uint32_t WM_MBUTTONUP = 0x0208;
inline constexpr std::uint32_t WM_MOUSEWHEEL = 0x020A;
inline constexpr std::uint32_t WM_CAPTURECHANGED = 0x0215;
inline constexpr std::uint32_t WM_POWERBROADCAST = 0x0218;
inline constexpr std::uint32_t WM_NCMOUSEHOVER = 0x02A0;
inline constexpr std::uint32_t WM_NCMOUSELEAVE = 0x02A2;
inline constexpr std::uint32_t WM_USER = 0x0400;
inline constexpr std::uint32_t WM_APP = 0x8000;

// SendMessageTimeout flags.
inline constexpr std::uint32_t SMTO_NORMAL = 0x0000;
inline constexpr std::uint32_t SMTO_BLOCK = 0x0001;
inline constexpr std::uint32_t SMTO_ABORTIFHUNG = 0x0002;
inline constexpr std::uint32_t SMTO_NOTIMEOUTIFNOTHUNG = 0x0008;

// Hook codes and virtual keys that the input filters test.
inline constexpr int HC_ACTION = 0;
inline constexpr int VK_LBUTTON = 0x01;
inline constexpr int VK_RBUTTON = 0x02;
inline constexpr int VK_SHIFT = 0x10;
inline constexpr int VK_SPACE = 0x20;

// Win32 errors of the messaging calls that common/hresult.h does not list.
inline constexpr std::int32_t ERROR_MESSAGE_SYNC_ONLY = 1159;
inline constexpr std::int32_t ERROR_INVALID_WINDOW_HANDLE = 1400;

}  // namespace qv::platform
