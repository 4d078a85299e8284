#include "files/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "framework/ErrorLog.h"

namespace {

std::string& LastFailureText() {
    thread_local std::string text;
    return text;
}

std::string SystemText(int error) { return std::strerror(error); }

// A link is written through, so that the link stays a link and its target gets the file.
std::string Resolve(const char* path) {
    struct stat info {};
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* real = realpath(path, nullptr)) {
            std::string resolved = real;
            std::free(real);
            return resolved;
        }
    }
    return path;
}

std::string FolderOf(const std::string& target) {
    const std::string folder = std::filesystem::path(target).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::string NotRegular(mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a folder, "
                       : S_ISFIFO(mode)                 ? "a FIFO, "
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device, "
                       : S_ISSOCK(mode)                 ? "a socket, "
                                                        : "";
    return std::string("it is ") + kind + "not a regular file";
}

// What stands in the way before anything is created; empty when nothing does. Only looked at,
// never opened: opening a FIFO that nobody reads would wait for ever.
std::string TargetProblem(const std::string& target) {
    const std::string folder = FolderOf(target);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        return errno == ENOENT ? "the folder " + folder + " does not exist"
                               : folder + ": " + SystemText(errno);
    }
    if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
    if (stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) return NotRegular(info.st_mode);
        // Replacing it by a rename would get round the file's own permissions.
        if (access(target.c_str(), W_OK) != 0) return SystemText(errno);
    } else if (errno != ENOENT) {
        return SystemText(errno);
    }
    return {};
}

// The new file's name: hidden, beside the target (a rename never crosses file systems), unique.
std::string TemporaryTemplate(const std::string& target) {
    std::string name = std::filesystem::path(target).filename().string();
    // Room for the dot and the suffix within a file name's limit.
    if (name.size() > NAME_MAX - 16) name.resize(NAME_MAX - 16);
    return FolderOf(target) + "/." + name + ".XXXXXX";
}

}  // namespace

const std::string& OutputFile::LastFailure() { return LastFailureText(); }

bool OutputFile::CheckTarget(const char* path, std::string& reason) {
    const std::string target = Resolve(path);
    reason = TargetProblem(target);
    if (!reason.empty()) return false;
    // Trying is the only sure test: permissions, a read-only mount, a full inode table.
    std::string probe = TemporaryTemplate(target);
    const int fd = mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = "cannot create a file in " + FolderOf(target) + ": " + SystemText(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool OutputFile::Fail(const std::string& reason) {
    LastFailureText() = reason;
    const std::string line = "OutputFile - cannot write '" + target_ + "': " + reason;
    Report(nullptr, 0, line.c_str(), 3);
    return false;
}

bool OutputFile::Create(const char* path) {
    LastFailureText().clear();
    failed_ = false;
    writeError_ = 0;
    count_ = used_ = 0;
    target_ = Resolve(path);
    if (const std::string problem = TargetProblem(target_); !problem.empty()) {
        return Fail(problem);
    }
    temporary_ = TemporaryTemplate(target_);
    // Created 0600 whatever the umask.
    fd_ = mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        return Fail("cannot create a file in " + FolderOf(target_) + ": " + SystemText(error));
    }
    struct stat existing {};
    if (stat(target_.c_str(), &existing) == 0) {
        fchmod(fd_, existing.st_mode & 07777);
        // Saved by root over a user's file: the file stays the user's.
        if (geteuid() == 0) (void)fchown(fd_, existing.st_uid, existing.st_gid);
    }
    return true;
}

void OutputFile::Put(const void* data, size_t size) {
    if (size == 0) return;
    if (size > copied_.size()) {
        Flush();
        iovec piece{const_cast<void*>(data), size};
        WriteAll(&piece, 1);
        return;
    }
    if (copied_.size() - used_ < size || count_ == pieces_.size()) Flush();
    uint8_t* at = copied_.data() + used_;
    std::memcpy(at, data, size);
    used_ += size;
    // Pieces copied one after the other go out as one.
    if (count_ > 0 && static_cast<uint8_t*>(pieces_[count_ - 1].iov_base) +
                              pieces_[count_ - 1].iov_len == at) {
        pieces_[count_ - 1].iov_len += size;
        return;
    }
    pieces_[count_++] = {at, size};
}

void OutputFile::PutInPlace(const void* data, size_t size) {
    if (size == 0) return;
    if (count_ == pieces_.size()) Flush();
    pieces_[count_++] = {const_cast<void*>(data), size};
}

void OutputFile::Flush() {
    WriteAll(pieces_.data(), count_);
    count_ = used_ = 0;
}

void OutputFile::WriteAll(iovec* pieces, size_t count) {
    while (count > 0 && fd_ >= 0 && !failed_) {
        const ssize_t written = writev(fd_, pieces, static_cast<int>(count));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            failed_ = true;
            writeError_ = written < 0 ? errno : EIO;
            return;
        }
        // A short write: what went out is skipped and the rest written from where it stopped.
        auto left = static_cast<size_t>(written);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
}

bool OutputFile::Finish() {
    if (fd_ < 0) return false;  // Create failed and said why
    Flush();
    int error = failed_ ? writeError_ : 0;
    // On the disk before it takes the target's place: a crash then leaves the old file or the
    // whole new one, never a name pointing at half a file.
    if (!error && fsync(fd_) != 0) error = errno;
    if (close(fd_) != 0 && !error) error = errno;
    fd_ = -1;
    if (!error && rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    if (error) {
        unlink(temporary_.c_str());
        temporary_.clear();
        return Fail(SystemText(error));
    }
    temporary_.clear();
    // The rename itself on the disk.
    const int folder = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}
