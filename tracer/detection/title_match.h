#pragma once
// How well a window title names a file: the title is searched for the file's base name, and
// the match grows to the extension after it and the directory before it. A match counts only
// between delimiters, so "MyReport" does not name "Report".
#include <optional>
#include <string>
#include <string_view>

namespace qv::tracer {

struct TitlePattern {
  std::string directory;  // up to and including the last '/', or empty
  std::string baseName;   // the file name without its last extension
  std::string extension;  // after the last dot, without it; empty when there is none
  bool hasExtension = false;
};

// Splits a path; nullopt for a path longer than the platform allows. A leading dot of a file
// name (".profile") starts the name, not an extension.
std::optional<TitlePattern> PrepareTitlePattern(std::string_view path);

// 0: no match; 1: base name; 2: name and extension; 3: full path without extension;
// 4: full path with extension. Letters compare without ASCII case.
int ScoreTitle(std::string_view title, const TitlePattern& pattern);
// The same for a raw path; 0 for one that cannot be prepared.
int ScoreTitle(std::string_view title, std::string_view path);

bool IsTitleDelimiter(char c);

}  // namespace qv::tracer
