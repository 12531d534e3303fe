#include "platform/propset/property_set.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <set>

#include "common/utf.h"
#include "platform/propset/code_page.h"
#include "platform/propset/property_set_format.h"

namespace qv::platform {

using namespace propset_format;

PropVariant PropVariant::I2(std::int16_t v) {
  PropVariant p;
  p.vt = VT_I2;
  p.i4 = v;
  return p;
}
PropVariant PropVariant::I4(std::int32_t v) {
  PropVariant p;
  p.vt = VT_I4;
  p.i4 = v;
  return p;
}
PropVariant PropVariant::UI4(std::uint32_t v) {
  PropVariant p;
  p.vt = VT_UI4;
  p.ui4 = v;
  return p;
}
PropVariant PropVariant::Date(double v) {
  PropVariant p;
  p.vt = VT_DATE;
  p.date = v;
  return p;
}
PropVariant PropVariant::Clsid(const Guid& g) {
  PropVariant p;
  p.vt = VT_CLSID;
  p.clsid = g;
  return p;
}
PropVariant PropVariant::Lpstr(std::string s) {
  PropVariant p;
  p.vt = VT_LPSTR;
  p.str = std::move(s);
  return p;
}
PropVariant PropVariant::Lpwstr(std::string s) {
  PropVariant p;
  p.vt = VT_LPWSTR;
  p.str = std::move(s);
  return p;
}
PropVariant PropVariant::FileTimeValue(FileTime v) {
  PropVariant p;
  p.vt = VT_FILETIME;
  p.filetime = v;
  return p;
}
PropVariant PropVariant::Blob(std::vector<std::uint8_t> v) {
  PropVariant p;
  p.vt = VT_BLOB;
  p.blob = std::move(v);
  return p;
}

namespace {

// ---- writing ---------------------------------------------------------------------------

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
  void U16(std::uint16_t v) {
    for (int i = 0; i < 2; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void Zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
  void GuidBytes(const Guid& g) { Bytes(GuidToBytes(g)); }
  // Pads with zeros to a multiple of 4 counted from `start`.
  void PadFrom(std::size_t start) { Zeros(PadTo4(out_.size() - start) - (out_.size() - start)); }
  void PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::size_t Size() const { return out_.size(); }

 private:
  std::vector<std::uint8_t>& out_;
};

void WriteTypeField(Writer& w, std::uint16_t vt) {
  w.U16(vt);
  w.U16(0);
}

// Writes a string as a counted, terminated, padded run of code units; `countInUnits` says
// whether the count is in characters (UnicodeString, dictionary names) or bytes
// (CodePageString).
void WriteCountedText(Writer& w, std::span<const std::uint8_t> text, std::size_t unit,
                      bool countInUnits) {
  const std::size_t bytes = text.size() + unit;
  w.U32(static_cast<std::uint32_t>(countInUnits ? bytes / unit : bytes));
  w.Bytes(text);
  w.Zeros(unit);
}

void WriteValue(Writer& w, const PropertySet& set, const PropVariant& v) {
  const std::size_t start = w.Size();
  WriteTypeField(w, v.vt);
  switch (v.vt) {
    case VT_I2:
      w.U16(static_cast<std::uint16_t>(v.i4));
      break;
    case VT_I4:
      w.U32(static_cast<std::uint32_t>(v.i4));
      break;
    case VT_UI4:
      w.U32(v.ui4);
      break;
    case VT_DATE:
      w.U64(std::bit_cast<std::uint64_t>(v.date));
      break;
    case VT_CLSID:
      w.GuidBytes(v.clsid);
      break;
    case VT_LPSTR:
      WriteCountedText(w, EncodeCodePageText(set.codePage, v.str),
                       CodePageUnitSize(set.codePage), /*countInUnits=*/false);
      break;
    case VT_LPWSTR:
      WriteCountedText(w, EncodeCodePageText(kCodePageUnicode, v.str), 2,
                       /*countInUnits=*/true);
      break;
    case VT_FILETIME:
      w.U64(v.filetime);
      break;
    case VT_BLOB:
      w.U32(static_cast<std::uint32_t>(v.blob.size()));
      w.Bytes(v.blob);
      break;
    default:
      w.Bytes(v.blob);
      break;
  }
  w.PadFrom(start);
}

void WriteDictionary(Writer& w, const PropertySet& set) {
  const std::size_t start = w.Size();
  const std::size_t unit = CodePageUnitSize(set.codePage);
  w.U32(static_cast<std::uint32_t>(set.names.size()));
  for (const auto& [propid, name] : set.names) {
    w.U32(propid);
    const std::size_t nameStart = w.Size() + 4;
    WriteCountedText(w, EncodeCodePageText(set.codePage, name), unit, /*countInUnits=*/true);
    // Unicode names are padded one by one; names in a byte code page are packed.
    if (set.codePage == kCodePageUnicode) w.PadFrom(nameStart);
  }
  w.PadFrom(start);
}

// ---- reading ---------------------------------------------------------------------------

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
  std::size_t size() const { return b_.size(); }
  // Callers check bounds first; these never read outside the span.
  std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(b_[at] | b_[at + 1] << 8); }
  std::uint32_t U32(std::size_t at) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | b_[at + i];
    return v;
  }
  std::uint64_t U64(std::size_t at) const {
    return U32(at) | static_cast<std::uint64_t>(U32(at + 4)) << 32;
  }
  Guid GuidAt(std::size_t at) const { return GuidFromBytes(b_.subspan(at).first<kGuidByteLength>()); }
  std::span<const std::uint8_t> Sub(std::size_t at, std::size_t n) const { return b_.subspan(at, n); }

