// Internal to the batch library: what it asks of the system beyond batch.h, in the
// files of each system (files_posix.cpp, files_windows.cpp).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "batch.h"

namespace batch {

// Writes all of `bytes` to `fd`: false at a failure, with errno.
bool write_all(int fd, std::string_view bytes);

// The `size` bytes of the regular file open as `fd`, mapped for reading at once, or
// nullptr (the file is then read).
const char* map_file(int fd, std::size_t size);
void unmap_file(const char* start, std::size_t size);

// In the plot folder. A new file `name` holding `bytes`, made afresh (never through a
// link, never what was there before): 0, or errno, and nothing left behind.
int write_new_file(const PlotFolder& folder, const std::string& name, std::string_view bytes);
// What `name` is, a link not followed (a link is FileKind::Other): 0, or errno.
int entry_info(const PlotFolder& folder, const std::string& name, FileInfo& info);
// Renames `from` onto `to`, replacing it: 0, or errno.
int rename_entry(const PlotFolder& folder, const std::string& from, const std::string& to);
void remove_entry(const PlotFolder& folder, const std::string& name);

// Whether `c` separates a folder's name from the names in it.
bool separates_names(char c);

// This process's number, for names of its own.
unsigned long long process_number();

}  // namespace batch

// POSIX systems (files_posix.cpp): names of any length. The system takes a name of at
// most PATH_MAX bytes in one call; a longer one is resolved one directory at a time.
namespace batch {

// Opens the directory that holds the last name of `path` (relative to the directory
// `base`, or AT_FDCWD) with O_PATH and sets `last` to that name ("." when `path` ends
// with "/"). -1 with errno.
int open_parent_at(int base, std::string_view path, std::string& last);
int open_parent(const std::string& path, std::string& last);

// What `name` in the directory `dir` is, its links followed or not: 0, or errno.
int info_at(int dir, const std::string& name, bool follow, FileInfo& info);

}  // namespace batch
