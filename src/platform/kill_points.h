// The steps of a run where a kill leaves the disk in a state of its own.
// Tests stop a run at one of them, for the one path they name: killed there
// like a crash (QUORVEX_FAULT_KILL=<step>:<path part>), or held until a
// file appears (QUORVEX_FAULT_HOLD=<step>:<path part>:<file>), so that they
// can change the disk or the registry at that moment. While it waits, a
// held run shows that it is there with an empty file <file>.held.
//
// Natively these are the stand-in's, like its other faults. On Windows only
// a test-only build of the programs has them: the shipped ones link the
// empty version.
#pragma once

#include <string>

enum class KillPoint {
  ReadOnlyCleared,       // the destination's read-only attribute cleared for the replace
  CopyWritten,           // the temporary copy complete, not yet moved over the destination
  Moved,                 // the copy moved over the destination
  FlushReadOnlyCleared,  // the per-file flush cleared a file's read-only attribute
  IdenticalKept,         // an identical file found, what a copy would give it not yet given
  NoteWritten,           // what was there before noted, nothing written yet
  Flushed,               // everything durable, the list not yet written
  ListWritten,           // the list of installed files written, the version not yet recorded
  RecordRemoved,         // an uninstall removed the version record, nothing else yet
  FileRemoved,           // a file of a list removed, the next not yet
  FoldersRemoved,        // an uninstall removed the files and folders, not the list
  ListRemoved,           // the list and the note removed, not yet the lists' folder or keys
};

// The step's name in the variables: "readonly-cleared", "copy-written", ...
const char* KillPointName(KillPoint point);

// Kills or holds the run when a variable names point and a part of path.
void AtKillPoint(KillPoint point, const std::string& path);

// How long a run goes on before it shows its progress, in ms: a second.
// Tests set another time with QUORVEX_FAULT_PROGRESS_AT=<ms>: 0 shows
// every drawing at once, a long time none.
unsigned long ProgressShownAfter();

// How long a run may make no progress before it ends itself, in ms: a
// minute. Tests set a shorter time with QUORVEX_FAULT_STALL_AFTER=<ms>.
unsigned long StallDeadline();
