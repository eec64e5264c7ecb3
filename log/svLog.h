// The tool log: one record per finished tool run in VdxLog.db in the program
// folder, and the questions the macro engine asks of it (what a run ended
// with, when a tool last succeeded, how many runs fall into a window).
// Main thread only. Writing operations report failure by returning false;
// questions raise the engine's exceptions (engine::EDatabaseError and
// EConvertTool) and leave the query closed and the cursor reset.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "Query.h"
#include "tcVardex.h"

// The table's name inside the program folder.
inline constexpr const char* kLogTableName = "VdxLog.db";

// Opens the log exclusively for the rest of the run; creates it when there
// is none. A file that is there but cannot be read as a log is moved aside
// (see LogSetAsidePath) and an empty log takes its place. False when the
// log cannot be opened or created, also when another program still holds
// it after kLogBusyWait (see LogWasBusy).
bool OpenLog();
inline constexpr std::chrono::milliseconds kLogBusyWait{3000};
// Whether the last OpenLog failed because another program held the log.
bool LogWasBusy();
// Releases the log (program end; tests).
void CloseLog();
// Where OpenLog moved an unreadable log file, "" when it did not; the main
// window tells the user so nothing is lost without a word.
std::string LogSetAsidePath();

// Stores a run: alias upper-cased, the tool's and result's letters, now.
bool AddLogEntry(const std::string& alias, TToolType tool, TToolResult result);
// How many records AddLogEntry has stored in this process, and the result of
// the latest. A question's time window reaches a second back, where an
// earlier run may have left a record; these tell the macro engine whether
// the run it started left one, and which.
long LogEntriesAdded();
TToolResult LastLoggedResult();

// The questions. Each leaves LogQuery open on its result for the caller to
// read with LogQueryField and close with CloseLogQuery.
void SelectLog(const std::string& alias, TToolType tool, const std::string& column);
// Both window ends count, at the resolution of a second.
void SelectLogRange(const std::string& alias, TToolType tool, const std::string& column,
                    double startDate, double endDate);
void SelectLogResult(const std::string& alias, TToolType tool, const std::string& column,
                     TToolResult result);
engine::TQueryField LogQueryField(int index);
void CloseLogQuery();

// Deletes the records of that alias and tool within a second of moment.
void DeleteLogMoment(const std::string& alias, TToolType tool, double moment);
// Deletes the records of that alias and tool dated now or later, latest
// first, so a clock that was set back cannot hide the true last run.
void PurgeFutureEntries(const std::string& alias, TToolType tool);

// Calendar days from the day of `earlier` to the day of `later`; the times
// of day play no part (negative when `later` lies on an earlier day).
int DaysBetween(double earlier, double later);
// Rounds the time of day to the nearest second (halves to even), then adds
// `seconds`.
void ShiftSeconds(double& dateTime, int seconds);

// The current local date and time as the log records it (to the ms).
double LogNow();
// Tests pin the clock; an empty function restores the system clock.
void SetLogClock(std::function<double()> clock);
// Called with true before a question opens and with false after it, also
// when it fails; the main window shows the hourglass meanwhile.
void SetLogBusyHandler(std::function<void(bool busy)> handler);

// The query object every question uses.
engine::TQuery& LogQuery();
