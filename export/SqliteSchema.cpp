#include "SqliteSchema.h"

#include "FieldText.h"
#include "TableFiles.h"

namespace tableexport {

namespace {

using engine::FieldKind;
using engine::FieldValue;

std::string Quoted(const std::string& s, char quote) {
  std::string out(1, quote);
  for (char c : s) {
    if (c == quote) out += quote;
    out += c;
  }
  return out + quote;
}

// A check value as an SQL literal; empty when SQLite has no fitting one.
std::string Literal(const engine::ParadoxTable& table, const engine::FieldDesc& f,
                    const FieldValue& v) {
  if (v.null) return {};
  switch (engine::KindOf(f.type)) {
    case FieldKind::Integer:
      return std::to_string(v.i);
    case FieldKind::Logical:
      return v.i ? "1" : "0";
    case FieldKind::Float: {
      const std::string n = engine::ShortestNumber(v.d);
      return n == "null" ? std::string() : n;
    }
    case FieldKind::Decimal:
      return v.s;
    case FieldKind::Text:
      return SqlText(table.Text(v.s));
    case FieldKind::Date:
      return SqlText(engine::FormatDate(v.i));
    case FieldKind::Time:
      return SqlText(engine::FormatTime(v.i));
    case FieldKind::Stamp:
      return SqlText(engine::FormatTimestamp(v.d));
    default:
      return {};
  }
}

// Whether SQLite compares values of the kind as Paradox does: numbers, and
// dates and times as ISO text. Text is compared in the table's sort order.
bool Comparable(engine::FieldType type) {
  const FieldKind k = engine::KindOf(type);
  return k == FieldKind::Integer || k == FieldKind::Float || k == FieldKind::Decimal ||
         k == FieldKind::Logical || k == FieldKind::Date || k == FieldKind::Time ||
         k == FieldKind::Stamp;
}

const char* LookupDetail(LKUPType type) {
  switch (type) {
    case lkupALLCORRESP:
      return "all corresponding fields";
    case lkupHELP:
      return "just the current field, help";
    case lkupALLCORRESPHELP:
      return "all corresponding fields, help";
    default:
      return "just the current field";
  }
}

struct Builder {
  const engine::ParadoxTable& table;
  const engine::TableStructure& st;
  TableSchema* out;
  std::vector<std::string> names;    // column names, SQL-quoted
  std::vector<std::string> clauses;  // per column: DEFAULT ...
  std::vector<std::string> constraints;

  void Check(const VCHKDesc& c) {
    const std::size_t i = c.iFldNum - 1u;
    const engine::FieldDesc& f = table.Fields()[i];
    const std::string field = table.Text(f.name);
    // Blanks pass every CHECK; "required" is a CHECK of its own rather than
    // NOT NULL, so that records stored blank despite it are kept.
    if (c.bRequired) constraints.push_back("CHECK (" + names[i] + " IS NOT NULL)");
    const bool decimal = engine::KindOf(f.type) == FieldKind::Decimal;
    const std::string operand = decimal ? "CAST(" + names[i] + " AS REAL)" : names[i];
    auto bound = [&](bool has, const std::uint8_t* stored, const char* op, const char* kind) {
      if (!has) return;
      const FieldValue v = engine::CheckValue(f, stored);
      const std::string lit = Literal(table, f, v);
      if (Comparable(f.type) && !lit.empty()) {
        constraints.push_back("CHECK (" + operand + " " + op + " " + lit + ")");
      } else {
        out->loose.push_back({field, kind, v.null ? "" : engine::ValueText(f.type, v), ""});
        if (engine::KindOf(f.type) == FieldKind::Text) out->loose.back().value = table.Text(v.s);
      }
    };
    bound(c.bHasMinVal, c.aMinVal, ">=", "minimum");
    bound(c.bHasMaxVal, c.aMaxVal, "<=", "maximum");
    if (c.bHasDefVal) {
      const std::string lit = Literal(table, f, engine::CheckValue(f, c.aDefVal));
      if (!lit.empty()) clauses[i] += " DEFAULT " + lit;
    }
    if (c.szPict[0]) out->loose.push_back({field, "picture", table.Text(c.szPict), ""});
    if (c.elkupType != lkupNONE) {
      out->loose.push_back(
          {field, "lookup", engine::FileNameOf(c.szLkupTblName), LookupDetail(c.elkupType)});
    }
  }

