// Whether an elevated run may follow a link, judged by who may change it:
// an owner may always change its object's permissions, an account with
// write data or write attributes on a folder may make it a mount point
// (FSCTL_SET_REPARSE_POINT), and one with DELETE on the link, or delete
// child on the folder that holds it, may swap it for another. Only
// Administrators, SYSTEM and TrustedInstaller are trusted: the running
// account counts as any other, since an unelevated process of the same
// person must not steer an elevated one.
#pragma once

#include <string>

#include "platform/win32.h"

// Empty when the link may be followed; otherwise why not, as a phrase that
// follows "a link" ("whose owner is ..."). parent may be null (a root).
// A NULL DACL lets everyone do everything; inherit-only entries are
// skipped; generic rights are mapped as for files; deny entries are
// ignored, which errs on the side of refusing.
std::string WhyLinkIsNotFollowed(PSECURITY_DESCRIPTOR link, PSECURITY_DESCRIPTOR parent);

// Empty when only Administrators, SYSTEM and TrustedInstaller own folder and
// may change what it holds (add, delete, or change its files' attributes or
// permissions); otherwise why not, as a phrase that follows "a folder".
// trustRunningUser counts the running account as trusted too (a test-only
// build under Wine).
std::string WhyFolderIsNotTrusted(PSECURITY_DESCRIPTOR folder, bool trustRunningUser = false);

// Whether folder's DACL gives any account but Administrators, SYSTEM and
// TrustedInstaller any access at all, reading included, now or to what is
// made in it later (inherit-only entries count). trustRunningUser as above.
bool FolderGivesOthersAccess(PSECURITY_DESCRIPTOR folder, bool trustRunningUser = false);

// Empty when Administrators, SYSTEM or TrustedInstaller own object, or,
// with runningAccountToo, the account the run runs as (on a share, the
// computer's account for a run as SYSTEM); otherwise why not, as a phrase
// that follows "a file".
std::string WhyOwnerIsNotTrusted(PSECURITY_DESCRIPTOR object, bool runningAccountToo);
// The same with the accounts named: runningAccount, and, for a run as SYSTEM
// or NETWORK SERVICE, computerAccount, which owns on a share what such a
// run makes there. Either may be null.
std::string WhyOwnerIsNotTrusted(PSECURITY_DESCRIPTOR object, PSID runningAccount,
                                 PSID computerAccount);
// The domain account of this computer (COMPUTER$); null outside a domain.
PSID ComputerAccount();

// Whether a folder opened as itself is a link: its handle shows a reparse
// point of a name-surrogate tag (a symbolic link or a junction; a OneDrive,
// cloud-files or deduplicated folder is none). Wine's handle of a Unix link
// shows no reparse point at all, only its name's attributes do: where the
// handle shows none, the name is a second signal. handleRead false: the
// handle could not be asked.
bool IsLinkFolder(bool handleRead, DWORD handleAttributes, DWORD reparseTag, DWORD namedAttributes);
