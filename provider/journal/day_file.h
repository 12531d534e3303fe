#pragma once
// Reading a journal day file (layout in day_file_format.h): the records of a byte image,
// and the image of a file on disk.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "common/hresult.h"

namespace qv::journal {

// How the record sequence ended.
enum class DayFileTail {
  Clean,    // the last record ends exactly at the end of the file
  Torn,     // a strict prefix of a record (or zero fill) follows the last good record
  Damaged,  // bytes follow that are neither a record nor a prefix of one
};

struct DayFileRecord {
  std::size_t offset = 0;                 // where the record header starts
  std::span<const std::uint8_t> payload;  // the serialized property set
};

// S_OK for a file that starts with the day-file header; S_FALSE for one too short to hold
// it whose bytes begin the header (a new file, or one torn while being created): it has no
// records; STG_E_INVALIDHEADER for anything else.
HRESULT CheckDayFileHeader(std::span<const std::uint8_t> image);

// Walks the records of an image whose header CheckDayFileHeader accepted. It never fails:
// damage is skipped, a torn tail ends the walk, and the caller learns which from tail().
class DayFileReader {
 public:
  // `start` is a record boundary: the end of the header, or the end of a record that a
  // previous walk found.
  explicit DayFileReader(std::span<const std::uint8_t> image, std::size_t start);

  // The next good record; false at the end of the walk.
  bool Next(DayFileRecord& out);

  // After Next returned false: how the file ended, where the trailing bytes start (the end
  // of the image when Clean), and how many bytes of damage were skipped on the way.
  DayFileTail tail() const { return tail_; }
  std::size_t tailOffset() const { return tailOffset_; }
  std::size_t skippedBytes() const { return skipped_; }

 private:
  bool RecordAt(std::size_t pos, bool resyncing, DayFileRecord& out);
  bool LooksTorn(std::size_t pos) const;

  std::span<const std::uint8_t> image_;
  std::size_t pos_;
  std::size_t resyncWork_ = 0;
  std::size_t skipped_ = 0;
  DayFileTail tail_ = DayFileTail::Clean;
  std::size_t tailOffset_ = 0;
};

// The bytes of one record holding `payload`: length, CRC-32C, payload.
std::vector<std::uint8_t> EncodeDayFileRecord(std::span<const std::uint8_t> payload);
// The file header of a new day file.
std::vector<std::uint8_t> DayFileHeader();

// Reads a whole day file into memory, sharing it with writers (no lock).
// STG_E_FILENOTFOUND for a missing file, STG_E_PATHNOTFOUND when its folder is missing,
// STG_E_ACCESSDENIED, or the read error as an HRESULT.
HRESULT ReadDayFileImage(const std::filesystem::path& file, std::vector<std::uint8_t>& out);

}  // namespace qv::journal
