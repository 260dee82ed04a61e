// A folder that ordinary users can write, held open while the service works in
// it. The service runs with the highest privilege, so everything in such a
// folder is hostile: a file is only ever reached by its plain name relative to
// the open folder, never through a link, and only a regular file with one name
// is read, renamed, deleted or replaced. Anything else is left as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// What a folder entry is; everything but kFile and kFolder is left alone.
enum class EntryKind {
  kFile,          // a regular file with one name
  kFolder,        // a folder that is no link
  kLink,          // a symbolic link, or a name that leads out of the folder
  kReparsePoint,  // a junction, mount point or other reparse point
  kSpecial,       // a FIFO, socket or device
  kHardLinks,     // a regular file with more than one name
  kBadName,       // ".", "..", or a name holding "\", "/" or a control character
};

// The most entries a listing holds: a folder a user fills with more is not
// read further (kErrorMoreData, the entries found kept).
constexpr size_t kMaxFolderEntries = 100000;

// Why an entry is left alone, for the log ("a symbolic link").
const char* EntryKindText(EntryKind kind);

// A name the folder handle acts on: not empty, not "." or "..", and without
// "\", "/" or control characters.
bool IsPlainName(const std::string& name);

// The parts of a path between its separators ("\" or "/"), with empty parts
// and "." left out: what OpenFolder walks through one at a time.
std::vector<std::string> PathParts(const std::string& path);

// The status a call on a file gives for an entry of this kind (kSuccess for kFile).
Status FileRefusal(EntryKind kind);

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::kFile;
};

// One state of a file: it changed when its size or modification time did.
struct FileIdentity {
  uint64_t size = 0;
  int64_t modified = 0;  // in the backend's own unit
  bool operator==(const FileIdentity& other) const {
    return size == other.size && modified == other.modified;
  }
};

// An open folder. Names are plain names of its entries. Every call on a file
// refuses anything but a regular file with one name: kErrorStoppedOnSymlink for
// a link or reparse point, kErrorBadFileType for a FIFO, socket or device,
// kErrorTooManyLinks for a second name, kErrorInvalidName for a name that is not
// plain, kErrorAccessDenied for a folder. Nothing blocks on a special file.
// Destroying the object closes the folder.
class Folder {
 public:
  virtual ~Folder() = default;
  // Every entry but "." and "..", with its kind, in the order the file system
  // gives them, at most kMaxFolderEntries. An error part-way keeps the entries
  // found before it.
  virtual Status List(std::vector<FolderEntry>* entries) = 0;
  // A folder inside this one, itself no link.
  virtual Status OpenFolder(const std::string& name, std::unique_ptr<Folder>* folder) = 0;
  // The whole file and the state it was read in; kErrorInvalidData when it is
  // larger than maxSize bytes (nothing is read then).
  virtual Status ReadFile(const std::string& name, uint64_t maxSize, std::string* data,
                          FileIdentity* identity) = 0;
  // The state of a file without opening it for reading.
  virtual Status Identify(const std::string& name, FileIdentity* identity) = 0;
  // Writes data into a new file of this folder (created exclusively), flushes it
  // and renames it over name: a reader sees the old content or the new, and a
  // link at name is never written through. The new file keeps the owner and
  // mode of the old one; a missing file is created.
  virtual Status ReplaceFile(const std::string& name, const std::string& data) = 0;
  // Renames a file to newName in target (this folder when null); never
  // replaces an entry (kErrorAlreadyExists).
  virtual Status RenameFile(const std::string& name, const std::string& newName, Folder* target) = 0;
  virtual Status DeleteFile(const std::string& name) = 0;
  // The folder that does the work, for a wrapper to hand to the backend.
  virtual Folder* Backend() { return this; }
};

// Opens the folder at path below start, one part at a time, each with
// Folder::OpenFolder: no part may be a link, a reparse point or "..".
Status WalkFolders(std::unique_ptr<Folder> start, const std::string& path, std::unique_ptr<Folder>* folder);

}  // namespace platform
