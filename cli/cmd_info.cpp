// vdx info TABLE: the table's level, geometry, code page, protection, key
// and fields, then its indexes, validity checks and referential links. It
// writes nothing: an interrupted replacement of the table's files is
// reported (exit 1), not finished.
#include <ostream>

#include "Command.h"
#include "DbiStructure.h"
#include "Journal.h"
#include "ParadoxTable.h"
#include "Sha256.h"
#include "TableDump.h"
#include "TableFiles.h"

namespace {

std::string FieldName(const engine::ParadoxTable& table, int number) {
  const auto& fields = table.Fields();
  if (number < 1 || number > static_cast<int>(fields.size())) return "#" + std::to_string(number);
  return table.Text(fields[static_cast<std::size_t>(number - 1)].name);
}

std::string FieldList(const engine::ParadoxTable& table, const std::uint16_t* numbers, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += (i ? "," : "") + FieldName(table, numbers[i]);
  return list;
}

// A check's minimum, maximum or default, stored in the field's own encoding.
std::string CheckValue(const engine::ParadoxTable& table, int number, const std::uint8_t* raw) {
  const engine::FieldDesc& field = table.Fields()[static_cast<std::size_t>(number - 1)];
  if (engine::IsBlobType(field.type)) return "(blob)";
  std::string text;
  engine::Status s = engine::ValueJson(table, number - 1, engine::CheckValue(field, raw), &text);
  return s.ok() ? text : "(unreadable)";
}

void DescribeIndexes(const engine::ParadoxTable& table, const engine::TableStructure& st,
                     std::ostream& out) {
  out << "indexes:    " << st.indexes.size() << "\n";
  for (const IDXDesc& x : st.indexes) {
    out << "  " << (x.bPrimary ? "(primary)" : table.Text(x.szName)) << "\t"
        << FieldList(table, x.aiKeyFld, x.iFldsInKey);
    if (x.bUnique) out << " unique";
    if (x.bDescending) out << " descending";
    if (x.bCaseInsensitive) out << " case-insensitive";
    if (!x.bPrimary && !x.bMaintained) out << " not-maintained";
    out << "\n";
  }
}

void DescribeChecks(const engine::ParadoxTable& table, const engine::TableStructure& st,
                    std::ostream& out) {
  if (st.hasVal && !st.valDecoded) {
    // A level 3.x .VAL is kept as stored; its fingerprint (leaving out the
    // change count in byte 0) tells whether two tables hold the same checks.
    out << "checks:     " << st.legacyCheckCount
        << " (level 3.x .VAL kept as stored, fingerprint "
        << engine::Sha256Hex(st.valBytes.substr(1)).substr(0, 16) << ")\n";
    return;
  }
  out << "checks:     " << st.checks.size() << "\n";
  for (const VCHKDesc& c : st.checks) {
    if (c.iFldNum < 1 || c.iFldNum > table.Fields().size()) continue;
    out << "  " << FieldName(table, c.iFldNum);
    if (c.bRequired) out << " required";
    if (c.bHasMinVal) out << " min=" << CheckValue(table, c.iFldNum, c.aMinVal);
    if (c.bHasMaxVal) out << " max=" << CheckValue(table, c.iFldNum, c.aMaxVal);
    if (c.bHasDefVal) out << " default=" << CheckValue(table, c.iFldNum, c.aDefVal);
    if (c.szPict[0]) out << " picture=" << engine::JsonString(table.Text(c.szPict));
    if (c.elkupType != lkupNONE) out << " lookup=" << c.szLkupTblName;
    out << "\n";
  }
}

void DescribeLinks(const engine::ParadoxTable& table, const engine::TableStructure& st,
                   std::ostream& out) {
  out << "links:      " << st.links.size() << "\n";
  for (const RINTDesc& r : st.links) {
    out << "  " << (r.eType == rintMASTER ? "master of " : "dependent on ") << r.szTblName << "\t"
        << table.Text(r.szRintName) << "\t" << FieldList(table, r.aiThisTabFld, r.iFldCount)
        << (r.eModOp == rintCASCADE ? " cascade" : " restrict") << "\n";
  }
}

int Info(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: vdx info TABLE\n";
    return 2;
  }
  engine::OpenOptions options;
  options.useHeaderKey = true;  // describing needs no password
  options.lock = false;
  options.recover = false;  // a pending replacement is reported, not finished
  const std::string path = engine::ResolveTablePath(args[0]);
  std::unique_ptr<engine::ParadoxTable> table;
  engine::Status s = engine::CheckNothingPending(engine::Env::Default(), path);
  if (s.ok()) s = engine::ParadoxTable::Open(path, options, &table);
  if (!s.ok()) {
    err << "vdx info: " << s.ToString() << "\n";
    return 1;
  }
  engine::DescribeTable(*table, out);
  engine::TableStructure structure;
  s = engine::ReadTableStructure(engine::Env::Default(), *table, &structure);
  if (!s.ok()) {
    err << "vdx info: " << s.ToString() << "\n";
    return 1;
  }
  DescribeIndexes(*table, structure, out);
  DescribeChecks(*table, structure, out);
  DescribeLinks(*table, structure, out);
  for (const std::string& note : structure.notes) out << "note:       " << note << "\n";
  return 0;
}

}  // namespace

VDX_COMMAND("info", "info TABLE   level, block size, records, code page, fields, indexes, checks, links",
            Info);