 private:
  std::span<const std::uint8_t> b_;
};

struct TableEntry {
  std::uint32_t propid;
  std::uint32_t offset;  // from section start
  std::uint32_t bound;   // where the next value (or the section) begins
};

// Reads one typed value lying in [offset, bound) of `section`.
std::optional<PropVariant> ReadValue(const Reader& section, const TableEntry& e,
                                     std::uint16_t codePage) {
  const std::uint64_t bound = e.bound;
  const std::uint64_t data = std::uint64_t{e.offset} + kTypeFieldSize;
  const auto fits = [&](std::uint64_t from, std::uint64_t n) { return from + n <= bound; };
  PropVariant v;
  v.vt = section.U16(e.offset);
  switch (v.vt) {
    case VT_I2:
      if (!fits(data, 2)) return std::nullopt;
      v.i4 = static_cast<std::int16_t>(section.U16(data));
      break;
    case VT_I4:
      if (!fits(data, 4)) return std::nullopt;
      v.i4 = static_cast<std::int32_t>(section.U32(data));
      break;
    case VT_UI4:
      if (!fits(data, 4)) return std::nullopt;
      v.ui4 = section.U32(data);
      break;
    case VT_DATE:
      if (!fits(data, 8)) return std::nullopt;
      v.date = std::bit_cast<double>(section.U64(data));
      break;
    case VT_CLSID:
      if (!fits(data, kGuidByteLength)) return std::nullopt;
      v.clsid = section.GuidAt(data);
      break;
    case VT_FILETIME:
      if (!fits(data, 8)) return std::nullopt;
      v.filetime = section.U64(data);
      break;
    case VT_LPSTR: {
      if (!fits(data, 4)) return std::nullopt;
      const std::uint64_t bytes = section.U32(data);
      if (!fits(data + 4, bytes)) return std::nullopt;
      if (codePage == kCodePageUnicode && bytes % 2 != 0) return std::nullopt;
      v.str = DecodeCodePageText(codePage, section.Sub(data + 4, bytes));
      break;
    }
    case VT_LPWSTR: {
      if (!fits(data, 4)) return std::nullopt;
      const std::uint64_t bytes = std::uint64_t{section.U32(data)} * 2;
      if (!fits(data + 4, bytes)) return std::nullopt;
      v.str = DecodeCodePageText(kCodePageUnicode, section.Sub(data + 4, bytes));
      break;
    }
    case VT_BLOB: {
      if (!fits(data, 4)) return std::nullopt;
      const std::uint64_t bytes = section.U32(data);
      if (!fits(data + 4, bytes)) return std::nullopt;
      const auto b = section.Sub(data + 4, bytes);
      v.blob.assign(b.begin(), b.end());
      break;
    }
    default: {
      const auto b = section.Sub(data, bound - data);
      v.blob.assign(b.begin(), b.end());
      break;
    }
  }
  return v;
}

