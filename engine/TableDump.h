// Renders tables for `vdx`: the JSON Lines dump (one line describing the
// table, then one JSON array per record) and the info summary. Kept in the
// engine so tests and tools share one rendering.
#pragma once

#include <ostream>
#include <string>

#include "FieldText.h"
#include "ParadoxTable.h"

namespace engine {

// Writes the dump and flushes the stream; returns the first damage met
// while reading (the lines written so far stay valid JSON), or a write
// error when the stream fails. The records are formatted on up to
// `threads` threads (0: as many as the machine has cores, up to 4; tables
// with blob fields on the calling thread alone), each reading its blocks
// from the table's file, and written in the table's order by the calling
// thread; every thread has ended when it returns.
Status DumpTable(const ParadoxTable& table, std::ostream& out, int threads = 0);
// One value of field `index` as JSON, in the form the dump uses.
Status ValueJson(const ParadoxTable& table, int index, const FieldValue& v, std::string* out);
// One record as a JSON array (values in field order).
Status RecordJson(const ParadoxTable& table, const TableCursor& cursor, std::string* out);
void DescribeTable(const ParadoxTable& table, std::ostream& out);
std::string JsonString(const std::string& utf8);

}  // namespace engine
