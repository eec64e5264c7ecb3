// The DOS attribute bits of files and folders (hidden, system, archive) as
// the file helpers keep them: in the extended attribute user.DOSATTRIB in the
// layout Samba uses, so a share served by Samba shows the same bits, and in a
// table of this process where the file system refuses extended attributes.
// Only tlFile and its tests call this unit; everyone else asks tlFile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;

// The bits kept in the extended attribute; read-only and directory come from
// the file's mode instead.
constexpr int kStoredDosBits = faHidden | faSysFile | faArchive;

struct TDosAttrib {
  std::uint32_t attrib = 0;
  std::optional<std::uint64_t> createTime;  // NT time, kept when rewriting
};

// Decodes a user.DOSATTRIB value: the old text form ("0x22") or the binary
// form with versions 1 to 5. Empty when the value is not understood.
std::optional<TDosAttrib> DecodeDosAttrib(const std::string& blob);

// The version 5 binary form, as current Samba writes it.
std::string EncodeDosAttrib(const TDosAttrib& value);

// The stored bits of `path` (kStoredDosBits only); 0 when none are stored.
int ReadStoredDosBits(const std::string& path);

// Stores `bits` (kStoredDosBits only) for `path`. Where the file system
// refuses extended attributes the bits go to this process's own table, so
// the call fails only when `path` does not exist.
bool WriteStoredDosBits(const std::string& path, int bits);

// Forgets what this process's table holds for `path` (before it is deleted,
// so a later file that reuses the inode does not inherit its bits).
void ForgetStoredDosBits(const std::string& path);

// Makes the unit behave as on a file system that refuses extended
// attributes: for tests of the fallback and for volumes known to lack them.
void SetExtendedAttributesRefused(bool refused);
