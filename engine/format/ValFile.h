// The .VAL file of a Paradox table: validity checks, referential links on
// both sides, and a footer describing the table's fields. Pure format code:
// decoding validates every offset against the file size, encoding writes a
// file that is byte-equal to the source when nothing was changed (bytes whose
// meaning is unknown are carried forward from the decoded file).
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "DbiTypes.h"
#include "Status.h"

namespace engine {

// A field as the footer lists it.
struct ValField {
  std::uint16_t number = 0;  // the data file's own field number (not always 1..n)
  std::uint8_t type = 0;     // data-file type code (1 alpha, 4 long, 9 logical ...)
  std::uint8_t size = 0;     // bytes in a record
  std::string name;
};

// One validity check. Values are kept in the field's record encoding.
struct ValCheck {
  std::uint8_t field = 0;  // position from 0
  bool required = false;
  std::uint8_t lookupFlags = 0;  // bit 0: all corresponding fields, bit 1: help and fill
  bool hasLookup = false, hasMin = false, hasMax = false, hasDefault = false;
  std::string lookupTable;  // file name of the lookup table
  std::string minValue, maxValue, defaultValue;
  std::string picture;  // without the terminating zero
  // As stored: the six pointer words and the lookup block, so an unchanged
  // check encodes to the same bytes.
  std::array<std::uint32_t, 6> pointers{};
  std::string lookupBlock;
};

// A link in which this table is the dependent one: its fields point at the
// primary key of a master table.
struct ValMasterLink {
  std::string name;
  std::string fieldName;         // the dependent field, or the link name for several fields
  std::string masterTable;       // file name of the master table
  std::uint32_t updateRule = 1;  // 1 cascade, 0 prohibit
  std::vector<std::uint16_t> thisFields;    // from 1
  std::vector<std::uint16_t> masterFields;  // from 1
  std::string raw;                          // the stored entry; empty for a new one
};

// On a master table, one table that depends on it.
struct ValDependent {
  std::string name;
  std::string dependentTable;  // file name
  std::string fieldName;       // the dependent's field, or the link name for several
  std::vector<std::uint16_t> dependentFields;  // from 1
  std::string raw;
};

class ValFile {
 public:
  static constexpr std::size_t kHeaderSize = 0x35;
  static constexpr std::size_t kCheckSize = 0x1C;
  static constexpr std::size_t kLookupSize = 0x50;
  static constexpr std::size_t kMasterLinkSize = 0x1E0;
  static constexpr std::size_t kMasterHeadSize = 0xBA;
  static constexpr std::size_t kDependentSize = 0x12A;
  static constexpr std::size_t kTableNameSize = 0x4F;

  // A new, empty file for a table with these fields.
  static ValFile Create(std::uint8_t level, std::vector<ValField> fields,
                        std::uint16_t keyFieldCount);

  Status DecodeFrom(std::string_view bytes);
  std::string EncodeTo() const;

  // Level 0x09..0x0B is decoded in full; an older file (level 3.x) only in
  // its header and is written back byte for byte.
  bool Decoded() const { return !legacy_; }
  std::uint8_t Level() const { return level_; }
  std::uint8_t ChangeCount() const { return change_count_; }
  void SetChangeCount(std::uint8_t count) { change_count_ = count; }
  std::uint8_t LegacyCheckCount() const { return legacy_count_; }

  // A level 3.x file lists no fields but holds its checks as later levels
  // do; walked with the sizes of the table's fields, they must fill the
  // file exactly.
  Status DecodeLegacyChecks(const std::vector<std::uint8_t>& fieldSizes,
                            std::vector<ValCheck>* checks) const;

  std::vector<ValField>& Fields() { return fields_; }
  const std::vector<ValField>& Fields() const { return fields_; }
  std::uint16_t KeyFieldCount() const { return key_field_count_; }
  void SetKeyFieldCount(std::uint16_t n) { key_field_count_ = n; }
  std::string TableName() const;

  std::vector<ValCheck>& Checks() { return checks_; }
  const std::vector<ValCheck>& Checks() const { return checks_; }
  std::vector<ValMasterLink>& MasterLinks() { return master_links_; }
  const std::vector<ValMasterLink>& MasterLinks() const { return master_links_; }
  std::vector<ValDependent>& Dependents() { return dependents_; }
  const std::vector<ValDependent>& Dependents() const { return dependents_; }
  std::vector<std::uint16_t>& MasterKeyFields() { return master_key_fields_; }
  const std::vector<std::uint16_t>& MasterKeyFields() const { return master_key_fields_; }

  // True when nothing but the footer would be written: the table then needs
  // no .VAL file at all.
  bool empty() const;

  // The bytes a value of the field at this position (from 0) takes.
  std::size_t FieldSize(std::uint8_t position) const;

  // Removals, as a restructure request makes them (the descriptor forms of
  // checks and links, and adding them, are DbiStructure's).
  bool DropCheck(std::uint16_t fldNum);
  bool DropMasterLink(const std::string& name);
  bool DropDependent(const std::string& name, const std::string& dependentTable);

 private:
  Status DecodeCheck(std::string_view bytes, std::size_t& pos, ValCheck& check) const;
  Status DecodeLinks(std::string_view bytes, std::size_t pos, std::size_t end);
  Status DecodeFooter(std::string_view bytes, std::size_t pos);
  void EncodeCheck(const ValCheck& check, std::string& out) const;
  void EncodeLinks(std::string& out) const;
  void EncodeFooter(std::string& out) const;
  std::uint32_t PresentPointer() const;

  bool legacy_ = false;
  std::string legacy_bytes_;
  std::uint8_t legacy_count_ = 0;
  std::uint8_t change_count_ = 0;
  std::uint8_t level_ = 0x0B;
  std::string header_;  // kHeaderSize bytes as stored
  std::vector<ValCheck> checks_;
  std::vector<ValMasterLink> master_links_;
  bool has_master_section_ = false;
  std::string master_head_;  // kMasterHeadSize bytes as stored
  std::vector<std::uint16_t> master_key_fields_;
  std::vector<ValDependent> dependents_;
  std::uint16_t key_field_count_ = 0;
  std::vector<ValField> fields_;
  std::string table_name_block_;  // kTableNameSize bytes as stored
};

}  // namespace engine
