#pragma once
// The property-cache registrations of the system's catalogs: value name "<FMTID> <PROPID>"
// and data "<variant type>,<size>,<store level>,<flag>", written exactly so.
#include <array>
#include <string_view>
#include <utility>

namespace qv::cihelper {

using PropertyRow = std::pair<std::string_view, std::string_view>;

inline constexpr std::array<PropertyRow, 18> kDocumentCatalogProperties = {{
    {"48CA09C3-119B-8534-9A91-87848040E351 3", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 4", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 6", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 8", "7,8,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 9", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 10", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 11", "7,8,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 12", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 13", "19,4,0,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 5", "19,4,1,1"},
    {"48CA09C3-119B-8534-9A91-87848040E351 2", "72,16,1,1"},
    {"D5CDD505-2E9C-101B-9397-08002B2CF9AE _url", "31,80,1,1"},
    {"CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 2", "31,4,1,1"},
    {"CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 3", "31,4,1,1"},
    {"CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 4", "31,80,1,1"},
    {"CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 5", "31,80,1,1"},
    {"CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 6", "31,4,1,1"},
    {"CD21B521-CC97-4ef5-AFDE-F4D0DA575A5B 7", "19,4,1,1"},
}};

inline constexpr std::array<PropertyRow, 2> kJournalCatalogProperties = {{
    {"8E186B66-57AC-435C-B957-130C319BFA76 2", "19,4,0,1"},
    {"8E186B66-57AC-435C-B957-130C319BFA76 5", "31,4,1,1"},
}};

inline constexpr std::string_view kSystemCatalog = "System";
inline constexpr std::string_view kCatalogPrefix = "Quillon";
inline constexpr std::string_view kOwnerValue = "QuillonVesperOwner";
inline constexpr std::string_view kCatalogsFolder = "Quillon/Catalogs";
// Where the "System" catalog keeps its index: the system volume's information folder, which
// here is a folder of the installation root.
inline constexpr std::string_view kSystemVolumeFolder = "System Volume Information";

}  // namespace qv::cihelper
