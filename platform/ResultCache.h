// Results that are slow to compute and depend only on what their key spells out, kept between runs in the user's
// cache directory. An entry holds its whole key and a checksum, so a damaged, truncated, oversized, stale or foreign
// file is a miss, never a wrong answer; entries are written aside and renamed, so two viewers at once each see a
// whole entry or none. A directory that cannot be written (read-only, full, forbidden) is silently skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// "$XDG_CACHE_HOME/velmora-viewer", else "$HOME/.cache/velmora-viewer"; empty when neither is set to an absolute
// path (the cache is then off). A test may point it elsewhere through the same variables.
std::string ResultCacheDirectory();

// The value stored under key in directory (section names a family of entries: one file name space each), when the
// entry is whole, its key is exactly key and its value at most maxValueBytes. False otherwise.
bool LoadCachedResult(const std::string& directory, const std::string& section, const std::string& key,
                      std::size_t maxValueBytes, std::string& value);

// Stores value under key, replacing any entry of the same name. Failures are ignored: the cache is only a short cut.
void StoreCachedResult(const std::string& directory, const std::string& section, const std::string& key,
                       const std::string& value);

// A 64-bit FNV-1a digest, for keys built from large inputs (texture contents).
std::uint64_t ResultDigest(const void* data, std::size_t size, std::uint64_t digest = 14695981039346656037ull);

// What identifies the running program's code: its path, size, modification time and inode, so that a rebuilt
// program never reads an older one's entries.
std::string ProgramIdentity();
