#include "cpTbTool.h"

#include <cstring>
#include <exception>
#include <tuple>
#include <utility>

#include "Database.h"
#include "Session.h"
#include "cpKeyViol.h"
#include "cpTbGuard.h"
#include "tlFile.h"
#include "tlString.h"

namespace {

const char* const kInvalidAlias = "Invalid alias name";
const char* const kIndexOutOfRange = "Table index out of range";

// A folder named in place of an alias comes with its trailing separator;
// one without it is taken whole rather than losing its last letter.
std::string WithoutTrailingSeparator(const std::string& name) {
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) return DropRight(name, 1);
  return name;
}

void CopyText(char* field, std::size_t size, const std::string& text) {
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace

std::string AliasDirectory(const std::string& name) {
  std::vector<std::string> lines;
  try {
    lines = engine::TSession::Default().GetAliasParams(name);
  } catch (const engine::EDBEngineError&) {
    lines = {WithoutTrailingSeparator(name)};
  }
  if (lines.empty()) return "";
  return DeleteFirst(lines.front(), "PATH=");
}

TZelTableTools::TZelTableTools() : meta_(std::make_unique<engine::TTable>()) {}

TZelTableTools::~TZelTableTools() = default;

std::string TZelTableTools::MetaDatabaseName() const {
  if (!metaDatabaseName_.empty()) return metaDatabaseName_;
  const std::string dir = AliasDirectory(DatabaseName);
  if (dir.empty()) throw ETableTools(kInvalidAlias);
  return dir + "/METADATA";
}

void TZelTableTools::SetMetaDatabaseName(const std::string& name) {
  metaDatabaseName_ = name;
  meta_->DatabaseName = name;
}

void TZelTableTools::CopySettings(const TZelTableTools& other) {
  DatabaseName = other.DatabaseName;
  Password = other.Password;
  SetMetaDatabaseName(other.metaDatabaseName_);
}

void TZelTableTools::OpenMeta() {
  // The default follows the database name, so it is worked out anew at
  // every open rather than kept from the database opened before.
  meta_->DatabaseName = MetaDatabaseName();
  meta_->TableName = TableName;
  meta_->Open();
}

void TZelTableTools::CloseMeta() { meta_->Close(); }

void TZelTableTools::OpenTables() {
  // For their structures alone: the engine reads the records itself.
  meta_->StructureOnly = StructureOnly = true;
  try {
    OpenMeta();
    Open();
  } catch (...) {
    meta_->StructureOnly = StructureOnly = false;
    throw;
  }
  meta_->StructureOnly = StructureOnly = false;
}

void TZelTableTools::CloseTables() {
  Close();
  CloseMeta();
}

hDBICur TZelTableTools::CursorOf(bool useMeta) { return useMeta ? meta_->Handle() : Handle(); }

hDBIDb TZelTableTools::LiveDatabase() {
  return engine::TableDatabase(WithoutTrailingSeparator(ExtractFilePath(TablePath())));
}

int TZelTableTools::MasterCount(bool useMeta) {
  hDBICur cursor = CursorOf(useMeta);
  CURProps props{};
  Check(DbiGetCursorProps(cursor, props));
  int count = 0;
  for (std::uint16_t i = 1; i <= props.iRefIntChecks; ++i) {
    RINTDesc link{};
    Check(DbiGetRintDesc(cursor, i, link));
    if (link.eType == rintDEPENDENT) ++count;
  }
  return count;
}

std::string TZelTableTools::MasterName(bool useMeta, int index) {
  hDBICur cursor = CursorOf(useMeta);
  CURProps props{};
  Check(DbiGetCursorProps(cursor, props));
  const int n = props.iRefIntChecks;
  if (index < 1 || index > n) throw ETableTools(kIndexOutOfRange);
  int seen = 0;
  RINTDesc link{};
  for (int number = 1; seen < index && number <= n; ++number) {
    Check(DbiGetRintDesc(cursor, static_cast<std::uint16_t>(number), link));
    if (link.eType == rintDEPENDENT) ++seen;
  }
  if (seen != index) throw ETableTools(kIndexOutOfRange);
  return ExtractFileName(std::string(link.szTblName));
}

CRTblDesc TZelTableTools::RequestHeader(const CURProps& metaProps) const {
  CRTblDesc request{};
  CopyText(request.szTblName, sizeof request.szTblName, TableName);
  CopyText(request.szTblType, sizeof request.szTblType, "PARADOX");
  request.bProtected = !Password.empty() && metaProps.bProtected;
  if (request.bProtected) CopyText(request.szPassword, sizeof request.szPassword, Password);
  request.bPack = true;
  return request;
}

void TZelTableTools::Pack(bool showBusy) {
  tbguard::TBusyCursor busy(showBusy ? OnBusyCursor : nullptr);
  tbguard::TTablesClosed closed(*this);
  OpenTables();
  CURProps props{};
  Check(DbiGetCursorProps(meta_->Handle(), props));
  CRTblDesc request = RequestHeader(props);
  DBIPATH directory{};
  Check(DbiGetDirectory(LiveDatabase(), false, directory));
  CloseTables();
  Execute(request, directory, "", ExtractFileName(TablePath()));
}

void TZelTableTools::Execute(CRTblDesc& request, const std::string& directory,
                             const std::string& saveAs, const std::string& written) {
  LastKeyViolations.clear();
  LastProblems.clear();
  hDBIDb db = nullptr;
  Check(DbiOpenDatabase(nullptr, "STANDARD", dbiREADWRITE, dbiOPENEXCL, nullptr, 0, nullptr,
                        nullptr, db));
  DBIPATH keyViol{}, problems{};
  std::exception_ptr failure;
  try {
    Check(DbiSetDirectory(db, directory.c_str()));
    if (OnRestructureRequest) OnRestructureRequest(request);
    Check(DbiDoRestructure(db, 1, &request, saveAs.empty() ? nullptr : saveAs.c_str(), keyViol,
                           problems, false));
  } catch (...) {
    failure = std::current_exception();
  }
  // Records that broke the new key or lost part of a value are kept beside
  // the table, never thrown away; a table that cannot be moved stays where
  // the engine wrote it.
  for (auto [engineTable, folder, kept] : {std::tuple{keyViol, kKeyViolFolder, &LastKeyViolations},
                                           std::tuple{problems, kProblemsFolder, &LastProblems}}) {
    if (!engineTable[0]) continue;
    try {
      *kept = KeepSetAside(engineTable, written, folder);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  const DBIResult closedResult = DbiCloseDatabase(db);
  if (failure) std::rethrow_exception(failure);
  Check(closedResult);
}

namespace {

// The engine's text, then each context on a line of its own.
std::string EngineText(const engine::Status& status) {
  std::string text = status.message();
  for (const std::string& context : status.contexts()) {
    if (!context.empty()) text += "\n" + context;
  }
  return text;
}

}  // namespace

EBdeApi::EBdeApi(engine::Status status)
    : ETableTools(EngineText(status)), status_(std::move(status)) {}

DBIResult TZelTableTools::Check(DBIResult result) {
  if (result == DBIERR_NONE) return result;
  // The status the call recorded, whole: DbiGetErrorInfo would hand over
  // the same text and contexts cut to its buffers.
  const engine::Status& last = engine::LastError();
  if (last.code() == result) throw EBdeApi(last);
  DBIMSG text{};
  DbiGetErrorString(result, text);
  throw EBdeApi(engine::Status(result, text));
}

tbguard::TTablesClosed::~TTablesClosed() {
  try {
    tools_.CloseTables();
  } catch (...) {
    // Closing is the last step of every path; a failure here must not hide
    // the error that brought the operation to this point.
  }
}
