// The names of every file the service keeps on a site, in one place. Each
// function takes the directory the file lives in and gives the whole path;
// the tools read the same names through the same functions.
//
//   <site>/virtualdb/YYMMDD.RiaBase            day file
//   <site>/virtualdb/YYMMDD_<ip>.RiaBase       IP file (one seat, one day)
//   <site>/virtualdb/virtualdb.db              keyword store
//   <site>/virtualdb/intake.journal.<n>        records accepted, not yet stored
//   <site>/virtualdb/YYMMDD_iaFileNum.dat      the day's IA-file counter
//   <site>/virtualdb/YYMMDD_<ip>.RiaBase.handoff  an IP file being made an IA file
//   <site>/virtualdb/YYMMDD_<ip>.RiaBase.handed   an IP file made an IA file lately
//   <site>/virtualdb/YYMMDD_<ip>.RiaBase_tmp      an IA file being made
//   <site>/virtualdb/unapplied.RiaBase         records that could not be applied
//   <site>/virtualdb/YYMMDD.RiaBase.<seconds>  a damaged day file set aside
//   <workdir>/virtualdb/<host>_<port>.spg      an upstream sender's progress
//   <ia>/<unit>_YYMMDD_<ip>_<n>.ria            IA file
//   <workdir>/temp/<seconds>[_<n>].OLV         on-line export
#ifndef TESSEL_COMMON_SITEFILES_H
#define TESSEL_COMMON_SITEFILES_H

#include <cstdint>
#include <ctime>
#include <string>

namespace tessel {

inline constexpr char kVirtualDbDirName[] = "virtualdb";
inline constexpr char kOnlineExportDirName[] = "temp";
inline constexpr char kRecordFileExtension[] = ".RiaBase";
inline constexpr char kKeywordStoreName[] = "virtualdb.db";
inline constexpr char kIntakeJournalName[] = "intake.journal";
inline constexpr char kProgressFileExtension[] = ".spg";
inline constexpr char kIaFileExtension[] = ".ria";
inline constexpr char kOnlineExportExtension[] = ".OLV";
inline constexpr char kHandOffExtension[] = ".handoff";
inline constexpr char kHandedExtension[] = ".handed";
inline constexpr char kIaTempSuffix[] = "_tmp";
inline constexpr char kIaCounterSuffix[] = "_iaFileNum.dat";
inline constexpr char kUnappliedFileName[] = "unapplied.RiaBase";

// dir + name with exactly one separator between them (none is added when
// dir is empty or already ends in one).
std::string JoinPath(const std::string& dir, const std::string& name);

// The directory of a path: the text before its last separator ("." when it
// has none, "/" for a file at the root).
std::string DirOf(const std::string& path);

// True when text from outside (a client's IP key) can be part of a file
// name: no "/" and no control character, so that it can neither leave its
// directory nor make a name nobody can type.
bool IsSafeNamePart(const std::string& part);

// True when `name` ends in `extension`.
bool HasExtension(const std::string& name, const std::string& extension);

// The virtualdb directory of a site directory, ending in a separator.
std::string VirtualDbDirOf(const std::string& siteDir);

// Every kind of file the service keeps in a site's virtualdb directory (and
// the progress files under the working directory's), as its name tells it.
enum class SiteFileType {
  kDayFile,          // YYMMDD.RiaBase
  kIpFile,           // YYMMDD_<ip>.RiaBase
  kSetAsideDayFile,  // YYMMDD.RiaBase.<seconds>: a damaged day file set aside
  kHandOffNote,      // YYMMDD_<ip>.RiaBase.handoff
  kHandedNote,       // YYMMDD_<ip>.RiaBase.handed
  kIaTempFile,       // YYMMDD_<ip>.RiaBase_tmp: an IA file being made
  kIaCounter,        // YYMMDD_iaFileNum.dat
  kKeywordStore,     // virtualdb.db
  kIntakeJournal,    // intake.journal.<n>
  kUnapplied,        // unapplied.RiaBase
  kProgressFile,     // <host>_<port>.spg
};

// What a name tells beyond its type; the fields its type has not stay empty.
struct SiteFile {
  SiteFileType type = SiteFileType::kDayFile;
  std::string dayStamp;      // the six digits of every file of a day
  std::string ipKey;         // IP files and their hand-off notes and IA temporary files
  std::uint64_t number = 0;  // the journal's number; the second a file was set aside
  std::string server;        // a progress file's "<host>_<port>"
};

// The one reading of the names above: false for every other name, near
// misses included ("26120x.RiaBase", "261207_.RiaBase", "intake.journal.01").
// Each name is read the way the functions below make it.
bool ParseFileName(const std::string& name, SiteFile* file);

std::string DayFileName(const std::string& dir, const std::string& dayStamp);
// The day stamp of a day file's name ("261207.RiaBase"); false for any other
// name (an IP file's, say). ParseFileName, for the tools.
bool ParseDayFileName(const std::string& name, std::string* dayStamp);

// The IP file's own name, without a directory: the IA file's name is made
// from it.
std::string IpFileBaseName(const std::string& dayStamp, const std::string& ipKey);
std::string IpFileName(const std::string& dir, const std::string& dayStamp,
                       const std::string& ipKey);

// The note that a seat's IP file is being handed to the IA-file worker,
// beside the IP file: it names the IA file being made, so that a hand-off
// cut short by a crash is finished at the next start, never made twice.
std::string HandOffFileName(const std::string& ipFilePath);
// What the note becomes once its IA file is made and its IP file gone: it
// stays until no record of the seat can come back from the intake journal
// or the day files, so that none of them makes the IP file again.
std::string HandedFileName(const std::string& ipFilePath);

// The IA file being made from a record file, beside it.
std::string IaTempFileName(const std::string& sourcePath);

std::string KeywordStoreFileName(const std::string& dir);

std::string IaCounterFileName(const std::string& dir, const std::string& dayStamp);

std::string IntakeJournalFileName(const std::string& dir, std::uint64_t number);

// Where a damaged record file is moved, beside it, at time `when`.
std::string SetAsideFileName(const std::string& path, std::time_t when);

std::string ProgressFileName(const std::string& dir, const std::string& host,
                             unsigned short port);
// The "<host>_<port>" of a progress file's name; false for other names.
// ParseFileName, for the tools.
bool ParseProgressFileName(const std::string& name, std::string* server);

// The IA file of an IP file: "<iaDir>/<unit>_<IP file name>" is cut to 258
// characters and loses its extension (from the last "."), and "_<n>.ria" is
// added. False when no extension is left to cut, in which case no IA file
// can be named.
bool IaFileName(const std::string& iaDir, const std::string& unit, const std::string& ipFileName,
                int n, std::string* path);

// "<seconds>.OLV" for the first export of a second, "<seconds>_<n>.OLV"
// for the n-th after it.
std::string OnlineExportFileName(const std::string& dir, std::time_t second, int n);
// The second of a name OnlineExportFileName makes ("1796688000_2.OLV");
// false for any other name ("01796688000.OLV", "1796688000_0.OLV", "a.OLV").
bool ParseOnlineExportFileName(const std::string& name, std::time_t* second);

}  // namespace tessel

#endif
