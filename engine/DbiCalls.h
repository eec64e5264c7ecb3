// The direct calls of the engine, in the shapes the table tools use: what a
// cursor's table holds (properties, fields, indexes, validity checks,
// links), database handles on a folder, and the restructure. Every call
// returns a 16-bit result (0 = success) and records a failure as the last
// error, which DbiGetErrorInfo / DbiGetErrorString then describe.
#pragma once

#include <cstdint>

#include "Database.h"
#include "DbiErrors.h"
#include "DbiTypes.h"
#include "ParadoxTable.h"

using hDBICur = engine::ParadoxTable*;  // TTable::Handle()
using hDBIDb = engine::Database*;

enum DBIOpenMode : std::uint8_t { dbiREADWRITE = 0, dbiREADONLY = 1 };
enum DBIShareMode : std::uint8_t { dbiOPENSHARED = 0, dbiOPENEXCL = 1 };

DBIResult DbiGetCursorProps(hDBICur hCursor, CURProps& props);
// Fills one descriptor per field, in order; the array must hold iFields.
DBIResult DbiGetFieldDescs(hDBICur hCursor, FLDDesc* descs);
// Numbers count from 1.
DBIResult DbiGetIndexDesc(hDBICur hCursor, std::uint16_t number, IDXDesc& desc);
DBIResult DbiGetVchkDesc(hDBICur hCursor, std::uint16_t number, VCHKDesc& desc);
DBIResult DbiGetRintDesc(hDBICur hCursor, std::uint16_t number, RINTDesc& desc);

// No name: a standard database on the current folder. A name is an alias of
// the session's configuration. The type, when given, must be "STANDARD".
DBIResult DbiOpenDatabase(const char* name, const char* type, DBIOpenMode openMode,
                          DBIShareMode shareMode, const char* password, std::uint16_t optFields,
                          const void* optFieldDescs, const void* optParams, hDBIDb& db);
DBIResult DbiSetDirectory(hDBIDb db, const char* directory);
// The database's folder, without a trailing separator, into a DBIPATH
// buffer. bDefault is accepted for the call's shape.
DBIResult DbiGetDirectory(hDBIDb db, bool bDefault, char* buffer);
DBIResult DbiCloseDatabase(hDBIDb& db);

// Restructures (or, with save-as, copies restructured) the one table the
// request names, in the database's folder. The key-violation buffer (a
// DBIPATH, may be null) receives the path of the table holding the records
// that broke the new primary key (KEYVIOL.DB beside the table written), the
// problems buffer the path of the table holding the records whose values
// were cut, rounded or blanked (PROBLEMS.DB); each stays empty when there
// were none. Both hold the records as the source had them, in its
// structure. Analyse-only is not supported.
DBIResult DbiDoRestructure(hDBIDb db, std::uint16_t descCount, CRTblDesc* desc, const char* saveAs,
                           char* keyViolName, char* problemsName, bool analyzeOnly);
