#pragma once

// The cursor of a Paradox table of a folder database.
//
//   - Reading streams the rows through the Paradox reader, in the file's order; a search that
//     must leave the position alone reads on a second reader.
//   - A table that is empty when first written and then only receives rows (a package table
//     being filled) encodes each row once into a staged table (paradox::TableRewriter) that
//     replaces the file on close.
//   - Any other change loads the table into memory, in key order (position order for a table
//     without key, whose rows carry their position after the columns), and writes it back
//     through the Paradox writer when the table closes: the file on disk changes only once and
//     completely, or not at all.

#include "engine/cursor.h"

namespace engine {

std::unique_ptr<TCursor> OpenParadoxTable(const QString &path, bool readOnly);

} // namespace engine
