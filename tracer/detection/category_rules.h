#pragma once
// The rules a recorder applies before it ranks or journals an item: per category, switches
// to turn ranking or journaling off, and a list of path specifications that excludes items
// (or, in inclusive mode, includes only them). Rules only ever turn a switch off.
#include <cstdint>
#include <string_view>

#include "platform/registry/registry.h"

namespace qv::tracer {

enum class ItemCategory { Files, WebPages, Mail };

struct RecordSwitches {
  bool rank = true;
  bool journal = true;
  bool AnyOn() const { return rank || journal; }
};

// From a visit's record flags: 0x10 turns ranking off, 0x20 journaling.
RecordSwitches SwitchesFromFlags(std::uint32_t recordFlags);

// Applies the category's rules from the user's settings to `item` (the local path of a file,
// the URL of a page; unused for mail). An empty item turns both off for files and pages. A
// file of the system's own types (.q6w, .q6e, .q6j) is never ranked.
void ApplyCategoryRules(const platform::Registry& registry, ItemCategory category,
                        std::string_view item, RecordSwitches& switches);

}  // namespace qv::tracer
