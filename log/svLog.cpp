#include "svLog.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include "FieldValue.h"
#include "Session.h"
#include "TableFiles.h"
#include "svLogTable.h"

using engine::Status;

namespace {

// The unit's objects live from the first use to program end.
TLogTable& LogTable() {
  static TLogTable table;
  return table;
}

struct LogState {
  std::string folder;  // the program folder when the log was opened, with "/"
  std::string set_aside;
  bool busy_log = false;  // the last OpenLog found the log held by another program
  // The statement a question is about to run and the alias and tool it
  // names (see AimedRun).
  std::vector<std::string> aimed_sql;
  std::string aimed_alias, aimed_tool;
  std::function<double()> clock;
  std::function<void(bool)> busy;
  long added = 0;
  TToolResult last_result = trSuccess;
};
LogState& State() {
  static LogState state;
  return state;
}

// Shows the hourglass while a question runs, and always takes it down.
class BusyCursor {
 public:
  BusyCursor() {
    if (State().busy) State().busy(true);
  }
  ~BusyCursor() {
    if (State().busy) State().busy(false);
  }
};

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// The alias as the log stores and compares it: upper-cased, and cut to the
// field's width (on a character boundary) so that a name longer than the
// field is still stored and still found.
std::string AliasKey(const std::string& alias) {
  std::string key = UpperAscii(alias);
  if (key.size() <= static_cast<std::size_t>(TLogTable::kAliasSize)) return key;
  std::size_t cut = TLogTable::kAliasSize;
  while (cut > 0 && (static_cast<unsigned char>(key[cut]) & 0xC0) == 0x80) --cut;
  return key.substr(0, cut);
}

// A text literal of the local SQL. The dialect has no escape for the quote
// character, so a name holding double quotes is written between single ones.
std::string Quoted(const std::string& text) {
  if (text.find('"') == std::string::npos) return "\"" + text + "\"";
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  throw engine::EDatabaseError("The name " + text +
                               " holds both kinds of quotes and cannot be asked of the log");
}

// The folder the log was opened in; the program folder before that.
std::string LogFolder() {
  return State().folder.empty() ? engine::ProgramFolder() + "/" : State().folder;
}

std::string QuotedTable() { return std::string("\"") + kLogTableName + "\""; }

std::string AliasLine(const std::string& alias) {
  return "WHERE Alias = " + Quoted(AliasKey(alias));
}
std::string ToolLine(TToolType tool) {
  return "AND Tool = " + Quoted(std::string(1, ToolLetter(tool)));
}

// Lines 1 to 6 of every question; the query is closed and aimed at the log.
void BuildQuestion(const std::string& alias, TToolType tool, const std::string& column) {
  engine::TQuery& q = LogQuery();
  q.Close();
  q.DatabaseName = LogFolder();
  q.SQL = {"SELECT", column, "FROM", QuotedTable(), AliasLine(alias), ToolLine(tool)};
}

// Every statement of this unit names one alias and one tool. While it runs,
// the query sees only the records of that pair (found through the table's
// index) instead of the whole log; its conditions still decide which of
// them count. The statement text is compared too, so SQL that someone else
// puts into LogQuery always sees every record.
class AimedRun {
 public:
  AimedRun(const std::string& alias, TToolType tool) {
    LogState& state = State();
    state.aimed_sql = LogQuery().SQL;
    state.aimed_alias = AliasKey(alias);
    state.aimed_tool = std::string(1, ToolLetter(tool));
  }
  ~AimedRun() { State().aimed_sql.clear(); }
};

void OpenQuestion(const std::string& alias, TToolType tool) {
  AimedRun aimed(alias, tool);
  BusyCursor busy;
  LogQuery().Open();
}

std::string TrimSlashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// Queries reach the log through the open table: it is held exclusively, so
// opening the file a second time would be refused as a lock conflict.
Status OpenForQuery(const std::string& dir, const std::string& file, bool,
                    std::unique_ptr<engine::SqlTable>* out) {
  const std::string path = engine::FindNoCase(TrimSlashes(dir), file);
  TLogTable& table = LogTable();
  namespace fs = std::filesystem;
  if (table.Active() &&
      fs::path(path).lexically_normal() == fs::path(table.Path()).lexically_normal()) {
    const LogState& state = State();
    const bool aimed = !state.aimed_sql.empty() && state.aimed_sql == LogQuery().SQL;
    *out =
        table.QueryView(aimed ? &table.PositionsOf(state.aimed_alias, state.aimed_tool) : nullptr);
    return Status::OK();
  }
  return Status(DBIERR_NOSUCHTABLE,
                table.Active() ? "Only the tool log can be queried" : "The tool log is not open")
      .WithContext(path);
}

// A free name beside the log for a damaged file: VdxLog-damaged-<when>.db,
// with a counter when that is taken, so an earlier one is never overwritten.
std::string SetAsideName(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  const std::string stem = path.substr(0, dot);
  char when[32];
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  std::strftime(when, sizeof when, "%Y%m%d-%H%M%S", &tm);
  std::string base = stem + "-damaged-" + when;
  struct stat st {};
  std::string name = base + ".db";
  for (int n = 2; ::lstat(name.c_str(), &st) == 0; ++n)
    name = base + "-" + std::to_string(n) + ".db";
  return name;
}

// Moves a log file that cannot be read, with any companion files, out of
// the way. False when it cannot be moved; then nothing is replaced.
bool SetAsideDamagedLog(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return true;  // nothing there to keep
  const std::string aside = SetAsideName(path);
  if (std::rename(path.c_str(), aside.c_str()) != 0) return false;
  const std::string aside_stem = aside.substr(0, aside.size() - 3);
  for (const std::string& companion : engine::StaleCompanions(path)) {
    const std::string ext = companion.substr(companion.find_last_of('.'));
    std::rename(companion.c_str(), (aside_stem + ext).c_str());
  }
  State().set_aside = aside;
  return true;
}

double SystemNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  const std::int64_t day = engine::DayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) -
                           engine::DayNumber(1899, 12, 30);
  const std::int64_t ms =
      (std::int64_t{tm.tm_hour} * 3600 + tm.tm_min * 60 + tm.tm_sec) * 1000 + ts.tv_nsec / 1000000;
  return static_cast<double>(day) + static_cast<double>(ms) / 86400000.0;
}

}  // namespace

