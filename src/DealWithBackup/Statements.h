// The Transact-SQL statements of a run and the connection strings, built by pure functions.
//
// Table-name suffixes and item-type ids go in verbatim (both are checked by IsPlainNamePart
// first); paths and logical names that a statement puts between single quotes have their quotes
// doubled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/edition.h"

namespace finprep {

// True when the text holds only letters (any script), combining marks, decimal digits and the
// characters _ @ # $, so that appending it to a name keeps a plain identifier.  The empty text
// is valid; malformed UTF-8 is not.
bool IsPlainNamePart(const std::string& text);

// --- Reporting views -----------------------------------------------------------------------------

std::string KmViewStatement(const std::string& suffix);
std::string BalViewStatement(const std::string& suffix);
// The host-instance edition's pz also carries VouDetailID, which the item tables join on.
std::string PzViewStatement(Edition edition, const std::string& suffix);

// --- Auxiliary-item tables (host-instance edition) -----------------------------------------------

// The two tables that receive one code column per item type, in the order they are filled.
enum class AidTable { ItemBalance, VouItemDetail };

std::string ItemTypeQuery(const std::string& suffix);
std::string AidInfoStatement(const std::string& suffix);
// "AidType" followed by the type id as the query rendered it.
std::string AidColumnName(const std::string& type_id);
std::string AddAidColumnStatement(AidTable table, const std::string& suffix,
                                  const std::string& column);
std::string UpdateAidColumnStatement(AidTable table, const std::string& suffix,
                                     const std::string& column, const std::string& type_id);
// " AidType1 <>'' or  AidType2 <>''": a row carries at least one code.
std::string AidFilterText(const std::vector<std::string>& type_ids);
std::string AidBalStatement(const std::string& suffix, const std::string& filter);
std::string AidVourStatement(const std::string& suffix, const std::string& filter);

// --- Backup sets and restore ---------------------------------------------------------------------

std::string HeaderOnlyStatement(const std::string& backup_path);
// Position 0 lists the files of the default (first) set.
std::string FileListOnlyStatement(const std::string& backup_path, std::int32_t position);

extern const char* const kVoriraLookupStatement;
extern const char* const kVoriraOfflineStatement;
extern const char* const kVoriraDropStatement;

// One row of a backup's file listing.
struct BackupFileRow {
  std::string logical_name;
  std::string type;  // D, L, F, S ...
};

// Restores the set at `position` (0: no explicit set) as VORIRA with its files in `work_dir`:
// the first row becomes vorira.mdf, the second vorira.ldf (with one row, that row is named twice),
// and every further row N (1-based) vorira_N.ldf for a log file or vorira_N.ndf otherwise.
std::string RestoreStatement(const std::string& backup_path, std::int32_t position,
                             const std::string& work_dir, const std::vector<BackupFileRow>& files);

// --- Connection strings --------------------------------------------------------------------------

// The local default instance with Windows authentication, on master (restore) and on VORIRA
// (views, and the string handed back to the host).
extern const char* const kLocalMasterConnectionString;
extern const char* const kLocalViewsConnectionString;
extern const char* const kLocalResultConnectionString;

// The string for VORIRA derived from the server-level string: its first "master", in any case,
// becomes "vorira".
std::string VoriraConnectionString(const std::string& server_connection_string);

}  // namespace finprep
