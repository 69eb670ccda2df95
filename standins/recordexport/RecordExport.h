// The record export library: adds one identity record to a named output file
// (the on-line exports and the IA files). Each call opens the file, appends
// one entry and closes it again, so the file can be renamed or handed over
// right after the last call.
#ifndef TESSEL_STANDINS_RECORDEXPORT_H
#define TESSEL_STANDINS_RECORDEXPORT_H

extern "C" {

// path: the output file (created by the first call that names it);
// unit: the unit identity; unitHead: its first two characters; unitTail: the
// rest; record/length: the 1247 record bytes. The result is informative only.
int tagSepExporttoFile(const char* path, const char* unit, const char* unitHead,
                       const char* unitTail, const void* record, int length);

}

#endif
