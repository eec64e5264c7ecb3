#include "DataFileHeader.h"

#include <algorithm>
#include <ctime>

#include "ByteOrder.h"

namespace engine {

namespace {

Status Corrupt(const std::string& what) { return Status(DBIERR_HEADERCORRUPT, what); }

std::string CString(const std::string& bytes, std::size_t pos, std::size_t max_len) {
  std::string out;
  for (std::size_t i = pos; i < bytes.size() && i < pos + max_len && bytes[i] != '\0'; ++i) {
    out.push_back(bytes[i]);
  }
  return out;
}

}  // namespace

int DataFileHeader::Level() const {
  if (version_id <= 3) return 30;
  if (version_id == 4) return 35;
  if (version_id <= 9) return 40;
  if (version_id <= 11) return 50;
  return 70;
}

Status DataFileHeader::DecodeFrom(const std::string& bytes, std::uint64_t file_size) {
  if (bytes.size() < kCommonLength) {
    return Corrupt("file is too short for a table header (" + std::to_string(bytes.size()) +
                   " bytes)");
  }
  const std::uint8_t* p = Bytes(bytes);
  record_size = GetU16(p);
  header_size = GetU16(p + 0x02);
  file_type = p[0x04];
  block_size_code = p[0x05];
  num_records = GetU32(p + 0x06);
  used_blocks = GetU16(p + 0x0A);
  file_blocks = GetU16(p + 0x0C);
  first_block = GetU16(p + 0x0E);
  last_block = GetU16(p + 0x10);
  const int num_fields = GetI16(p + 0x21);
  const int keys = GetI16(p + 0x23);
  key = GetU32(p + 0x25);
  sort_order = p[0x29];
  change_count1 = p[0x2D];
  change_count2 = p[0x2E];
  write_protected = p[0x38];
  version_id = p[0x39];
  aux_passwords = p[0x3D];
  auto_inc = GetU32(p + 0x49);
  first_free_block = GetU16(p + 0x4D);

  if (file_type != 0 && file_type != 2) {
    return Corrupt("not a Paradox data file (file type " + std::to_string(file_type) + ")");
  }
  if (version_id < 3 || version_id > 12) {
    return Corrupt("unknown file level (version byte " + std::to_string(version_id) + ")");
  }
  if (block_size_code < 1 || block_size_code > 32) {
    return Corrupt("block size code " + std::to_string(block_size_code) + " is out of range");
  }
  const std::size_t min_header = Extended() ? kExtendedLength : kCommonLength;
  if (header_size < min_header || header_size > file_size) {
    return Corrupt("header size " + std::to_string(header_size) + " does not fit the file (" +
                   std::to_string(file_size) + " bytes)");
  }
  if (bytes.size() < header_size) return Corrupt("header is truncated");
  if (num_fields < 1 || num_fields > 255) {
    return Corrupt("field count " + std::to_string(num_fields) + " is out of range");
  }
  if (keys < 0 || keys > num_fields) {
    return Corrupt("key field count " + std::to_string(keys) + " is out of range");
  }
  key_fields = static_cast<std::uint16_t>(keys);
  if (record_size == 0 || record_size + 6u > BlockSize()) {
    return Corrupt("record size " + std::to_string(record_size) + " does not fit a block");
  }
  code_page = 0;
  if (Extended()) {
    code_page = GetU16(p + 0x6A);
    if (key == kKeyMovedMarker) key = GetU32(p + 0x5C);
  }
  fields.assign(static_cast<std::size_t>(num_fields), FieldDesc{});
  raw = bytes.substr(0, header_size);
  return DecodeFields(raw);
}

Status DataFileHeader::DecodeFields(const std::string& bytes) {
  const std::size_t start = Extended() ? kExtendedLength : kCommonLength;
  const std::size_t n = fields.size();
  if (start + n * 2 + 4 + n * 4 + TableNameLength() > bytes.size()) {
    return Corrupt("field descriptors run past the header");
  }
  const std::uint8_t* p = Bytes(bytes) + start;
  int offset = 0;
  for (std::size_t i = 0; i < n; ++i) {
    FieldDesc& f = fields[i];
    const std::uint8_t code = p[2 * i], size = p[2 * i + 1];
    if (!IsKnownType(code)) {
      return Status(DBIERR_UNKNOWNFIELDTYPE, "field " + std::to_string(i + 1) +
                                                 " has an unknown type (code " +
                                                 std::to_string(code) + ")");
    }
    f.type = static_cast<FieldType>(code);
    f.size = f.type == FieldType::Bcd ? 17 : size;
    f.decimals = f.type == FieldType::Bcd ? size : 0;
    if (!IsValidFieldSize(f.type, f.size) || f.decimals > 32) {
      return Corrupt("field " + std::to_string(i + 1) + " has an invalid size (" +
                     std::to_string(size) + ")");
    }
    f.offset = offset;
    offset += f.size;
  }
  if (offset != record_size) {
    return Corrupt("record size " + std::to_string(record_size) + " does not match the fields (" +
                   std::to_string(offset) + " bytes)");
  }
  const std::size_t name_pos = start + n * 2 + 4 + n * 4;
  table_name = CString(bytes, name_pos, TableNameLength());
  return DecodeNames(bytes, name_pos + TableNameLength());
}

Status DataFileHeader::DecodeNames(const std::string& bytes, std::size_t pos) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t end = bytes.find('\0', pos);
    if (end == std::string::npos) {
      return Corrupt("field name " + std::to_string(i + 1) + " runs past the header");
    }
    fields[i].name = bytes.substr(pos, end - pos);
    pos = end + 1;
  }
  // Field numbers, then the sort order's name (level 4 and later only).
  pos += fields.size() * 2;
  sort_order_id = pos < bytes.size() ? CString(bytes, pos, 32) : std::string();
  return Status::OK();
}

