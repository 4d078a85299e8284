// Capture files: loading a file into the packet store (own format, Network Monitor 1.x and 2.x,
// libpcap, pcapng) and writing the store in the own format, libpcap or pcapng.
//
// A loader never builds records: every frame read goes through the arrival handler like a
// captured one, so the summary fields are recomputed and the packet limit and the capture filters
// apply. The own format and Network Monitor files are little-endian; libpcap and pcapng files
// say their byte order in their first bytes.
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
    // Lets time pass while the capture thread is waited for.
    virtual void Wait(uint32_t milliseconds) = 0;
    // After StopCapture: waits (bounded) until the capture thread confirms that no driver runs
    // and no frame is being stored (AwaitCaptureStop, looking again after each Wait). False when
    // it did not confirm in time; the store must then be left alone.
    virtual bool AwaitCaptureStop();
    // Why the file gave no capture ("OpenCaptureFile - 'PATH': the file is empty"), for the host
    // to keep where the user can find it; the window puts it in the error log.
    virtual void LoadFailed(const char* reason) {}
    // Told once at the end of a load what it did not store and why (frames of link types that
    // are not decoded); the window shows and logs it, the command-line modes print it.
    virtual void LoadNotice(const char* text) {}

protected:
    ~LoadHost() = default;
};

// Stops a running capture (it is not resumed), waits for the capture thread to confirm it (the
// load fails, changing nothing, when it does not), clears the capture and reads the file with the
// reader its first bytes name (libpcap in either byte order with micro- or nanosecond times,
// pcapng, Network Monitor); when they name none, the reader its extension selects (".cap" and
// ".pcap", any letter case: Network Monitor; anything else: the own format). Anything but a
// regular file fails at once. True when the reader got a capture out of the file. Refused
// (false, nothing changed) while another load runs.
bool OpenCaptureFile(const char* path, LoadHost& host);

// What the current (or last) load found besides the frames it stored.
struct LoadFindings {
    uint32_t skippedFrames = 0;  // frames of link types that are not decoded
    bool originKnown = false;    // the file gave the wall-clock time of its first frame
    uint64_t originMicroseconds = 0;  // since 1970
};
LoadFindings& CurrentLoad();

inline constexpr const char* kSkippedFramesText =
    "%u frames of link types Tidewatch does not decode were skipped";

enum class CaptureFormat { Own, Pcap, PcapNg };

// The format a file name's extension names, any letter case: ".pcap" and ".cap" libpcap (the
// program writes no Network Monitor files), ".pcapng" pcapng, ".tdw" the own format. False for
// any other extension.
bool FormatOfExtension(const char* path, CaptureFormat& format);

// Writes every stored packet in that format. False when the file cannot be written.
bool WriteCapture(const char* path, CaptureFormat format);
// Writes in the format the extension names, the own format for any other name.
bool WriteCaptureFile(const char* path);

// Writes every stored packet in the own format ("w+b"). False only when the file cannot be
// opened; write errors are not looked at.
bool WriteOwnCapture(const char* path);
// libpcap (microseconds, little-endian) and pcapng: raw-IP frames with the raw link type,
// Ethernet frames with the Ethernet one; time stamps are the capture's wall-clock start (when
// known) plus each packet's time offset. A libpcap file holds one link type: when the store mixes
// both frame types, the raw-IP frames are written behind an Ethernet header of zero addresses.
bool WritePcapCapture(const char* path);
bool WritePcapNgCapture(const char* path);

// The readers, each given an open file at its start. The own-format reader is true for a file
// that ends cleanly between records (an empty file included); the others are true when at least
// one frame was read (handed to the arrival handler, or skipped for its link type).
bool ReadOwnCapture(FILE* file);
bool ReadNetMonCapture(FILE* file);
bool ReadPcapCapture(FILE* file);
bool ReadPcapNgCapture(FILE* file);
