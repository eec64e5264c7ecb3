// vdx plan ALIAS | vdx plan TABLE --like REF [--password PW] [--json]: what
// an Update would do, without doing it. Every table of the database (an
// alias or a database folder) against its twin in METADATA, or one table
// against a reference: the fields added, removed, retyped, narrowed, moved
// or renamed, the key, index, check and link changes, and the records that
// would go to KEYVIOL and to PROBLEMS with a few examples, counted by a dry
// run of the restructure itself. Nothing is written. --json prints one
// object per table and line. Exit 0 planned, 1 a table could not be read,
// 2 usage.
#include <filesystem>
#include <iomanip>
#include <ostream>

#include "Command.h"
#include "RestructurePreview.h"
#include "Session.h"
#include "TableDump.h"
#include "TableFiles.h"

namespace {

using engine::JsonString;

void PrintJson(const engine::TablePlan& plan, std::ostream& out) {
  out << "{\"table\":" << JsonString(plan.table);
  if (!plan.status.ok()) {
    out << ",\"error\":" << JsonString(plan.status.ToString()) << "}\n";
    return;
  }
  const engine::RestructureReport& r = plan.report;
  out << ",\"records\":" << r.records << ",\"keyviol\":" << r.keyViolations
      << ",\"problems\":" << r.problems << ",\"changes\":[";
  for (std::size_t i = 0; i < plan.changes.size(); ++i) {
    const engine::PlanChange& c = plan.changes[i];
    out << (i ? "," : "") << "{\"change\":" << JsonString(engine::PlanChangeName(c.kind))
        << ",\"name\":" << JsonString(c.name) << ",\"from\":" << JsonString(c.from)
        << ",\"to\":" << JsonString(c.to) << "}";
  }
  const auto list = [&out](const char* key, const std::vector<std::string>& items) {
    out << ",\"" << key << "\":[";
    for (std::size_t i = 0; i < items.size(); ++i) out << (i ? "," : "") << JsonString(items[i]);
    out << "]";
  };
  list("keyviol_examples", r.keyViolExamples);
  list("problems_examples", r.problemExamples);
  out << "}\n";
}

void PrintText(const engine::TablePlan& plan, std::ostream& out) {
  out << std::left << std::setw(16) << plan.table << std::right;
  if (!plan.status.ok()) {
    out << "  cannot be read: " << plan.status.ToString() << "\n";
    return;
  }
  const engine::RestructureReport& r = plan.report;
  out << std::setw(9) << r.records << std::setw(9) << r.keyViolations << std::setw(10)
      << r.problems << "  " << (plan.changes.empty() ? "no change" : "") << "\n";
  for (const engine::PlanChange& c : plan.changes) {
    out << "    " << std::left << std::setw(16) << engine::PlanChangeName(c.kind) << std::setw(16)
        << c.name << std::right << c.from;
    if (!c.from.empty() || !c.to.empty()) out << " -> " << c.to;
    out << "\n";
  }
  for (const std::string& e : r.keyViolExamples) out << "    KEYVIOL   " << e << "\n";
  for (const std::string& e : r.problemExamples) out << "    PROBLEMS  " << e << "\n";
}

int Plan(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  std::string target, like, password;
  bool json = false, bad = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--like" && has_value)
      like = args[++i];
    else if (args[i] == "--password" && has_value)
      password = args[++i];
    else if (args[i] == "--json")
      json = true;
    else if (target.empty() && args[i].rfind("--", 0) != 0)
      target = args[i];
    else
      bad = true;
  }
  if (bad || target.empty()) {
    err << "usage: vdx plan ALIAS | vdx plan TABLE --like REF [--password PW] [--json]\n";
    return 2;
  }
  std::vector<engine::TablePlan> plans;
  if (!like.empty()) {
    plans.push_back(engine::PlanLike(engine::ResolveTablePath(target),
                                     engine::ResolveTablePath(like), password));
  } else {
    std::string folder = engine::TSession::Default().AliasPath(target);
    std::error_code ec;
    if (folder.empty() && std::filesystem::is_directory(target, ec)) folder = target;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) {
      err << "vdx plan: " << target << ": no such alias or database folder\n";
      return 1;
    }
    plans = engine::PlanDatabase(folder, password);
  }
  if (!json && !plans.empty())
    out << std::left << std::setw(16) << "TABLE" << std::right << std::setw(9) << "RECORDS"
        << std::setw(9) << "KEYVIOL" << std::setw(10) << "PROBLEMS" << "  CHANGES\n";
  int code = 0;
  for (const engine::TablePlan& plan : plans) {
    json ? PrintJson(plan, out) : PrintText(plan, out);
    if (!plan.status.ok()) {
      err << "vdx plan: " << plan.table << ": " << plan.status.ToString() << "\n";
      code = 1;
    }
  }
  return code;
}

}  // namespace

VDX_COMMAND("plan", "plan ALIAS | plan TABLE --like REF [--json]   what an Update would do",
            Plan);
