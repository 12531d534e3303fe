#pragma once
// The filter protocol through which the indexer reads a document: Load stores the path,
// Init prepares the document, GetChunk walks its chunks in order, GetText hands out the
// text of a text chunk in pieces, GetValue the value of a value chunk. Text is UTF-8 here;
// a piece never splits a UTF-8 sequence.
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "common/guid.h"
#include "common/hresult.h"
#include "platform/com/class_registry.h"
#include "platform/propset/property_set.h"

namespace qv::platform {

inline constexpr HRESULT FILTER_S_LAST_TEXT = MakeHr(0x00041709);
inline constexpr HRESULT FILTER_S_LAST_VALUES = MakeHr(0x0004170A);
inline constexpr HRESULT FILTER_E_END_OF_CHUNKS = MakeHr(0x80041700);
inline constexpr HRESULT FILTER_E_NO_MORE_TEXT = MakeHr(0x80041701);
inline constexpr HRESULT FILTER_E_NO_MORE_VALUES = MakeHr(0x80041702);
inline constexpr HRESULT FILTER_E_ACCESS = MakeHr(0x80041703);
inline constexpr HRESULT FILTER_E_NO_TEXT = MakeHr(0x80041705);
inline constexpr HRESULT FILTER_E_NO_VALUES = MakeHr(0x80041706);
inline constexpr HRESULT FILTER_E_EMBEDDING_UNAVAILABLE = MakeHr(0x80041707);
inline constexpr HRESULT FILTER_E_UNKNOWNFORMAT = MakeHr(0x80041781);

// The filter interface {89BCB740-6119-101A-BCB7-00DD010655AF}, under which filter classes are
// listed in PersistentAddinsRegistered.
inline constexpr Guid kFilterInterfaceId =
    MakeGuid(0x89BCB740, 0x6119, 0x101A, 0xBC, 0xB7, 0x00, 0xDD, 0x01, 0x06, 0x55, 0xAF);
// PSGUID_STORAGE: PID 19 is the document's contents, PID 10 the file name.
inline constexpr Guid kStoragePropSet =
    MakeGuid(0xB725F130, 0x47EF, 0x101A, 0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC);
inline constexpr std::uint32_t kPidContents = 19;
// The summary information set: PID 2 is the title (DocTitle).
inline constexpr Guid kSummaryInfoPropSet =
    MakeGuid(0xF29F85E0, 0x4FF9, 0x1068, 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9);
inline constexpr std::uint32_t kPidTitle = 2;

// Init flags (IFILTER_INIT_*) and the flags Init hands back (IFILTER_FLAGS_*).
inline constexpr std::uint32_t IFILTER_INIT_CANON_PARAGRAPHS = 0x1;
inline constexpr std::uint32_t IFILTER_INIT_APPLY_INDEX_ATTRIBUTES = 0x10;
inline constexpr std::uint32_t IFILTER_INIT_APPLY_OTHER_ATTRIBUTES = 0x20;
inline constexpr std::uint32_t IFILTER_FLAGS_OLE_PROPERTIES = 0x1;

enum class ChunkState : std::uint32_t { Text = 1, Value = 2 };
enum class BreakType : std::uint32_t {
  NoBreak = 0,
  EndOfWord = 1,
  EndOfSentence = 2,
  EndOfParagraph = 3,
  EndOfChapter = 4,
};

// A property named by FMTID and either a PROPID or a string name.
struct FullPropSpec {
  Guid fmtid;
  std::variant<std::uint32_t, std::string> id{std::uint32_t{0}};
  friend bool operator==(const FullPropSpec&, const FullPropSpec&) = default;
};

struct StatChunk {
  std::uint32_t idChunk = 0;  // counted from 1 in the order handed out
  BreakType breakType = BreakType::NoBreak;
  ChunkState flags = ChunkState::Text;
  std::uint32_t locale = 0;
  FullPropSpec attribute;
  std::uint32_t idChunkSource = 0;
  std::uint32_t startSource = 0;
  std::uint32_t lenSource = 0;
};

// IFilter together with IPersistFile's Load and GetClassID.
class Filter : public ComObject {
 public:
  virtual HRESULT Load(const std::filesystem::path& file) = 0;
  virtual HRESULT Init(std::uint32_t initFlags, std::uint32_t& outFlags) = 0;
  // FILTER_E_END_OF_CHUNKS after the last chunk.
  virtual HRESULT GetChunk(StatChunk& chunk) = 0;
  // Appends at most maxBytes (at least 4) of the current text chunk to `out`; the piece that
  // ends the chunk comes with FILTER_S_LAST_TEXT, a further call gives FILTER_E_NO_MORE_TEXT.
  virtual HRESULT GetText(std::string& out, std::size_t maxBytes) = 0;
  // The value of the current value chunk; FILTER_E_NO_VALUES when there is none (left).
  virtual HRESULT GetValue(PropVariant& out) = 0;
  virtual Guid GetClassID() const = 0;
};

// What a filter offers besides its chunks when Init answers IFILTER_FLAGS_OLE_PROPERTIES: the
// property sets the document carries inside itself (a file that is a container of streams),
// which the indexer then reads as it reads a file's own property sets.
class FilterPropertySets {
 public:
  virtual ~FilterPropertySets() = default;
  virtual HRESULT ReadPropertySets(std::vector<PropertySet>& out) = 0;
};

}  // namespace qv::platform
