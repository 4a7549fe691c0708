// The server's messages, with SQL Server's numbers, severities and texts.
#pragma once

#include <cstdint>
#include <string>

#include "emu/types.h"

namespace finprep::emu::msg {

inline Message Error(int number, std::string text, int severity = 16, int state = 1) {
  return Message{number, severity, state, std::move(text)};
}
inline Message Info(int number, std::string text) { return Message{number, 0, 1, std::move(text)}; }

// A statement this server does not carry out.
inline Message Unsupported(const std::string& what) {
  return Error(50000, "The emulator does not support " + what + ".");
}

inline Message SyntaxNear(const std::string& token) {
  return Error(102, "Incorrect syntax near '" + token + "'.", 15);
}
inline Message SyntaxNearKeyword(const std::string& keyword) {
  return Error(156, "Incorrect syntax near the keyword '" + keyword + "'.", 15);
}
inline Message InvalidObject(const std::string& name) {
  return Error(208, "Invalid object name '" + name + "'.");
}
inline Message InvalidColumn(const std::string& name) {
  return Error(207, "Invalid column name '" + name + "'.");
}
inline Message AmbiguousColumn(const std::string& name) {
  return Error(209, "Ambiguous column name '" + name + "'.");
}
inline Message NotBound(const std::string& name) {
  return Error(4104, "The multi-part identifier \"" + name + "\" could not be bound.");
}
inline Message ObjectExists(const std::string& name) {
  return Error(2714, "There is already an object named '" + name + "' in the database.");
}
inline Message DuplicateColumn(const std::string& column, const std::string& table) {
  return Error(2705, "Column names in each table must be unique. Column name '" + column +
                         "' in table '" + table + "' is specified more than once.");
}
inline Message DuplicateViewColumn(const std::string& column, const std::string& view) {
  return Error(4506, "Column names in each view or function must be unique. Column name '" +
                         column + "' in view or function '" + view +
                         "' is specified more than once.");
}
inline Message DuplicateDerivedColumn(const std::string& column, const std::string& alias) {
  return Error(8156,
               "The column '" + column + "' was specified multiple times for '" + alias + "'.");
}
inline Message SameExposedNames(const std::string& a, const std::string& b) {
  return Error(1013, "The objects \"" + a + "\" and \"" + b +
                         "\" in the FROM clause have the same exposed names. Use correlation "
                         "names to distinguish them.");
}
inline Message ConvertFailed(const std::string& from, const std::string& to) {
  return Error(8114, "Error converting data type " + from + " to " + to + ".");
}
inline Message ConvertToIntFailed(const std::string& from, const std::string& text,
                                  const std::string& to) {
  return Error(245, "Conversion failed when converting the " + from + " value '" + text +
                        "' to data type " + to + ".");
}
inline Message DateConvertFailed() {
  return Error(241, "Conversion failed when converting date and/or time from character string.");
}
inline Message Truncated() { return Error(8152, "String or binary data would be truncated."); }
inline Message UnknownFunction(const std::string& name) {
  return Error(195, "'" + name + "' is not a recognized built-in function name.", 15);
}
inline Message CannotDropDatabase(const std::string& name) {
  return Error(3701,
               "Cannot drop the database '" + name +
                   "', because it does not exist or you do not have permission.",
               11);
}
inline Message CannotDropObject(const std::string& kind, const std::string& name) {
  return Error(3701,
               "Cannot drop the " + kind + " '" + name +
                   "', because it does not exist or you do not have permission.",
               11);
}
inline Message CannotOpenDatabase(const std::string& name) {
  return Error(
      4060, "Cannot open database \"" + name + "\" requested by the login. The login failed.", 11);
}
inline Message DatabaseOffline(const std::string& name) {
  return Error(942, "Database '" + name + "' cannot be opened because it is offline.", 14);
}
inline Message DatabaseInUse(const std::string& name) {
  return Error(3702, "Cannot drop database \"" + name + "\" because it is currently in use.");
}
inline Message DatabaseExists(const std::string& name) {
  return Error(1801, "Database '" + name + "' already exists. Choose a different database name.");
}
inline Message AlterDatabaseNoAccess(const std::string& name) {
  return Error(5011,
               "User does not have permission to alter database '" + name +
                   "', the database does not exist, or the database is not in a state "
                   "that allows access checks.",
               14);
}
inline Message AlterDatabaseFailed() { return Error(5069, "ALTER DATABASE statement failed."); }
inline Message SessionKilled() {
  return Error(596, "Cannot continue the execution because the session is in the kill state.", 21);
}

// RESTORE and its family.
inline Message Terminating(const std::string& what) {
  return Error(3013, what + " is terminating abnormally.");
}
inline Message CannotOpenDevice(const std::string& device, const std::string& os_error) {
  return Error(
      3201, "Cannot open backup device '" + device + "'. Operating system error " + os_error + ".");
}
inline Message MediaIncorrectlyFormed(const std::string& device) {
  return Error(3241, "The media family on device '" + device +
                         "' is incorrectly formed. SQL Server cannot process this media family.");
}
inline Message FileIdNotFound(int position, const std::string& device) {
  return Error(4038,
               "Cannot find file ID " + std::to_string(position) + " on device '" + device + "'.");
}
inline Message LogicalFileNotInDatabase(const std::string& logical, const std::string& database) {
  return Error(3234, "Logical file '" + logical + "' is not part of database '" + database +
                         "'. Use RESTORE FILELISTONLY to list the logical file names.");
}
inline Message DirectoryLookupFailed(const std::string& path) {
  return Error(5133, "Directory lookup for the file \"" + path +
                         "\" failed with the operating system error 3(The system cannot find the "
                         "path specified.).");
}
inline Message CannotRestoreFileTo(const std::string& logical, const std::string& path) {
  return Error(3156, "File '" + logical + "' cannot be restored to '" + path +
                         "'. Use WITH MOVE to identify a valid location for the file.");
}
inline Message RestorePlanProblems() {
  return Error(3119,
               "Problems were identified while planning for the RESTORE statement. Previous "
               "messages provide details.");
}
inline Message BackupOfOtherDatabase(const std::string& existing) {
  return Error(3154, "The backup set holds a backup of a database other than the existing '" +
                         existing + "' database.");
}
inline Message FileInUse(const std::string& path, const std::string& database) {
  return Error(1834, "The file '" + path +
                         "' cannot be overwritten.  It is being used by database '" + database +
                         "'.");
}
inline Message FileExistsNoReplace(const std::string& path) {
  return Error(3142, "File \"" + path + "\" cannot be restored over the existing \"" + path +
                         "\". Reissue the RESTORE statement using WITH REPLACE to overwrite "
                         "pre-existing files, or WITH MOVE to identify an alternate location.");
}
inline Message FileClaimedTwice(const std::string& path, const std::string& a,
                                const std::string& b) {
  return Error(3176, "File '" + path + "' is claimed by '" + a + "' and '" + b +
                         "'. The WITH MOVE clause can be used to relocate one or more files.");
}
inline Message ProcessedPages(std::int64_t pages, const std::string& database,
                              const std::string& logical, int position) {
  return Info(4035, "Processed " + std::to_string(pages) + " pages for database '" + database +
                        "', file '" + logical + "' on file " + std::to_string(position) + ".");
}

}  // namespace finprep::emu::msg
