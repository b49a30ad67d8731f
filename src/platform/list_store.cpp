#include "platform/list_store.h"

#include "platform/durable_writes.h"
#include "platform/entry_removal.h"
#include "platform/held_path.h"

bool ListFolder::RemoveIfEmpty() {
  std::string name = held_.Path();
  if (name.empty()) return false;
  name.pop_back();
  name = name.substr(name.find_last_of("\\/") + 1);
  held_ = HeldFolder();
  HeldPath along;
  if (along.Walk(ListBaseFolder()) != FolderEntry::Enter) return false;
  const HeldFolder& base = along.Last();
  const Removal removal = RemoveEmptyFolder(base, name);
  if (removal == Removal::Absent) return true;
  if (removal != Removal::Removed) return false;
  DurableWrites written(base.Path());
  written.NoteFolder(base, false);
  return written.Flush();
}
