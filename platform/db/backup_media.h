// Backup media files of the embedded engine: one file holding one or more
// backup sets, appended one after the other (or the file rewritten, when a
// backup overwrites the media).
//
// File layout (all integers little-endian):
//   media header  "QZBKMEDIA" 0x1A, 6 zero bytes (16), u32 version = 1, u32 0
//   set*          "QZBKSET" 0x1A (8), u32 header length, header, payload, MAC (32)
// Set header:
//   u32 number (1, 2, ... in media order)   u8 kind (0 full, 1 differential)
//   u8 flags (bit 0: password-protected)    u32 base number (differential:
//   the full set it applies to; full: 0)    i64 created (Unix milliseconds)
//   u16 + bytes database name               u16 + bytes device name
//   salt (16)  nonce (12)  password check (32)  u64 payload length
// Payload:
//   full:          the database file's image (a SQLite database)
//   differential:  u32 page size, u32 page count of the new image,
//                  u32 changed pages, then per page u32 number (1-based)
//                  and the page's bytes: every page of the new image that
//                  differs from the base image or lies beyond its end
// MAC: HMAC-SHA-256 over header and payload as stored. Without a password
// its key is a fixed constant, so it is a checksum that finds damage; with
// a password, PBKDF2-HMAC-SHA-256 (20000 rounds, the set's salt) gives 96
// bytes: the ChaCha20 key that encrypts the payload, the MAC key, and a
// value whose SHA-256 is the password check (a wrong password is told apart
// from damage without decrypting anything).
//
// Invariants: a set is never changed once written; a writer that fails
// truncates the file back to its former length (or removes a new file).
//
// Thread-safety: functions are reentrant; callers serialise writers of one
// file (the engine's backup runs on one connection at a time).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz::db::media {

enum class SetKind : uint8_t { Full = 0, Differential = 1 };

struct SetInfo {
  uint32_t number = 0;
  SetKind kind = SetKind::Full;
  bool passwordProtected = false;
  uint32_t baseNumber = 0;
  int64_t createdMs = 0;
  std::string database;
  std::string device;
  // Where the set lies in the file (filled by readSets).
  uint64_t headerOffset = 0;
  uint64_t payloadOffset = 0;
  uint64_t payloadSize = 0;
};

// The sets of a media file in order. Throws DbError when the file cannot be
// read, is no backup media, or its structure is damaged (a set cut short,
// lengths beyond the end).
std::vector<SetInfo> readSets(const std::string& path);

// The verified, decrypted payload of a set. Throws DbError: the set is
// password-protected and no password was given; the password is wrong; the
// set fails its checksum (damaged media).
std::vector<uint8_t> readPayload(const std::string& path, const SetInfo& set,
                                 std::string_view password);

// Writes a set: appended to the media (a missing or empty file becomes new
// media; a file that is not backup media is refused), or replacing the file
// when overwrite. info.kind, baseNumber, database and device are taken from
// info; the number is assigned. Returns the set as written. Throws DbError;
// on failure the file is left as it was.
SetInfo writeSet(const std::string& path, bool overwrite, const SetInfo& info,
                 const std::vector<uint8_t>& payload, std::string_view password);

// The differential payload taking base to current (images of databases
// with the given page size).
std::vector<uint8_t> makeDifferential(const std::vector<uint8_t>& base,
                                      const std::vector<uint8_t>& current, uint32_t pageSize);
// base with a differential payload applied. Throws DbError when the payload
// is malformed.
std::vector<uint8_t> applyDifferential(const std::vector<uint8_t>& base,
                                       const std::vector<uint8_t>& diff);

}  // namespace qz::db::media
