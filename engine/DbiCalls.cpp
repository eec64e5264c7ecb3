#include "DbiCalls.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "Journal.h"
#include "Restructure.h"
#include "Session.h"
#include "TableFiles.h"

using engine::RecordError;
using engine::Status;

namespace {

void CopyOut(char* buffer, std::size_t cap, const std::string& text) {
  const std::size_t n = std::min(text.size(), cap - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

DBIResult Ok() { return RecordError(Status::OK()); }

DBIResult BadHandle() { return RecordError(Status(DBIERR_INVALIDHNDL, "Invalid handle")); }

DBIResult ReadStructure(hDBICur cursor, engine::TableStructure* out) {
  if (!cursor) return BadHandle();
  Status s = engine::ReadTableStructure(engine::Env::Default(), *cursor, out);
  return s.ok() ? Ok() : RecordError(s);
}

template <typename T>
DBIResult Nth(const std::vector<T>& items, std::uint16_t number, DBIResult missing, T& out) {
  if (number == 0 || number > items.size()) {
    return RecordError(Status(missing, "No descriptor number " + std::to_string(number)));
  }
  out = items[number - 1u];
  return Ok();
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DBIResult DbiGetCursorProps(hDBICur hCursor, CURProps& props) {
  engine::TableStructure st;
  if (DBIResult r = ReadStructure(hCursor, &st)) return r;
  const engine::DataFileHeader& h = hCursor->Header();
  props = CURProps{};
  CopyOut(props.szName, sizeof props.szName, hCursor->Path());
  CopyOut(props.szTableType, sizeof props.szTableType, "PARADOX");
  props.iFields = static_cast<std::uint16_t>(h.fields.size());
  props.iRecSize = h.record_size;
  props.iKeyFields = h.key_fields;
  for (int k = 0; k < h.key_fields; ++k)
    props.iKeySize =
        static_cast<std::uint16_t>(props.iKeySize + h.fields[static_cast<std::size_t>(k)].size);
  props.iIndexes = static_cast<std::uint16_t>(st.indexes.size());
  props.iValChecks = static_cast<std::uint16_t>(st.checks.size());
  props.iRefIntChecks = static_cast<std::uint16_t>(st.links.size());
  props.bProtected = hCursor->Protected();
  props.iRecords = h.num_records;
  props.iTblLevel = static_cast<std::uint16_t>(h.Level() / 10);
  props.iBlockSize = h.block_size_code;
  props.iCodePage = static_cast<std::uint16_t>(hCursor->TextCodePage());
  props.iSortOrder = h.sort_order;
  return Ok();
}

DBIResult DbiGetFieldDescs(hDBICur hCursor, FLDDesc* descs) {
  if (!hCursor || !descs) return BadHandle();
  const auto& fields = hCursor->Fields();
  for (std::size_t i = 0; i < fields.size(); ++i)
    descs[i] = engine::ToFldDesc(fields[i], static_cast<int>(i + 1));
  return Ok();
}

DBIResult DbiGetIndexDesc(hDBICur hCursor, std::uint16_t number, IDXDesc& desc) {
  engine::TableStructure st;
  if (DBIResult r = ReadStructure(hCursor, &st)) return r;
  return Nth(st.indexes, number, DBIERR_NOSUCHINDEX, desc);
}

DBIResult DbiGetVchkDesc(hDBICur hCursor, std::uint16_t number, VCHKDesc& desc) {
  engine::TableStructure st;
  if (DBIResult r = ReadStructure(hCursor, &st)) return r;
  return Nth(st.checks, number, DBIERR_INVALIDPARAM, desc);
}

DBIResult DbiGetRintDesc(hDBICur hCursor, std::uint16_t number, RINTDesc& desc) {
  engine::TableStructure st;
  if (DBIResult r = ReadStructure(hCursor, &st)) return r;
  return Nth(st.links, number, DBIERR_INVALIDPARAM, desc);
}

DBIResult DbiOpenDatabase(const char* name, const char* type, DBIOpenMode, DBIShareMode shareMode,
                          const char*, std::uint16_t, const void*, const void*, hDBIDb& db) {
  db = nullptr;
  if (type && *type && ::strcasecmp(type, "STANDARD") != 0) {
    return RecordError(Status(DBIERR_UNKNOWNDRIVER, "Unknown database type").WithContext(type));
  }
  std::string dir;
  if (name && *name) {
    dir = engine::TSession::Default().AliasPath(name);
    if (dir.empty())
      return RecordError(Status(DBIERR_UNKNOWNDB, "Invalid alias name").WithContext(name));
  } else {
    char cwd[DBIMAXPATHLEN + 1];
    dir = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
  }
  db = new engine::Database(engine::NormalizeDirectory(dir), shareMode == dbiOPENEXCL);
  return Ok();
}

DBIResult DbiSetDirectory(hDBIDb db, const char* directory) {
  if (!db) return BadHandle();
  const std::string dir = engine::NormalizeDirectory(directory ? directory : "");
  if (!IsDirectory(dir))
    return RecordError(Status(DBIERR_DIRNOTFOUND, "Directory not found").WithContext(dir));
  db->SetDirectory(dir);
  return Ok();
}

DBIResult DbiGetDirectory(hDBIDb db, bool, char* buffer) {
  if (!db || !buffer) return BadHandle();
  CopyOut(buffer, DBIMAXPATHLEN + 1, db->Directory());
  return Ok();
}

DBIResult DbiCloseDatabase(hDBIDb& db) {
  if (!db) return BadHandle();
  // Shared handles of the dataset layer stay; only opened ones are freed.
  if (db != engine::TableDatabase(db->Directory())) delete db;
  db = nullptr;
  return Ok();
}

DBIResult DbiDoRestructure(hDBIDb db, std::uint16_t descCount, CRTblDesc* desc, const char* saveAs,
                           char* keyViolName, char* problemsName, bool analyzeOnly) {
  if (keyViolName) keyViolName[0] = '\0';
  if (problemsName) problemsName[0] = '\0';
  if (!db) return BadHandle();
  if (descCount != 1 || !desc)
    return RecordError(Status(DBIERR_INVALIDPARAM, "One table per restructure"));
  if (analyzeOnly)
    return RecordError(
        Status(DBIERR_NOTSUPPORTED, "Analysis without restructure is not supported"));
  const std::string name(desc->szTblName, strnlen(desc->szTblName, sizeof desc->szTblName));
  if (name.empty()) return RecordError(Status(DBIERR_INVALIDPARAM, "No table name"));
  const std::string path = db->Resolve(name);
  const std::string table = engine::DataFilePath(engine::DirName(path), engine::BaseName(path));
  engine::RestructureOptions options;
  options.passwords = engine::TSession::Default().Passwords();
  if (desc->szPassword[0]) options.passwords.push_back(desc->szPassword);
  if (saveAs && *saveAs) options.saveAs = db->Resolve(saveAs);
  options.batch = engine::CommitBatch::Current();
  engine::RestructureReport report;
  Status s = engine::RestructureTable(table, *desc, options, &report);
  if (!s.ok()) return RecordError(s);
  if (keyViolName) CopyOut(keyViolName, DBIMAXPATHLEN + 1, report.keyViolTable);
  if (problemsName) CopyOut(problemsName, DBIMAXPATHLEN + 1, report.problemsTable);
  return Ok();
}
