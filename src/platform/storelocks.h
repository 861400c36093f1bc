// Record locks of SQLite files that no other descriptor of the same file can take away.
#pragma once

namespace lapido {

// Makes every SQLite connection of this process lock its files with locks that belong to one
// open file description per file instead of to the process (Linux's open file description
// locks). A close() of any other descriptor of the file anywhere in the process (a file dialog
// reading the first bytes of the files it lists) then leaves them in place. They conflict with
// the classic record locks other programs' SQLite takes exactly as those conflict with each
// other, so companion programs share the store as before.
//
// Must run before the process opens its first SQLite connection (the settings store does it
// at its first open). Idempotent and thread-safe. Returns false, changing nothing, when the
// system has no such locks: the store then holds no connection between two operations.
bool useDescriptionLocks();

} // namespace lapido