std::optional<std::map<std::uint32_t, std::string>> ReadDictionary(const Reader& section,
                                                                  const TableEntry& e,
                                                                  std::uint16_t codePage) {
  const std::uint64_t bound = e.bound;
  std::uint64_t at = e.offset;
  if (at + 4 > bound) return std::nullopt;
  const std::uint32_t count = section.U32(at);
  if (count > kMaxPropertiesPerSet) return std::nullopt;
  at += 4;
  const std::size_t unit = CodePageUnitSize(codePage);
  std::map<std::uint32_t, std::string> names;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at + 8 > bound) return std::nullopt;
    const std::uint32_t propid = section.U32(at);
    const std::uint64_t length = section.U32(at + 4);  // characters, terminator included
    at += 8;
    if (length == 0) return std::nullopt;
    const std::uint64_t bytes = length * unit;
    const std::uint64_t stored = codePage == kCodePageUnicode ? PadTo4(bytes) : bytes;
    if (at + stored > bound) return std::nullopt;
    if (!names.emplace(propid, DecodeCodePageText(codePage, section.Sub(at, bytes))).second) {
      return std::nullopt;  // one name per PROPID
    }
    at += stored;
  }
  return names;
}

}  // namespace

std::vector<std::uint8_t> SerializePropertySet(const PropertySet& set) {
  std::vector<std::uint8_t> out;
  Writer w(out);
  w.U16(kByteOrderMark);
  w.U16(kVersionOriginal);
  w.U32(kSystemIdentifier);
  w.GuidBytes(set.clsid);
  w.U32(1);
  w.GuidBytes(set.fmtid);
  const std::size_t sectionStart = kStreamHeaderSize + kSectionLocatorSize;
  w.U32(static_cast<std::uint32_t>(sectionStart));

  // Table order is value order: the code page, the dictionary, then the values by PROPID.
  // PROPIDs 0 and 1 among the values are not written; they belong to the two above.
  std::vector<std::uint32_t> propids{PID_CODEPAGE};
  if (!set.names.empty()) propids.push_back(PID_DICTIONARY);
  for (const auto& [propid, value] : set.values) {
    if (propid != PID_CODEPAGE && propid != PID_DICTIONARY) propids.push_back(propid);
  }

  w.U32(0);  // section size, patched below
  w.U32(static_cast<std::uint32_t>(propids.size()));
  const std::size_t table = w.Size();
  w.Zeros(propids.size() * kTableEntrySize);
  for (std::size_t i = 0; i < propids.size(); ++i) {
    const std::uint32_t propid = propids[i];
    w.PatchU32(table + i * kTableEntrySize, propid);
    w.PatchU32(table + i * kTableEntrySize + 4, static_cast<std::uint32_t>(w.Size() - sectionStart));
    if (propid == PID_CODEPAGE) {
      WriteValue(w, set, PropVariant::I2(static_cast<std::int16_t>(set.codePage)));
    } else if (propid == PID_DICTIONARY) {
      WriteDictionary(w, set);
    } else {
      WriteValue(w, set, set.values.at(propid));
    }
  }
  w.PatchU32(sectionStart, static_cast<std::uint32_t>(w.Size() - sectionStart));
  return out;
}

