#include "platform/kill_points.h"
#include "platform/test_trust.h"

#include <stdlib.h>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

namespace {

// The exit code of a run killed at a step, as a shell reports a SIGKILL.
const UINT kKilledExitCode = 137;

// "<step>:<path part>" or "<step>:<path part>:<rest>" from variable, for
// point and path: true with rest set when it names them.
bool Names(const char* variable, KillPoint point, const std::string& path, std::string& rest) {
  const char* value = getenv(variable);
  if (!value) return false;
  const std::string text = value;
  const std::string step = KillPointName(point);
  if (text.compare(0, step.size(), step) != 0 || text.size() <= step.size() ||
      text[step.size()] != ':') {
    return false;
  }
  const size_t partStart = step.size() + 1;
  const size_t partEnd = text.find(':', partStart);
  const std::string part = text.substr(partStart, partEnd - partStart);
  if (part.empty() || path.find(part) == std::string::npos) return false;
  rest = partEnd == std::string::npos ? "" : text.substr(partEnd + 1);
  return true;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Hold(const std::string& release) {
  ScopedHandle(CreateFileA((release + ".held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  while (!Exists(release)) Sleep(10);
}

}  // namespace

const char* KillPointName(KillPoint point) {
  switch (point) {
    case KillPoint::ReadOnlyCleared: return "readonly-cleared";
    case KillPoint::CopyWritten: return "copy-written";
    case KillPoint::Moved: return "moved";
    case KillPoint::FlushReadOnlyCleared: return "flush-readonly-cleared";
    case KillPoint::IdenticalKept: return "identical-kept";
    case KillPoint::NoteWritten: return "note-written";
    case KillPoint::Flushed: return "flushed";
    case KillPoint::ListWritten: return "list-written";
    case KillPoint::RecordRemoved: return "record-removed";
    case KillPoint::FileRemoved: return "file-removed";
    case KillPoint::FoldersRemoved: return "folders-removed";
    case KillPoint::ListRemoved: return "list-removed";
  }
  return "";
}

void AtKillPoint(KillPoint point, const std::string& path) {
  std::string rest;
  if (Names("QUORVEX_FAULT_KILL", point, path, rest)) {
    TerminateProcess(GetCurrentProcess(), kKilledExitCode);
  }
  if (Names("QUORVEX_FAULT_HOLD", point, path, rest) && !rest.empty()) Hold(rest);
}

bool TestBuildTrustsRunningUser() { return getenv("QUORVEX_TRUST_RUNNING_USER") != nullptr; }

unsigned long ProgressShownAfter() {
  const char* at = getenv("QUORVEX_FAULT_PROGRESS_AT");
  return at ? strtoul(at, nullptr, 10) : 1000;
}

unsigned long StallDeadline() {
  const char* after = getenv("QUORVEX_FAULT_STALL_AFTER");
  return after ? strtoul(after, nullptr, 10) : 60000;
}