void DataFileHeader::ComputeLayout() {
  int offset = 0;
  for (FieldDesc& f : fields) {
    if (FixedSize(f.type) != 0) f.size = FixedSize(f.type);
    f.offset = offset;
    offset += f.size;
  }
  record_size = static_cast<std::uint16_t>(offset);
}

std::uint8_t DataFileHeader::LowestVersionFor(const std::vector<FieldDesc>& fields) {
  std::uint8_t version = 3;
  for (const FieldDesc& f : fields) {
    switch (f.type) {
      case FieldType::Alpha:
      case FieldType::Date:
      case FieldType::Short:
      case FieldType::Currency:
      case FieldType::Number:
        break;
      case FieldType::Memo:
      case FieldType::Blob:
      case FieldType::FmtMemo:
      case FieldType::Ole:
      case FieldType::Graphic:
        version = std::max<std::uint8_t>(version, 9);
        break;
      default:
        version = std::max<std::uint8_t>(version, 11);
    }
  }
  return version;
}

std::size_t DataFileHeader::UsedHeaderBytes() const {
  std::size_t names = 0;
  for (const FieldDesc& f : fields) names += f.name.size() + 1;
  const std::size_t n = fields.size();
  const std::size_t common = FieldListStart() + n * 2 + 4 + n * 4 + TableNameLength() + names;
  return Extended() ? common + n * 2 + sort_order_id.size() + 1 : common;
}

std::uint16_t DataFileHeader::RequiredHeaderSize() const {
  const std::size_t used = UsedHeaderBytes();
  // Level 3.0 headers end where their names end; later ones fill 2 KiB units.
  if (version_id <= 3) return static_cast<std::uint16_t>(used);
  return static_cast<std::uint16_t>((used + 0x7FF) / 0x800 * 0x800);
}

void DataFileHeader::PatchCounts() {
  if (raw.size() < kCommonLength) return;
  std::uint8_t* p = Bytes(raw);
  PutU32(p + 0x06, num_records);
  PutU16(p + 0x0A, used_blocks);
  PutU16(p + 0x0C, file_blocks);
  PutU16(p + 0x0E, first_block);
  PutU16(p + 0x10, last_block);
  p[0x2D] = change_count1;
  PutU16(p + 0x3A, file_blocks);
  PutU32(p + 0x49, auto_inc);
}