engine::TQuery& LogQuery() {
  static engine::TQuery query;
  return query;
}

bool OpenLog() {
  LogState& state = State();
  state.folder = engine::ProgramFolder() + "/";
  state.set_aside.clear();
  state.busy_log = false;
  TLogTable& table = LogTable();
  table.SetLocation(TrimSlashes(state.folder), kLogTableName);
  Status s = table.Open();
  // Another program may hold the log for a moment (a copy, a backup): it
  // gets a short while to let it go.
  const auto give_up = std::chrono::steady_clock::now() + kLogBusyWait;
  while (s.category() == ERRCAT_LOCKCONFLICT && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s = table.Open();
  }
  if (!s.ok()) {
    // A log that another program holds is in use, and a read-only one is
    // meant to stay as it is; neither is damaged, so neither is replaced.
    state.busy_log = s.category() == ERRCAT_LOCKCONFLICT;
    if (state.busy_log || s.code() == DBIERR_NOTSUFFTABLERIGHTS) return false;
    if (!SetAsideDamagedLog(table.Path())) return false;
    table.SetLocation(TrimSlashes(state.folder), kLogTableName);
    s = table.Create();
    if (s.ok()) s = table.Open();
    if (!s.ok()) return false;
  }
  engine::TQuery::SetTableOpener(&OpenForQuery);
  return true;
}

void CloseLog() {
  LogQuery().Close();
  LogTable().Close();
}

std::string LogSetAsidePath() { return State().set_aside; }

bool LogWasBusy() { return State().busy_log; }

long LogEntriesAdded() { return State().added; }

TToolResult LastLoggedResult() { return State().last_result; }

