#pragma once
// What a new file takes over from the file it stands in for or copies: its
// owner and group, mode, access list and other extended attributes.
#include "store/files/safefile.h"

#include <sys/types.h>

namespace tavlo {

// Extended attributes, access lists among them, of one file onto another,
// which loses those the first has not (a folder's default list gives new
// files one).
bool CopyAttributes(int from, int to);

// Gives the new file the old one's owner, group, attributes and mode; false
// when it cannot have them all.
bool TakeOver(int fd, const LockedFile &old);

enum class Sharing { Backup, Journal };
// Makes a copy of a file readable by the file's readers and no one else;
// false for a journal that cannot be made so (see copies.cpp).
bool ShareLike(int fd, const LockedFile &source, Sharing sharing);

// The mode a new file of this user's gets.
mode_t DefaultMode();

} // namespace tavlo