  void Link(const RINTDesc& link, const MasterFields& master_fields) {
    std::string mine, theirs;
    const std::vector<std::string> other = master_fields(link.szTblName);
    bool named = true;
    for (std::uint16_t k = 0; k < link.iFldCount; ++k) {
      const std::uint16_t a = link.aiThisTabFld[k], b = link.aiOthTabFld[k];
      if (a < 1 || a > names.size()) return;
      mine += (k ? "," : "") + names[a - 1u];
      if (b < 1 || b > other.size()) named = false;
      if (named) theirs += (k ? "," : "") + SqlName(other[b - 1u]);
    }
    std::string fk = "FOREIGN KEY (" + mine + ") REFERENCES " +
                     SqlName(engine::Stem(engine::FileNameOf(link.szTblName)));
    if (named) fk += " (" + theirs + ")";
    fk += link.eModOp == rintCASCADE ? " ON UPDATE CASCADE" : " ON UPDATE RESTRICT";
    constraints.push_back(fk + " ON DELETE RESTRICT");
  }

  void Index(const IDXDesc& idx) {
    std::string cols;
    for (std::uint16_t k = 0; k < idx.iFldsInKey; ++k) {
      const std::uint16_t n = idx.aiKeyFld[k];
      if (n < 1 || n > names.size()) return;
      cols += (k ? "," : "") + names[n - 1u] + (idx.bDescending ? " DESC" : "");
    }
    if (idx.bPrimary) {
      constraints.insert(constraints.begin(), "PRIMARY KEY (" + cols + ")");
      return;
    }
    // Index names are one namespace for the whole SQLite file.
    const std::string name = out->name + "." + table.Text(idx.szName);
    out->indexes.push_back("CREATE " + std::string(idx.bUnique ? "UNIQUE " : "") + "INDEX " +
                           SqlName(name) + " ON " + SqlName(out->name) + " (" + cols + ")");
  }
};

}  // namespace

const char* SqlType(engine::FieldType type) {
  switch (engine::KindOf(type)) {
    case FieldKind::Integer:
    case FieldKind::Logical:
      return "INTEGER";
    case FieldKind::Float:
      return "REAL";
    case FieldKind::Binary:
    case FieldKind::Bytes:
      return "BLOB";
    default:  // text, exact decimals, dates and times as ISO text, memos
      return "TEXT";
  }
}

std::string SqlName(const std::string& name) { return Quoted(name, '"'); }
std::string SqlText(const std::string& text) { return Quoted(text, '\''); }

TableSchema BuildSchema(const engine::ParadoxTable& table, const engine::TableStructure& st,
                        const MasterFields& master_fields) {
  TableSchema schema;
  schema.name = engine::Stem(table.Path());
  Builder b{table, st, &schema, {}, {}, {}};
  const auto& fields = table.Fields();
  for (const engine::FieldDesc& f : fields) b.names.push_back(SqlName(table.Text(f.name)));
  b.clauses.resize(fields.size());
  for (const VCHKDesc& c : st.checks) {
    if (c.iFldNum >= 1 && c.iFldNum <= fields.size()) b.Check(c);
  }
  if (!st.valDecoded && st.legacyCheckCount > 0) {
    schema.notes.push_back("the validity checks of its level 3 .VAL file are not exported");
  }
  for (const RINTDesc& link : st.links) {
    if (link.eType == rintDEPENDENT) b.Link(link, master_fields);
  }
  for (const IDXDesc& idx : st.indexes) b.Index(idx);
  const bool rowid_key = st.indexes.size() && st.indexes[0].bPrimary &&
                         st.indexes[0].iFldsInKey == 1 && st.indexes[0].aiKeyFld[0] >= 1;
  std::string sql = "CREATE TABLE " + SqlName(schema.name) + " (";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string type = SqlType(fields[i].type);
    // A lone INTEGER key would become the rowid, which turns a blank key
    // into a made-up number; INT keeps the affinity without that.
    if (rowid_key && st.indexes[0].aiKeyFld[0] == i + 1 && type == "INTEGER") type = "INT";
    sql += (i ? ", " : "") + b.names[i] + " " + type + b.clauses[i];
  }
  for (const std::string& c : b.constraints) sql += ", " + c;
  schema.create = sql + ")";
  schema.notes.insert(schema.notes.end(), st.notes.begin(), st.notes.end());
  return schema;
}

}  // namespace tableexport
