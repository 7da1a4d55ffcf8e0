// SpoolFile: one sample on its way to the API host, kept in data/temp.
//
// A spool file is named "<milliseconds>.txt" and holds the comma-joined value
// records of one sample. It is written under a temporary name that ends in
// ".writing" (which the uploader never takes), forced to the disk and only
// then renamed, so a crash leaves either the complete file or a temporary that
// the next start removes, never a partial ".txt". The folder is flushed after
// the rename, so a power cut cannot undo a rename that was reported done.
//
// Every file operation goes through the environment it is handed. The
// functions keep no state of their own and are safe from any thread; a
// SpoolWriter is used by one thread (the sampler) at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/env.h"

extern const char kSpoolExtension[];      // ".txt"
extern const char kSpoolTempExtension[];  // ".writing"

// True for a name that the uploader sends, one the sampler gives: decimal
// digits followed by ".txt". Anything else in the folder was put there by
// someone else and is left alone.
bool IsSpoolFileName(const std::string& name);

// True for the temporary of a write under way or cut short: it ends in
// ".writing".
bool IsSpoolTemporaryName(const std::string& name);

// Sorts spool file names oldest first: names made of digits by their number
// (so "999.txt" comes before "1000.txt"), any other name after them by text.
void SortSpoolNames(std::vector<std::string>* names);

// Deletes every temporary that an interrupted write left in folder. Returns
// the number removed.
int RemoveSpoolTemporaries(platform::Env* env, const std::string& folder);

// The number of the newest spool file in folder (the largest all-digit name),
// or 0 when there is none or the folder cannot be listed.
int64_t HighestSpoolNumber(platform::Env* env, const std::string& folder);

// Writes the spool files of one run. Names never go backwards, not even
// across a restart with the clock set back: a sample gets the larger of the
// current millisecond and the previous name plus one, where the first write
// of a run takes the newest name already in the folder as the previous one;
// and when that name is taken the next free one.
class SpoolWriter {
 public:
  // Writes content as a new spool file in folder named after nowMs. On
  // success sets *path to the final path. On failure (the folder's flush
  // included) leaves no file behind, sets *error to what failed and why
  // ("cannot write <path>: <cause>") and returns false.
  bool Write(platform::Env* env, const std::string& folder, const std::string& content,
             int64_t nowMs, std::string* path, std::string* error);

 private:
  int64_t lastNumber_ = 0;  // the number of the last name given or found
  bool seeded_ = false;     // lastNumber_ has taken in the folder's newest name
};
