// Reader of the files the record export library writes (the on-line exports
// and the IA files): one text line per record, layout in
// docs/record-export-format.md.
#ifndef TESSEL_TOOLS_RECORDEXPORTREADER_H
#define TESSEL_TOOLS_RECORDEXPORTREADER_H

#include <string>
#include <vector>

#include "record/VirtualIdRecord.h"

// One line of an export file. The text fields are as written, that is with
// control bytes shown as blanks; `record` holds the exact bytes.
struct RecordExportEntry {
  std::string unit;
  std::string unitHead;
  std::string unitTail;
  int infoType = 0;
  std::string prefix;
  std::string account;
  VirtualIdRecord record;
};

// Parses one line, with or without its "\r\n". False when the line does not
// have the seven fields, the info type is not a decimal number, or the last
// field is not 2494 hexadecimal digits.
bool ParseRecordExportLine(const std::string& line, RecordExportEntry* entry);

// Reads every line of an export file in file order. False when the file
// cannot be opened or a line cannot be parsed (the entries before it are
// kept in `entries`).
bool ReadRecordExportFile(const std::string& path, std::vector<RecordExportEntry>* entries);

#endif
