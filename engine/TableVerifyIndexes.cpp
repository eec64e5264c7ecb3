#include "TableVerifyIndexes.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "DataBlock.h"
#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "FieldCodec.h"
#include "IndexKey.h"
#include "PrimaryIndex.h"
#include "SecondaryIndex.h"
#include "TableFiles.h"
#include "ValFile.h"

namespace engine {
namespace {

std::string YPathOf(const std::string& x_path) {
  std::string y = x_path;
  const auto dot = y.find_last_of('.');
  y[dot + 1] = y[dot + 1] == 'x' ? 'y' : 'Y';
  return y;
}

Status IndexDamage(const std::string& path, const std::string& what) {
  return Status(DBIERR_INDEXCORRUPT, what).WithContext(path);
}

// Records in strictly rising key order, and one level-1 entry per data block
// giving that block's first key, number and record count.
Status VerifyPrimary(Env* env, const ParadoxTable& table, const std::string& path) {
  std::string bytes;
  Status s = ReadWholeFile(env, path, &bytes);
  PrimaryIndex px;
  if (s.ok()) s = px.DecodeFrom(bytes);
  std::vector<IndexEntry> leaves;
  if (s.ok()) s = px.Leaves(&leaves);
  if (s.ok()) s = px.CheckPages();
  if (!s.ok()) return s.WithContext(path);
  const DataFileHeader& h = table.Header();
  const std::vector<KeyField>& held = px.Params().keyFields;
  bool same = held.size() == static_cast<std::size_t>(h.key_fields);
  for (std::size_t k = 0; same && k < held.size(); ++k)
    same = held[k].type == static_cast<std::uint8_t>(h.fields[k].type) &&
           held[k].size == KeyFieldSize(static_cast<std::uint8_t>(h.fields[k].type),
                                        static_cast<std::uint8_t>(h.fields[k].size));
  if (!same) return IndexDamage(path, "its key fields are not the table's");
  const auto& chain = table.Chain();
  if (leaves.size() != chain.size()) {
    return IndexDamage(path, "the primary index lists " + std::to_string(leaves.size()) +
                                 " blocks, the table has " + std::to_string(chain.size()));
  }
  const KeyOrder order = PrimaryKeyOrder(h);
  TableCursor cursor = table.NewCursor();
  std::string previous;
  std::size_t block = 0;
  bool first = true;
  while (cursor.Next()) {
    const std::string key = PrimaryKeyOf(h, cursor.Record());
    if (!first && order.Compare(previous, key) >= 0) {
      return IndexDamage(path, "record " + std::to_string(cursor.RecordNumber() + 1) +
                                   " is out of key order");
    }
    first = false;
    previous = key;
    while (block + 1 < chain.size() && chain[block + 1].first_record <= cursor.RecordNumber()) {
      ++block;
    }
    const IndexEntry& leaf = leaves[block];
    if (chain[block].first_record == cursor.RecordNumber() &&
        (leaf.key != key || leaf.block != chain[block].number ||
         leaf.count != chain[block].records)) {
      return IndexDamage(path, "the entry of data block " + std::to_string(chain[block].number) +
                                   " does not match the block");
    }
  }
  return cursor.status();
}

// A record's share of an order-free digest of many records.
std::uint64_t Digest(std::string_view record) {
  std::uint64_t z = std::hash<std::string_view>{}(record) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The index holds, in some order, exactly the records the table's records
// give: its fields' values, the key and the block each lives in. Compared
// by digest, so a table of any size needs no memory for it.
Status CheckIndexedValues(const ParadoxTable& table, const SecondaryIndex& x) {
  const SecondaryIndexDef& def = x.Def();
  // The indexed fields carry the table's field numbers; the key fields
  // are the table's first ones, in order.
  std::vector<int> offsets;
  for (const IndexedField& f : def.fields) {
    if (f.number < 1 || f.number > table.Fields().size())
      return Status(DBIERR_INDEXCORRUPT, "it names a field the table lacks");
    offsets.push_back(table.Fields()[f.number - 1u].offset);
  }
  for (std::size_t k = 0; k < def.keyFields.size(); ++k) {
    if (k >= table.Fields().size())
      return Status(DBIERR_INDEXCORRUPT, "it holds more key fields than the table has");
    offsets.push_back(table.Fields()[k].offset);
  }
  std::uint64_t held = 0, expected = 0;
  for (const std::string& rec : x.Records()) held += Digest(rec);
  const auto& chain = table.Chain();
  std::size_t block = 0;
  TableCursor cursor = table.NewCursor();
  while (cursor.Next()) {
    while (block + 1 < chain.size() && chain[block + 1].first_record <= cursor.RecordNumber())
      ++block;
    expected += Digest(SecondaryIndex::MakeRecord(
        def, offsets, reinterpret_cast<const char*>(cursor.Record()), chain[block].number));
  }
  if (!cursor.status().ok()) return cursor.status();
  if (held != expected)
    return Status(DBIERR_INDEXCORRUPT, "its records do not match the table's values");
  return Status::OK();
}

// A maintained secondary index holds one record per table record, in its
// own key order, each naming a block of the table.
Status VerifySecondary(Env* env, const ParadoxTable& table, const std::string& path) {
  std::string bytes;
  Status s = ReadWholeFile(env, path, &bytes);
  SecondaryIndex x;
  if (s.ok()) s = x.DecodeFrom(bytes);
  if (!s.ok()) return s.WithContext(path);
  if (!x.PageFault().empty()) return IndexDamage(path, x.PageFault());
  if (!x.Def().maintained) return Status::OK();
  if (x.Records().size() != table.RecordCount()) {
    return IndexDamage(path, "the index holds " + std::to_string(x.Records().size()) +
                                 " records, the table " + std::to_string(table.RecordCount()));
  }
  const KeyOrder order = x.Order();
  for (std::size_t i = 1; i < x.Records().size(); ++i) {
    if (order.Compare(x.Records()[i - 1], x.Records()[i]) > 0) {
      return IndexDamage(path, "index record " + std::to_string(i + 1) + " is out of order");
    }
  }
  std::vector<bool> inTable(0x10000, false);
  for (const BlockRef& b : table.Chain()) inTable[b.number] = true;
  for (const std::string& rec : x.Records()) {
    if (!inTable[x.BlockOf(rec)])
      return IndexDamage(path, "an index record names a block outside the table");
  }
  s = CheckIndexedValues(table, x);
  if (!s.ok()) return s.WithContext(path);
  // Its tree (.Ynn, .YGn), where there is one, names each of its blocks.
  const std::string y_path = YPathOf(path);
  if (!env->Exists(y_path)) return Status::OK();
  PrimaryIndex y;
  std::vector<IndexEntry> leaves;
  s = ReadWholeFile(env, y_path, &bytes);
  if (s.ok()) s = y.DecodeFrom(bytes);
  if (s.ok()) s = y.Leaves(&leaves);
  if (s.ok()) s = y.CheckPages();
  if (s.ok()) s = CheckLeaves(leaves, x.Blocks(), order);
  return s.ok() ? s : s.WithContext(y_path);
}

}  // namespace

bool ValueDecodes(const FieldDesc& f, const std::uint8_t* rec) {
  const FieldValue v = DecodeField(f, rec);
  if (v.null) return true;
  switch (f.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
      return true;
    case FieldType::Bcd:  // the engine leaves junk after the digits; the decimals must fit
      return (rec[f.offset] & 0x3F) <= 32;
    case FieldType::Date:  // the engine's dates run from 9999 BC (year -9998) to 9999 AD
      if (v.i < DayNumber(-9998, 1, 1) || v.i > DayNumber(9999, 12, 31)) return false;
      break;
    case FieldType::Time:
      if (v.i < 0 || v.i >= 86400000) return false;
      break;
    case FieldType::Timestamp:
      if (!(v.d >= static_cast<double>(DayNumber(-9998, 1, 1)) * 86400000.0 &&
            v.d < (static_cast<double>(DayNumber(9999, 12, 31)) + 1) * 86400000.0))
        return false;
      break;
    default:
      break;
  }
  std::string again(static_cast<std::size_t>(f.offset + f.size), '\0');
  if (!EncodeField(f, v, Bytes(again)).ok()) return false;
  return std::memcmp(again.data() + f.offset, rec + f.offset, static_cast<std::size_t>(f.size)) ==
         0;
}

std::string PrimaryKeyOf(const DataFileHeader& h, const void* record) {
  std::size_t len = 0;
  for (int k = 0; k < h.key_fields; ++k) len += static_cast<std::size_t>(h.fields[k].size);
  return std::string(static_cast<const char*>(record), std::min<std::size_t>(len, h.record_size));
}

KeyOrder PrimaryKeyOrder(const DataFileHeader& h) {
  std::vector<KeyField> keys;
  for (int k = 0; k < h.key_fields; ++k) {
    const FieldDesc& f = h.fields[static_cast<std::size_t>(k)];
    keys.push_back({static_cast<std::uint8_t>(f.type), static_cast<std::uint16_t>(f.size),
                    static_cast<std::uint8_t>(f.decimals)});
  }
  return KeyOrder(keys, h.sort_order);
}

Status VerifyIndexes(Env* env, const ParadoxTable& table) {
  if (table.Protected()) return Status::OK();
  for (const std::string& path : CompanionFiles(table.Path())) {
    const std::string ext = UpperExtension(path);
    Status s;
    if (ext == "PX" && table.Header().Keyed() && table.Header().key_fields > 0) {
      s = VerifyPrimary(env, table, path);
    } else if (ext.size() == 3 && ext[0] == 'X') {
      s = VerifySecondary(env, table, path);
    }
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status VerifyVal(Env* env, const ParadoxTable& table) {
  std::string path;
  for (const std::string& p : CompanionFiles(table.Path()))
    if (UpperExtension(p) == "VAL") path = p;
  if (path.empty()) return Status::OK();
  auto damage = [&](const std::string& what) {
    return Status(DBIERR_VALFILECORRUPT, what).WithContext(path);
  };
  std::string bytes;
  Status s = ReadWholeFile(env, path, &bytes);
  ValFile val;
  if (s.ok()) s = val.DecodeFrom(bytes);
  if (!s.ok()) return s.WithContext(path);
  const DataFileHeader& h = table.Header();
  const std::vector<FieldDesc>& fields = h.fields;
  if (val.ChangeCount() != h.change_count2)
    return damage("its change count is not the table's: it belongs to another version of it");
  std::vector<ValCheck> checks;
  if (val.Decoded()) {
    const std::vector<ValField>& listed = val.Fields();
    bool same = listed.size() == fields.size() && val.KeyFieldCount() == h.key_fields;
    for (std::size_t i = 0; same && i < listed.size(); ++i)
      same = listed[i].type == static_cast<std::uint8_t>(fields[i].type) &&
             listed[i].size == static_cast<std::uint8_t>(fields[i].size);
    if (!same) return damage("the fields it lists are not the table's");
    if (val.EncodeTo() != bytes) return damage("it holds bytes no check or link accounts for");
    checks = val.Checks();
  } else {
    std::vector<std::uint8_t> sizes;
    for (const FieldDesc& f : fields) sizes.push_back(static_cast<std::uint8_t>(f.size));
    s = val.DecodeLegacyChecks(sizes, &checks);
    if (!s.ok()) return s.WithContext(path);
  }
  std::string record(h.record_size, '\0');
  for (const ValCheck& c : checks) {
    if (c.field >= fields.size()) return damage("a check names a field the table lacks");
    const FieldDesc& f = fields[c.field];
    for (const std::string* value : {&c.minValue, &c.maxValue, &c.defaultValue}) {
      if (value->empty() || IsBlobType(f.type)) continue;
      value->copy(record.data() + f.offset, std::min<std::size_t>(value->size(), f.size));
      if (!ValueDecodes(f, reinterpret_cast<const std::uint8_t*>(record.data())))
        return damage("a value of the check on " + f.name + " does not decode");
    }
  }
  return Status::OK();
}

Status VerifyLinks(Env* env, const ParadoxTable& table) {
  TableStructure structure;
  Status s = ReadTableStructure(env, table, &structure);
  if (!s.ok()) return s;
  // The structure names the other table by its path beside this one.
  for (const RINTDesc& link : structure.links) {
    const std::string other = link.szTblName;
    if (other.empty()) continue;
    if (!env->Exists(ResolveTablePath(other))) {
      return Status(DBIERR_VALFILECORRUPT, "a referential link names a table that does not exist")
          .WithContext(table.Path())
          .WithContext(link.szTblName);
    }
  }
  return Status::OK();
}

}  // namespace engine
