#pragma once
// Pattern lists as the user edits them: one text with a pattern per line, normalised into
// the stored list. File patterns get a leading "*\" (or "*" before an extension) unless they
// are rooted, and ".*" or "*" at the end when they have no extension and are not already
// open-ended (normalising twice changes nothing); web patterns get "*"
// around them unless they are already open-ended or hold a scheme or a query.
#include <string>
#include <string_view>
#include <vector>

namespace qv::settings {

enum class PatternKind { File, Web };

std::string NormaliseFilePattern(std::string_view pattern);
std::string NormaliseWebPattern(std::string_view pattern);

// Splits at line feeds, trims each line of blanks, tabs, CR and LF, drops empty lines and
// normalises the rest. An empty result means "no list" (the value is deleted).
std::vector<std::string> NormalisePatternText(std::string_view text, PatternKind kind);

// The list as the editor shows it: patterns joined by CR LF.
std::string PatternText(const std::vector<std::string>& patterns);

}  // namespace qv::settings
