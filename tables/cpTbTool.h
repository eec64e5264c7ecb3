// TZelTableTools: the table dataset through which every tool works on one
// Paradox table at a time, paired with its reference table (same file name,
// by default in the database's METADATA folder). It answers the link
// questions that order the tables, restructures the live table after its
// reference, and packs it. Engine failures become EBdeApi.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "DbiCalls.h"
#include "Status.h"
#include "TTable.h"

class ETableTools : public std::runtime_error {
 public:
  explicit ETableTools(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// An engine call that did not return 0. It carries the engine's status
// whole (code, text and contexts, the first of which is usually the file);
// the message is the text with each context on a line of its own.
class EBdeApi : public ETableTools {
 public:
  explicit EBdeApi(engine::Status status);
  explicit EBdeApi(const std::string& message, DBIResult code = 0)
      : EBdeApi(engine::Status(code, message)) {}
  const engine::Status& EngineStatus() const { return status_; }
  // The engine's result code (0 when the failure came from elsewhere) and
  // its category (its high byte: damage, lock conflict ...).
  DBIResult ErrorCode() const { return status_.code(); }
  int Category() const { return status_.category(); }

 private:
  engine::Status status_;
};

// The folder of a database name: the path of the alias of that name, or,
// for a folder given with its trailing separator, that folder without it.
// Empty for an alias without a path.
std::string AliasDirectory(const std::string& name);

class TZelTableTools : public engine::TTable {
 public:
  TZelTableTools();
  virtual ~TZelTableTools();

  // Written into every restructure and pack request of a protected table.
  std::string Password;

  // Called with true before a pack and with false after it, so a window can
  // show its busy cursor; the component itself draws nothing.
  std::function<void(bool busy)> OnBusyCursor;
  // Called with the complete request just before the engine runs it.
  std::function<void(const CRTblDesc& request)> OnRestructureRequest;

  engine::TTable& MetaTable() { return *meta_; }
  // Takes the database name, the reference folder and the password of
  // another component.
  void CopySettings(const TZelTableTools& other);

  // The reference folder: the one last set, or by default the database's
  // folder followed by "/METADATA". Setting it empty restores the default.
  std::string MetaDatabaseName() const;
  void SetMetaDatabaseName(const std::string& name);

  void OpenMeta();
  void CloseMeta();
  void OpenTables();
  void CloseTables();

  // Links in which the chosen table (reference or live; it must be open) is
  // the dependent one, and the master table of the index-th of them (from 1).
  int MasterCount(bool useMeta);
  std::string MasterName(bool useMeta, int index);

  // Brings the live table in line with its reference; with a save-as path
  // the result is written there and the live table stays as it is. Strip
  // keeps only the live table's first index and drops its dependent links.
  void Restructure(const std::string& saveAs, bool strip);
  void Pack(bool showBusy);

  // The data file of the key-violation table the last restructure or pack
  // kept (in the KEYVIOL folder beside the table written), empty when every
  // record fitted; likewise the records whose values the new structure cut,
  // rounded or blanked, kept whole in the PROBLEMS folder. Both hold the
  // records as they were, in the table's former structure.
  std::string LastKeyViolations;
  std::string LastProblems;

  // 0 passes unchanged; anything else raises EBdeApi with the engine's text.
  virtual DBIResult Check(DBIResult result);

 private:
  hDBICur CursorOf(bool useMeta);
  hDBIDb LiveDatabase();
  std::string LinkTarget(const std::string& saveAs) const;
  CRTblDesc RequestHeader(const CURProps& metaProps) const;
  void Execute(CRTblDesc& request, const std::string& directory, const std::string& saveAs,
               const std::string& written);

  std::unique_ptr<engine::TTable> meta_;
  std::string metaDatabaseName_;
};
