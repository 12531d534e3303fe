// The journal's day-file reader on arbitrary bytes: it must never read outside the image,
// never loop, and keep its promises about records and the tail; every record's property set
// goes through the entry reader too.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/propset/property_set.h"
#include "provider/journal/day_file.h"
#include "provider/journal/day_file_format.h"
#include "provider/journal/journal_entry.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Walked {
  std::size_t records = 0;
  qv::journal::DayFileTail tail;
  std::size_t tailOffset = 0;
};

Walked Walk(const std::vector<std::uint8_t>& image) {
  using namespace qv::journal;
  Walked w;
  DayFileReader reader(image, dayfile::kFileHeaderSize);
  DayFileRecord r;
  std::size_t end = dayfile::kFileHeaderSize;
  while (reader.Next(r)) {
    Check(r.offset >= end);
    Check(r.payload.data() == image.data() + r.offset + dayfile::kRecordHeaderSize);
    Check(!r.payload.empty() && r.payload.size() <= dayfile::kMaxPayload);
    end = r.offset + dayfile::kRecordHeaderSize + r.payload.size();
    Check(end <= image.size());
    ++w.records;
    qv::platform::PropertySet set;
    if (qv::platform::ParsePropertySet(r.payload, set) == qv::S_OK) {
      (void)qv::journal::SearchContentsOf(set);
    }
  }
  w.tail = reader.tail();
  w.tailOffset = reader.tailOffset();
  Check(w.tailOffset <= image.size());
  Check(w.tail != DayFileTail::Clean || w.tailOffset == image.size());
  return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv::journal;
  if (size == 0) return 0;
  // The first byte chooses how the rest becomes an image: raw bytes behind a good header
  // (bit 0), or chunks (16-bit length, bytes) framed as records with good CRCs (bit 1), so
  // that the property-set payloads are reached too; bit 2 then cuts the last bytes off.
  std::vector<std::uint8_t> image;
  const std::uint8_t mode = data[0];
  if (mode & 2) {
    image = DayFileHeader();
    std::size_t p = 1;
    while (p + 2 <= size) {
      const std::size_t len = std::min<std::size_t>(data[p] | data[p + 1] << 8, size - p - 2);
      p += 2;
      if (len > 0) {
        const auto record = EncodeDayFileRecord({data + p, len});
        image.insert(image.end(), record.begin(), record.end());
      }
      p += len;
    }
    if (mode & 4) image.resize(image.size() - std::min<std::size_t>(image.size(), mode >> 3));
  } else {
    if (mode & 1) image = DayFileHeader();
    image.insert(image.end(), data + 1, data + size);
  }

  if (CheckDayFileHeader(image) != qv::S_OK) return 0;
  const Walked first = Walk(image);

  // What a writer does next: cut a torn tail, append a record. The old records stay and the
  // new one is found behind them.
  if (first.tail == DayFileTail::Torn) image.resize(first.tailOffset);
  const std::vector<std::uint8_t> payload = {0xFE, 0xFF, 0x00, 0x00, 1, 2, 3, 4};
  const std::vector<std::uint8_t> record = EncodeDayFileRecord(payload);
  image.insert(image.end(), record.begin(), record.end());
  const Walked second = Walk(image);
  if (first.tail != DayFileTail::Damaged) {
    Check(second.records == first.records + 1);
    Check(second.tail == DayFileTail::Clean);
  }
  return 0;
}
