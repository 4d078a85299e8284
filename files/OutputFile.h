// The file a capture is saved to. Frame bytes are not copied on their way out: a record's small
// header is copied into a buffer of the file's own, the frame bytes are referred to where the
// store holds them, and both go to the kernel together, hundreds of pieces to a system call.
// Saving a full store through a stdio buffer copied every frame once more and cost as much as
// taking the frames in.
//
// Whole or not at all: the bytes go to a new file beside the target, which Finish flushes to the
// disk and renames over the target, so a failure (a full disk, a size limit) leaves an existing
// file as it was. A new file is readable by its owner only, since a capture holds other people's
// traffic; a file replaced keeps its owner's permissions, so a user who widened them keeps them.
#pragma once

#include <sys/uio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the new file when Finish was not reached: the target stays as it was.
    ~OutputFile();

    // Creates the new file beside the target; false (the reason in LastFailure and the log) when
    // the target is no regular file or the folder takes no new file.
    bool Create(const char* path);
    // Bytes copied now: the caller may reuse them at once.
    void Put(const void* data, size_t size);
    // Bytes that stay where they are, unchanged, until Finish: written from there.
    void PutInPlace(const void* data, size_t size);
    // Writes what is left, flushes it to the disk and puts the file in the target's place; false
    // when any step failed, the target then unchanged.
    bool Finish();

    // Why the last Create or Finish on this thread failed, in a few words ("No space left on
    // device"); empty after a success.
    static const std::string& LastFailure();

    // What Create would find wrong with the target, asked before a capture so that no frame is
    // taken for a file that cannot be written: a folder that is missing or takes no new file, a
    // target that is not a regular file (a FIFO, a device, a folder). True when all is well.
    static bool CheckTarget(const char* path, std::string& reason);

private:
    void Flush();
    void WriteAll(iovec* pieces, size_t count);
    bool Fail(const std::string& reason);

    int fd_ = -1;
    bool failed_ = false;
    int writeError_ = 0;
    std::string target_;     // where the file goes (a link's target when the path is a link)
    std::string temporary_;  // the new file until it is renamed
    std::array<iovec, 1024> pieces_;  // the most the kernel takes in one call
    size_t count_ = 0;
    std::array<uint8_t, 16384> copied_;
    size_t used_ = 0;
};