std::string DataFileHeader::EncodeTo() const {
  std::string out(header_size, '\0');
  // Copy forward what the source table had in the fixed part, then set what
  // we know.
  const std::size_t fixed = FieldListStart();
  out.replace(0, std::min(raw.size(), fixed), raw.substr(0, fixed));
  std::uint8_t* p = Bytes(out);
  const std::size_t n = fields.size();
  PutU16(p, record_size);
  PutU16(p + 0x02, header_size);
  p[0x04] = file_type;
  p[0x05] = block_size_code;
  PutU32(p + 0x06, num_records);
  PutU16(p + 0x0A, used_blocks);
  PutU16(p + 0x0C, file_blocks);
  PutU16(p + 0x0E, first_block);
  PutU16(p + 0x10, last_block);
  p[0x14] = 0;  // no rebuild required
  PutU16(p + 0x21, static_cast<std::uint32_t>(n));
  PutU16(p + 0x23, key_fields);
  // Level 3.x keeps the password key here; later levels move it to 0x5C.
  PutU32(p + 0x25, Extended() ? kKeyMovedMarker : key);
  p[0x29] = sort_order;
  p[0x2A] = 0;
  p[0x2D] = change_count1;
  p[0x2E] = change_count2;
  p[0x38] = write_protected;
  p[0x39] = version_id;
  PutU16(p + 0x3A, file_blocks);
  p[0x3D] = aux_passwords;
  // Unprotected tables carry 1F 0F here; the engine leaves it 0 when protected.
  p[0x3E] = key ? 0 : 0x1F;
  p[0x3F] = key ? 0 : 0x0F;
  PutU32(p + 0x49, auto_inc);
  PutU16(p + 0x4D, first_free_block);
  p[0x4F] = 0;
  const std::size_t used = UsedHeaderBytes();
  if (Extended()) {
    EncodeExtended(p);
  } else if (version_id == 4) {
    // 3.5 tables count six bytes more than they hold (room for "ascii").
    PutU16(p + 0x51, static_cast<std::uint32_t>(used + 6));
  }
  std::size_t pos = fixed;
  for (const FieldDesc& f : fields) {
    p[pos++] = static_cast<std::uint8_t>(f.type);
    p[pos++] = static_cast<std::uint8_t>(HeaderSizeByte(f));
  }
  pos += 4 + n * 4;  // run-time pointers, zero on disk
  out.replace(pos, std::min(table_name.size(), TableNameLength() - 1), table_name, 0,
              std::min(table_name.size(), TableNameLength() - 1));
  pos += TableNameLength();
  for (const FieldDesc& f : fields) {
    out.replace(pos, f.name.size(), f.name);
    pos += f.name.size() + 1;
  }
  if (!Extended()) return out;
  for (std::size_t i = 0; i < n; ++i, pos += 2) PutU16(p + pos, static_cast<std::uint32_t>(i + 1));
  out.replace(pos, sort_order_id.size(), sort_order_id);
  return out;
}

// The part of level 4 and later headers between 0x51 and the field list.
void DataFileHeader::EncodeExtended(std::uint8_t* p) const {
  const std::size_t n = fields.size();
  const std::size_t used = UsedHeaderBytes();
  PutU16(p + 0x51, static_cast<std::uint32_t>(used));
  p[0x56] = 0x20;
  PutU16(p + 0x58, 0x0100u | version_id);
  PutU16(p + 0x5A, 0x0100u | version_id);
  PutU32(p + 0x5C, key);
  if (raw.size() < kExtendedLength)
    PutU32(p + 0x60, static_cast<std::uint32_t>(std::time(nullptr)));
  PutU16(p + 0x64, static_cast<std::uint32_t>(n + 1));
  std::size_t names = 0;
  for (const FieldDesc& f : fields) names += f.name.size() + 1;
  PutU16(p + 0x66, static_cast<std::uint32_t>(0x20 + n * 6 + 4 + TableNameLength() + names));
  PutU16(p + 0x6A, static_cast<std::uint32_t>(code_page));
  p[0x6C] = 1;
  p[0x6D] = 1;
  PutU16(p + 0x6E, static_cast<std::uint32_t>(used - 0x61));
}

}  // namespace engine
