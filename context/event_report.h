#pragma once
// The system's events in the Application log, under the source "Quillon Vesper".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "context/context.h"

namespace qv {

inline constexpr std::string_view kEventSource = "Quillon Vesper";
inline constexpr std::uint16_t kCategoryTracer = 1;    // the tracer and the manager
inline constexpr std::uint16_t kCategoryProvider = 2;  // the provider and the service
inline constexpr std::uint32_t kEventProviderError = 0xC000001F;

// A provider method's failure: event 0xC000001F, category 2, with the method's name
// ("Pelion.<Class>::<Method>"), "0x%X" of the HRESULT and the system's message text.
void ReportProviderError(const Context& ctx, std::string_view method, HRESULT hr);

// An error or warning event about an item: the item, "%d(0x%X)" of the HRESULT's low
// 16 bits and the system's message text.
void ReportItemError(const Context& ctx, std::uint16_t category, std::uint32_t eventId,
                     std::string_view item, HRESULT hr);
void ReportItemWarning(const Context& ctx, std::uint16_t category, std::uint32_t eventId,
                       std::string_view item, HRESULT hr);

// Any event, for the few that carry other strings; more than 32 strings are cut to 32.
void ReportEvent(const Context& ctx, platform::EventType type, std::uint16_t category,
                 std::uint32_t eventId, std::vector<std::string> strings);

}  // namespace qv