bool AddLogEntry(const std::string& alias, TToolType tool, TToolResult result) {
  try {
    TLogRecord record;
    record.Alias = AliasKey(alias);
    record.Tool = std::string(1, ToolLetter(tool));
    record.Result = std::string(1, ResultLetter(result));
    record.Moment = LogNow();
    record.HasMoment = true;
    if (!LogTable().Insert(record).ok()) return false;
    ++State().added;
    State().last_result = result;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void SelectLog(const std::string& alias, TToolType tool, const std::string& column) {
  BuildQuestion(alias, tool, column);
  OpenQuestion(alias, tool);
}

void SelectLogRange(const std::string& alias, TToolType tool, const std::string& column,
                    double startDate, double endDate) {
  ShiftSeconds(startDate, -1);
  ShiftSeconds(endDate, 1);
  BuildQuestion(alias, tool, column);
  engine::TQuery& q = LogQuery();
  q.SQL.push_back("AND Moment > :StartDate");
  q.SQL.push_back("AND Moment < :EndDate");
  q.ParamByName("StartDate").SetAsDateTime(startDate);
  q.ParamByName("EndDate").SetAsDateTime(endDate);
  OpenQuestion(alias, tool);
}

void SelectLogResult(const std::string& alias, TToolType tool, const std::string& column,
                     TToolResult result) {
  BuildQuestion(alias, tool, column);
  LogQuery().SQL.push_back("AND Result = " + Quoted(std::string(1, ResultLetter(result))));
  OpenQuestion(alias, tool);
}

engine::TQueryField LogQueryField(int index) { return LogQuery().Fields(index); }

void CloseLogQuery() { LogQuery().Close(); }

void DeleteLogMoment(const std::string& alias, TToolType tool, double moment) {
  double start = moment, end = moment;
  ShiftSeconds(start, -1);
  ShiftSeconds(end, 1);
  engine::TQuery& q = LogQuery();
  q.Close();
  q.DatabaseName = LogFolder();
  q.SQL = {"DELETE FROM " + QuotedTable(), AliasLine(alias), ToolLine(tool),
           "AND Moment > :StartDate AND Moment < :EndDate"};
  q.ParamByName("StartDate").SetAsDateTime(start);
  q.ParamByName("EndDate").SetAsDateTime(end);
  AimedRun aimed(alias, tool);
  q.ExecSQL();
}

void PurgeFutureEntries(const std::string& alias, TToolType tool) {
  const double now = LogNow();
  double latest = 0;
  do {
    SelectLog(alias, tool, "MAX(Moment)");
    try {
      latest = LogQueryField(0).AsDateTime();
    } catch (...) {
      CloseLogQuery();
      throw;
    }
    CloseLogQuery();
    // Only what lies after the present moment is in the future: a run that
    // finished within this very millisecond (a macro answered right after
    // the run it started) keeps its record.
    if (latest > now) {
      DeleteLogMoment(alias, tool, latest);
      // The latest record always lies inside the deleted second; should it
      // survive anyway, asking again would never end.
      if (LogQuery().RowsAffected() == 0)
        throw engine::EDatabaseError("A future-dated log record could not be removed");
    }
  } while (latest > now);
}

int DaysBetween(double earlier, double later) {
  return static_cast<int>(std::floor(later) - std::floor(earlier));
}

void ShiftSeconds(double& dateTime, int seconds) {
  const double day = std::floor(dateTime);
  // Moments are kept to the millisecond: rounding to that first makes a
  // stored half second an exact half, which nearbyint (in the default
  // rounding mode) takes to the even second.
  const double ms = std::round((dateTime - day) * 86400000.0);
  const double of_day = std::nearbyint(ms / 1000.0);
  dateTime = day + (of_day + seconds) / 86400.0;
}

double LogNow() { return State().clock ? State().clock() : SystemNow(); }

void SetLogClock(std::function<double()> clock) { State().clock = std::move(clock); }

void SetLogBusyHandler(std::function<void(bool)> handler) { State().busy = std::move(handler); }
