#include "context/event_report.h"

namespace qv {

void ReportEvent(const Context& ctx, platform::EventType type, std::uint16_t category,
                 std::uint32_t eventId, std::vector<std::string> strings) {
  if (strings.size() > platform::kMaxInsertionStrings) {
    strings.resize(platform::kMaxInsertionStrings);
  }
  ctx.eventLog.Report(kEventSource, type, category, eventId, strings);
}

void ReportProviderError(const Context& ctx, std::string_view method, HRESULT hr) {
  ReportEvent(ctx, platform::EventType::Error, kCategoryProvider, kEventProviderError,
              {std::string(method), FormatHresult(hr), SystemMessage(hr)});
}

void ReportItemError(const Context& ctx, std::uint16_t category, std::uint32_t eventId,
                     std::string_view item, HRESULT hr) {
  ReportEvent(ctx, platform::EventType::Error, category, eventId,
              {std::string(item), FormatLowWord(hr), SystemMessage(hr)});
}

void ReportItemWarning(const Context& ctx, std::uint16_t category, std::uint32_t eventId,
                       std::string_view item, HRESULT hr) {
  ReportEvent(ctx, platform::EventType::Warning, category, eventId,
              {std::string(item), FormatLowWord(hr), SystemMessage(hr)});
}

}  // namespace qv
