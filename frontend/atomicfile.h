// Replacing a file atomically: the new contents go to a temporary file in the
// target's folder, which is renamed over the target only once it is complete
// and on disk. On any failure, and when the object goes away uncommitted (an
// exception, a stopped operation), the temporary file is removed and the
// target is left exactly as it was; a process killed by a signal removes it
// on the way out too.
//
//   tamo::AtomicFile file(path);
//   if (!file.ok()) fail(file.error());
//   ... write everything through file.fd() ...
//   if (!file.commit()) fail(file.error());
#pragma once

#include <string>

namespace tamo {

class AtomicFile {
public:
    // Creates the temporary file beside `target` (beside the file a symbolic
    // link points to, so that the link stays). It gets the target's
    // permissions when the target exists, the default ones otherwise. A
    // target that exists but is not a regular file (a device, a pipe) cannot
    // be replaced: it is opened and written in place. A target this process
    // may not write (a read-only file) is refused, as a plain write would be.
    explicit AtomicFile(const std::string &target);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // True while the temporary file is open for writing.
    bool ok() const { return fd_ >= 0; }
    // Descriptor of the temporary file; it stays owned by this object.
    int fd() const { return fd_; }
    // Name of the temporary file.
    const std::string &temporaryPath() const { return temporary_; }
    // The reason of the last failure (the system's text, such as "File too
    // large"), empty when there was none.
    const std::string &error() const { return error_; }

    // Flushes the temporary file to disk, closes it and renames it over the
    // target. False after a failure (see error()); the temporary file is
    // then gone and the target untouched.
    bool commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    std::string target_;
    std::string temporary_;
    std::string error_;
    int fd_ = -1;
    bool inPlace_ = false;
};

}  // namespace tamo
