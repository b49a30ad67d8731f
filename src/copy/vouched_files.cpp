#include "copy/vouched_files.h"

bool VouchedFiles::Unchanged(const FileToWrite& file) {
  if (!lists_ || !lists_->MaySkip() || !file.folder) return false;
  Looked& looked = looked_.emplace(file.folder, Looked(*file.folder)).first->second;
  if (looked.vouch < 0) looked.vouch = looked.identities.Vouch() ? 1 : 0;
  return lists_->Unchanged(file.sourceFolder, file.name, file.listed, looked.identities,
                           looked.vouch == 1);
}

bool VouchedFiles::LeftByLastInstall(const FileToWrite& file) {
  if (!lists_ || !file.folder) return false;
  const InstalledFile* entry = lists_->Listed(file.sourceFolder, file.name);
  if (!entry || entry->origin != FileOrigin::Installed) return false;
  Looked& looked = looked_.emplace(file.folder, Looked(*file.folder)).first->second;
  FileIdentity found;
  return looked.identities.Find(file.name, found) && found == entry->destination;
}
