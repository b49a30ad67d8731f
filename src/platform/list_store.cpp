#include "platform/list_store.h"

#include "platform/durable_writes.h"
#include "platform/entry_removal.h"

bool ListFolder::RemoveIfEmpty() {
  std::string name = held_.Path();
  if (name.empty()) return false;
  name.pop_back();
  name = name.substr(name.find_last_of("\\/") + 1);
  held_ = HeldFolder();
  FolderEntry entry = FolderEntry::Absent;
  const HeldFolder base = HeldFolder::Open(ListBaseFolder(), &entry);
  if (entry != FolderEntry::Enter) return false;
  const Removal removal = RemoveEmptyFolder(base, name);
  if (removal == Removal::Absent) return true;
  if (removal != Removal::Removed) return false;
  DurableWrites written(base.Path());
  written.NoteFolder(base, false);
  return written.Flush();
}
