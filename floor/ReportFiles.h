// The report folder's files as a dashboard serves them: units.csv and the records, each named by
// its bare file name. No path from a request ever reaches the file system: a name is served
// only when it is a record's name (letters, digits, '.', '-', '_', ending in .json) and a
// regular file in the folder itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "floor/HttpServer.h"

namespace irdload::floor {

/// True for a name a record of the folder can have.
bool IsRecordName(const std::string& name);

/// The text of `name` in `folder` (a record, or units.csv), when it is one of them, a regular
/// file there (not a link) and at most `limit` bytes.
std::optional<std::string> ReadReportFile(const std::string& folder, const std::string& name,
                                          std::size_t limit);

/// The folder's record names, oldest name first.
std::vector<std::string> RecordNames(const std::string& folder);

/// A dashboard's routes into a report folder: "/units.csv", "/records/<name>" (each as an
/// attachment) and "/api/records" (the names); nothing for any other path, or for a file that
/// is not there or not one of them.
std::optional<HttpReply> ServeReportFile(const std::string& folder, const std::string& path);

}  // namespace irdload::floor
