#include "files/OutputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
}

bool OutputFile::Create(const char* path) {
    fd_ = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    failed_ = false;
    count_ = used_ = 0;
    return fd_ >= 0;
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
    Flush();
    const bool closed = fd_ >= 0 && close(fd_) == 0;
    fd_ = -1;
    return closed && !failed_;
}