HRESULT ParsePropertySet(std::span<const std::uint8_t> bytes, PropertySet& out) {
  if (bytes.size() > kMaxPropertySetStream) return STG_E_DOCFILECORRUPT;
  const Reader stream(bytes);
  if (bytes.size() < kStreamHeaderSize) return STG_E_INVALIDHEADER;
  if (stream.U16(0) != kByteOrderMark) return STG_E_INVALIDHEADER;
  const std::uint16_t version = stream.U16(2);
  if (version != kVersionOriginal && version != kVersionExtended) return STG_E_INVALIDHEADER;
  const std::uint32_t sections = stream.U32(24);
  if (sections == 0 || sections > kMaxSections) return STG_E_INVALIDHEADER;
  const std::size_t headerEnd = kStreamHeaderSize + sections * kSectionLocatorSize;
  if (bytes.size() < headerEnd) return STG_E_INVALIDHEADER;

  PropertySet set;
  set.clsid = stream.GuidAt(8);
  set.fmtid = stream.GuidAt(kStreamHeaderSize);
  const std::uint64_t sectionStart = stream.U32(kStreamHeaderSize + kGuidByteLength);
  if (sectionStart < headerEnd || sectionStart % kAlignment != 0 ||
      sectionStart + kSectionHeaderSize > bytes.size()) {
    return STG_E_INVALIDHEADER;
  }

  const std::uint64_t sectionSize = stream.U32(sectionStart);
  const std::uint32_t count = stream.U32(sectionStart + 4);
  if (sectionSize < kSectionHeaderSize || sectionSize % kAlignment != 0 ||
      sectionStart + sectionSize > bytes.size() || count > kMaxPropertiesPerSet ||
      kSectionHeaderSize + std::uint64_t{count} * kTableEntrySize > sectionSize) {
    return STG_E_DOCFILECORRUPT;
  }
  const Reader section(bytes.subspan(sectionStart, sectionSize));
  const std::uint64_t tableEnd = kSectionHeaderSize + std::uint64_t{count} * kTableEntrySize;

  std::vector<TableEntry> entries;
  entries.reserve(count);
  std::set<std::uint32_t> seen;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kSectionHeaderSize + i * kTableEntrySize;
    const TableEntry e{section.U32(at), section.U32(at + 4), 0};
    if (!seen.insert(e.propid).second) return STG_E_DOCFILECORRUPT;
    if (e.offset < tableEnd || e.offset % kAlignment != 0 ||
        std::uint64_t{e.offset} + kTypeFieldSize > sectionSize) {
      return STG_E_DOCFILECORRUPT;
    }
    entries.push_back(e);
  }
  // Each value ends where the next one (by offset) begins; two values at one offset overlap.
  std::sort(entries.begin(), entries.end(),
            [](const TableEntry& a, const TableEntry& b) { return a.offset < b.offset; });
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && entries[i + 1].offset == entries[i].offset) {
      return STG_E_DOCFILECORRUPT;
    }
    entries[i].bound =
        i + 1 < entries.size() ? entries[i + 1].offset : static_cast<std::uint32_t>(sectionSize);
  }

  const auto find = [&](std::uint32_t propid) -> const TableEntry* {
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const TableEntry& e) { return e.propid == propid; });
    return it == entries.end() ? nullptr : &*it;
  };
  // The code page comes first: it decides how the dictionary and VT_LPSTR values read.
  const TableEntry* codePage = find(PID_CODEPAGE);
  if (codePage == nullptr) return STG_E_DOCFILECORRUPT;
  const auto cp = ReadValue(section, *codePage, set.codePage);
  if (!cp || cp->vt != VT_I2) return STG_E_DOCFILECORRUPT;
  set.codePage = static_cast<std::uint16_t>(cp->i4);

  for (const TableEntry& e : entries) {
    if (e.propid == PID_CODEPAGE) continue;
    if (e.propid == PID_DICTIONARY) {
      auto names = ReadDictionary(section, e, set.codePage);
      if (!names) return STG_E_DOCFILECORRUPT;
      set.names = std::move(*names);
      continue;
    }
    auto value = ReadValue(section, e, set.codePage);
    if (!value) return STG_E_DOCFILECORRUPT;
    set.values.emplace(e.propid, std::move(*value));
  }
  out = std::move(set);
  return S_OK;
}

}  // namespace qv::platform
