// Capture files: loading a file into the packet store (own format, Network Monitor 1.x and 2.x,
// libpcap) and writing the store in the own format.
//
// A loader never builds records: every frame read goes through the arrival handler like a
// captured one, so the summary fields are recomputed and the packet limit and the capture filters
// apply. All multi-byte integers of the three formats are little-endian.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

// The load state beside the packet store. Written by the interface thread only.
// 1 while OpenCaptureFile runs; a second open is refused meanwhile.
extern std::atomic<int32_t> loadInProgress;
// 0 while a file is being read: the Start command refuses to start a capture then, so that the
// arrival handler has a single source.
extern std::atomic<int32_t> captureAllowed;

inline constexpr const char* kFileParsingError =
    "File parsing error. The File could not be opened.";

// The largest frame any format may hand over, and the size of each reader's one frame buffer.
inline constexpr uint32_t kMaxFrameLength = 65535;
inline constexpr uint32_t kFrameBufferSize = 65536;

// What a load needs of its owner: the window empties its list and detail pane, the headless
// modes have nothing to empty.
class LoadHost {
public:
    // Empties the packet list and the detail pane, clears the store (ClearStore) and `unsaved`.
    virtual void ClearCapture() = 0;
    // Gives the capture thread time to stop the driver after StopCapture.
    virtual void Wait(uint32_t milliseconds) = 0;
    // Why the file gave no capture ("OpenCaptureFile - 'PATH': the file is empty"), for the host
    // to keep where the user can find it; the window puts it in the error log.
    virtual void LoadFailed(const char* reason) {}

protected:
    ~LoadHost() = default;
};

// Stops a running capture (it is not resumed), clears the capture and reads the file with the
// reader its extension selects (".cap" and ".pcap", any letter case: Network Monitor or libpcap;
// anything else: the own format). True when the reader got a capture out of the file; otherwise
// the host is told why. Refused (false, nothing changed) while another load runs.
bool OpenCaptureFile(const char* path, LoadHost& host);

// Writes every stored packet in the own format ("w+b"). False only when the file cannot be
// opened; write errors are not looked at.
bool WriteOwnCapture(const char* path);

// The readers, each given an open file at its start. The own-format reader is true for a file
// that ends cleanly between records (an empty file included); the other two are true when at
// least one frame was handed to the arrival handler.
bool ReadOwnCapture(FILE* file);
bool ReadNetMonCapture(FILE* file);  // also hands a libpcap file found under ".cap" on
bool ReadPcapCapture(FILE* file);
