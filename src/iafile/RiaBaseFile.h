// RiaBase record files: day files and per-seat IP files in the virtualdb
// directory, each a plain run of whole 1247-byte records.
#ifndef TESSEL_IAFILE_RIABASEFILE_H
#define TESSEL_IAFILE_RIABASEFILE_H

#include <ctime>
#include <string>
#include <vector>

#include "account/VirtualIdRecord.h"

// "%y%m%d" of the local date of t (261207 for 7 December 2026); empty when
// the time cannot be converted.
std::string DayStamp(std::time_t t);

// Local midnight of the date of t, and of the date after it (through the
// calendar, so a day with a daylight-saving change is not seen twice).
std::time_t LocalMidnight(std::time_t t);
std::time_t NextLocalMidnight(std::time_t t);

// The virtualdb directory: GetModuleDir() + "virtualdb/".
std::string VirtualDbDir();

// Path of the day file of a day stamp: VirtualDbDir() + stamp + ".RiaBase".
std::string DayFilePath(const std::string& dayStamp);

// Name of the IP file of a seat and day: stamp + "_" + ipKey + ".RiaBase".
std::string IpFileName(const std::string& dayStamp, const std::string& ipKey);

// dir + name with exactly one separator between them (none is added when
// dir is empty or already ends in one).
std::string JoinPath(const std::string& dir, const std::string& name);

// Appends the record with one write, creating the file when absent; the file
// is opened and closed for this record alone. A write that falls short (a
// full disk, a file-size limit) is cut back off the file and reported as a
// failure, so a record file never holds part of a record because of us.
bool AppendRecord(const std::string& path, const VirtualIdRecord& record);

// Reads the whole records of a file in file order; a short tail is ignored.
// False when the file cannot be opened.
bool ReadRecords(const std::string& path, std::vector<VirtualIdRecord>* records);

#endif
