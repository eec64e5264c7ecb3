// The header of a Paradox data file (.DB): record and block geometry, record
// and block counts, the field descriptors and names, code page, key field
// count, encryption key and change counters, for every file level from 3.0 to
// 7. Decoding validates before it trusts; encoding starts from the header a
// table was derived from so that bytes we do not understand are kept.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "FieldTypes.h"
#include "Status.h"

namespace engine {

// Room for the table name that data and index headers carry: long file names
// came with level 12.
inline std::size_t TableNameLength(std::uint8_t version_id) { return version_id >= 12 ? 261 : 79; }

struct DataFileHeader {
  // Bytes every header holds, and the end of the extended part that data
  // files of level 4 and later carry.
  static constexpr std::size_t kCommonLength = 0x58;
  static constexpr std::size_t kExtendedLength = 0x78;
  static constexpr std::uint32_t kKeyMovedMarker = 0xFF00FF00;

  std::uint16_t record_size = 0;
  std::uint16_t header_size = 0;
  std::uint8_t file_type = 2;        // 0 keyed, 2 unkeyed
  std::uint8_t block_size_code = 2;  // block size in KiB (1..32)
  std::uint32_t num_records = 0;
  std::uint16_t used_blocks = 0;  // blocks in the chain
  std::uint16_t file_blocks = 0;  // blocks in the file, free ones included
  std::uint16_t first_block = 0;
  std::uint16_t last_block = 0;
  std::uint16_t key_fields = 0;
  std::uint32_t key = 0;  // password key, 0 when not protected
  std::uint8_t sort_order = 0;
  std::uint8_t version_id = 12;  // 3 = 3.0, 4 = 3.5, 5..9 = 4.x, 10..11 = 5.x, 12 = 7
  std::uint8_t write_protected = 0;
  std::uint8_t aux_passwords = 0;
  std::uint8_t change_count1 = 0;
  std::uint8_t change_count2 = 0;
  std::uint32_t auto_inc = 0;  // next value of a + field
  std::uint16_t first_free_block = 0;
  int code_page = 0;  // 0 when the header names none
  std::vector<FieldDesc> fields;
  std::string table_name;
  std::string sort_order_id;  // "ascii", "ANSII850" ...
  std::string raw;            // the header bytes as read (or as template)

  // Reads the header from the start of a file; file_size bounds every offset.
  Status DecodeFrom(const std::string& bytes, std::uint64_t file_size);
  // Encodes with the current values and the layout of version_id's level
  // (3.x headers have no extended part, field numbers or sort order name);
  // bytes not modelled come from raw.
  std::string EncodeTo() const;
  // Writes the record and block counts, the autoincrement value and the
  // change counter into raw, leaving every other byte as found; used when
  // records are added to an existing table of any level.
  void PatchCounts();

  bool Extended() const { return version_id >= 5; }
  bool Keyed() const { return file_type == 0; }
  int Level() const;  // 30, 35, 40, 50, 70
  std::size_t BlockSize() const { return std::size_t{block_size_code} * 1024; }
  int RecordsPerBlock() const { return record_size ? int((BlockSize() - 6) / record_size) : 0; }
  std::size_t TableNameLength() const { return engine::TableNameLength(version_id); }
  // The header size a table with these fields needs, rounded up to 2 KiB.
  std::uint16_t RequiredHeaderSize() const;
  // Lays out offsets and the record size from the field list.
  void ComputeLayout();
  // The lowest level byte whose tables can hold every one of these field
  // types: 3 (A D S $ N), 9 (4.x adds the blob types), 11 (5.x adds the rest).
  static std::uint8_t LowestVersionFor(const std::vector<FieldDesc>& fields);

 private:
  std::size_t UsedHeaderBytes() const;
  std::size_t FieldListStart() const { return Extended() ? kExtendedLength : kCommonLength; }
  void EncodeExtended(std::uint8_t* p) const;
  Status DecodeFields(const std::string& bytes);
  Status DecodeNames(const std::string& bytes, std::size_t pos);
};

}  // namespace engine
