// The file a capture is saved to. Frame bytes are not copied on their way out: a record's small
// header is copied into a buffer of the file's own, the frame bytes are referred to where the
// store holds them, and both go to the kernel together, hundreds of pieces to a system call.
// Saving a full store through a stdio buffer copied every frame once more and cost as much as
// taking the frames in.
#pragma once

#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <cstdint>

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Creates or truncates the file; false when it cannot be opened for writing.
    bool Create(const char* path);
    // Bytes copied now: the caller may reuse them at once.
    void Put(const void* data, size_t size);
    // Bytes that stay where they are, unchanged, until Finish: written from there.
    void PutInPlace(const void* data, size_t size);
    // Writes what is left and closes the file; false when any write failed.
    bool Finish();

private:
    void Flush();
    void WriteAll(iovec* pieces, size_t count);

    int fd_ = -1;
    bool failed_ = false;
    std::array<iovec, 1024> pieces_;  // the most the kernel takes in one call
    size_t count_ = 0;
    std::array<uint8_t, 16384> copied_;
    size_t used_ = 0;
};
