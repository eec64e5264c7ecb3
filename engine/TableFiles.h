// The files that make up one table and how their names are found: names
// match without regard to case, as on the platform the tables come from, so
// `orders` finds ORDERS.DB and its blob file may be orders.mb. A table is
// its exact file name, though: two tables of one folder whose names differ
// only in case (STORE.DB and store.db) cannot be told apart by their
// companions, and every tool refuses them (RefuseCaseTwins) before it
// writes anything.
#pragma once

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "Status.h"

namespace engine {

// The last part of a path ("ORDERS.DB" of "/data/ORDERS.DB").
std::string BaseName(const std::string& path);
// The same for a table name as descriptors and .VAL files carry it, which
// may come with a path of the platform the tables come from ("C:\\DATA\\A.DB").
std::string FileNameOf(const std::string& path);
// The base name without its extension ("ORDERS").
std::string Stem(const std::string& path);
// The upper-cased extension of a path ("X0A"), empty when there is none.
std::string UpperExtension(const std::string& path);

// The existing entry of dir whose name equals name (exactly when there is
// such an entry, else ignoring case), or dir/name when there is none.
std::string FindNoCase(const std::string& dir, const std::string& name);
// The other entries of the folder of db_path whose names differ from its
// name only in letter case, sorted.
std::vector<std::string> CaseTwins(const std::string& db_path);
// The entries of folder dir whose names another entry there repeats but
// for letter case (one listing for a whole folder).
std::set<std::string> CaseTwinNames(const std::string& dir);
// OK when no other table of db_path's folder has its name in another
// letter case (whether or not db_path exists); otherwise an error that
// names them all. Every entry point that opens, writes, repairs or creates
// a table asks this first.
Status RefuseCaseTwins(const std::string& db_path);
// The path of a table's data file from a folder and a table name given with
// or without the .DB extension.
std::string DataFilePath(const std::string& dir, const std::string& table);
// The companion of a data file with another extension (".MB", ".PX" ...):
// the existing file when there is one (whatever its case), else the name in
// the case of the companion's parked form (below) when that exists, else --
// for a table written from another one (source_db) -- in the case of the
// source's companion or its parked form, else in the case the table's other
// companions show (all upper or all lower), else in the case of the data
// file's extension. File names never change case.
std::string CompanionPath(const std::string& db_path, const std::string& ext,
                          const std::string& source_db = "");
// Just the extension of CompanionPath, without its dot ("px", "X0A").
std::string CompanionExtension(const std::string& db_path, const std::string& ext,
                               const std::string& source_db = "");
// Parked companions: while the tools work on a table they set its indexes
// and checks aside under names no reader takes for them, replacing one
// character and keeping the others as they are: .VAL -> .VA$, .PX -> .P$,
// .Xnn -> .1nn, .Ynn -> .2nn, .xnn -> .3nn, .ynn -> .4nn (the digit keeps
// the letter's case). They belong to the table's file set: a restructure
// removes them in the commit that installs the new files.
// ParkedExtension gives "" for an extension that is never parked;
// UnparkedExtension gives the own extension back ("" for one that is not
// parked), the replaced L or X of .VAL and .PX in the case of the letter
// before it.
std::string ParkedExtension(const std::string& ext);
std::string UnparkedExtension(const std::string& ext);
bool IsParkedExtension(const std::string& ext);
// Whether an upper-cased extension names a secondary index file (.X0A, .Y0A,
// .XG1, .YG1 ...).
bool IsSecondaryIndexExtension(const std::string& upper_ext);
// The local time as copies of a table kept aside are stamped
// ("20261208_140501"): set-aside records, damaged originals.
std::string KeptCopyStamp(std::time_t moment);
// A table named on a command line: a path to the data file with or without
// its .DB extension, matched without regard to case.
std::string ResolveTablePath(const std::string& arg);
// The files beside a data file whose names put them in its family
// (".PX", ".X0A", ".XG1" ...), matched without regard to case, in the order
// of their extensions.
std::vector<std::string> CompanionFiles(const std::string& db_path);
// Every existing companion of a data file that a new definition makes stale:
// blob file, primary and secondary indexes, validity checks, parked forms.
std::vector<std::string> StaleCompanions(const std::string& db_path);

}  // namespace engine
