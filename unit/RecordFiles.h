// The file-system calls a report folder makes, behind one small interface with a POSIX side
// (RecordFilesPosix.cpp) and a Win32 side (RecordFilesWin32.cpp); the build takes exactly one.
// What is written when, and what a failure means, is ReportFolder's policy, written once. Nothing
// here prints: a failing call gives the system's reason, worded for the operator.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace irdload::unit {

/// A temporary file in a record folder, open, hidden by its name (".record-XXXXXX"), marked as
/// held by a live writer. Removed when the object goes, unless it was given its name.
class TempRecordFile {
 public:
  ~TempRecordFile();
  TempRecordFile(const TempRecordFile&) = delete;
  TempRecordFile& operator=(const TempRecordFile&) = delete;

  /// Sets aside room for `bytes` in all: the file system allocates them now, so that a later
  /// write of no more than that cannot find the disk full. False with the reason.
  bool Reserve(std::uint64_t bytes, std::string* why);
  std::uint64_t reserved() const { return reserved_; }
  /// The file holds `text` and nothing more, synced to the disk; room set aside beyond it is
  /// given back.
  bool Write(const std::string& text, std::string* why);
  /// Gives the file `name` in its folder, never in place of another file: false with `taken`
  /// set when the name is in use, or with the reason. The file is closed once named.
  bool Name(const std::string& name, bool* taken, std::string* why);

 private:
  friend class RecordFolderFiles;
  struct Os;  // each platform's handle and names
  explicit TempRecordFile(std::unique_ptr<Os> os);
  std::unique_ptr<Os> os_;
  std::uint64_t reserved_ = 0;
};

/// A report folder, held open while records go into it.
class RecordFolderFiles {
 public:
  RecordFolderFiles();
  ~RecordFolderFiles();
  RecordFolderFiles(const RecordFolderFiles&) = delete;
  RecordFolderFiles& operator=(const RecordFolderFiles&) = delete;

  /// Makes the folder (and its parents) when it is missing, and holds it open.
  bool Open(const std::string& path, std::string* why);
  /// False with the reason when the folder no longer stands at its path: removed, or another
  /// folder put in its place.
  bool StillThere(std::string* why) const;
  /// Syncs the folder itself, so that the names given in it survive a power cut.
  bool Sync(std::string* why);
  /// A new temporary file in the folder; null with the reason.
  std::unique_ptr<TempRecordFile> CreateTemp(std::string* why);
  /// Removes the temporary files that no live writer holds, left behind by a run that was
  /// killed; files younger than a minute stay (a writer may be about to mark its own).
  void RemoveAbandonedTemps();
  /// Removes `name` from the folder, as far as it can.
  void Remove(const std::string& name);
  /// Appends `line` to the file `name` in one write and syncs it; a file that is new or empty
  /// gets `header` first. A write that the disk cut short is undone, so that the file never
  /// holds half a line. Appends from this process's threads never interleave.
  bool Append(const std::string& name, const std::string& header, const std::string& line,
              std::string* why);
  /// False with the reason when `name` could not be appended to (or made).
  bool CanAppend(const std::string& name, std::string* why) const;

 private:
  struct Os;
  std::unique_ptr<Os> os_;
};

}  // namespace irdload::unit
