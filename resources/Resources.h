// Resource identifiers and the string table: menu, accelerator table, command numbers, dialog
// templates, images and the texts the program shows.
#pragma once

namespace res {

// Menu, accelerators, images and icons.
inline constexpr int kMainMenu = 222;
inline constexpr int kAccelerators = 104;
inline constexpr int kToolbarBitmap = 9999;  // a strip of ten 16x16 images
inline constexpr int kAppIcon = 101;
inline constexpr int kCapturingIcon = 113;
inline constexpr int kStoppedIcon = 114;

// Dialog templates.
inline constexpr int kSplashDialog = 166;
inline constexpr int kAboutDialog = 167;
inline constexpr const char* kFindDialog = "IDD_FIND";
inline constexpr const char* kIpAddressDialog = "IDD_IPADDRESS";
inline constexpr const char* kPcapDeviceDialog = "IDD_PCAP_DEVICE";

// Commands the shell handles itself.
inline constexpr int kCmdExit = 40100;
inline constexpr int kCmdOpen = 40101;
inline constexpr int kCmdSave = 40102;
inline constexpr int kCmdRecentFile1 = 40103;  // to 40106
inline constexpr int kCmdHelp = 40130;
inline constexpr int kCmdAbout = 40134;
inline constexpr int kCmdCopy = 40141;

// Commands of the main window.
inline constexpr int kCmdStartCapture = 40002;
inline constexpr int kCmdStopCapture = 40003;
inline constexpr int kCmdModeRawSocket = 40004;
inline constexpr int kCmdPacketParser = 40005;
inline constexpr int kCmdRawData = 40006;
inline constexpr int kCmdClear = 40014;
inline constexpr int kCmdModeNetMon = 40016;
inline constexpr int kCmdAsciiData = 40018;
inline constexpr int kCmdFont = 40019;
inline constexpr int kCmdModePcap = 40021;
inline constexpr int kCmdAutoStart = 40025;
inline constexpr int kCmdAutoScroll = 40026;
inline constexpr int kCmdFind = 40030;
inline constexpr int kCmdFindNext = 40031;
inline constexpr int kCmdCaptureFilter = 40040;

// Controls of the dialogs.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdSystemInfo = 1002;  // About box
inline constexpr int kIdSplashVersion = 1001;
inline constexpr int kIdSplashNotice = 1003;
inline constexpr int kIdAboutProduct = 1004;
inline constexpr int kIdAboutVersion = 1005;
inline constexpr int kIdAboutImage = 1006;
inline constexpr int kIdFindText = 1002;    // Find dialog
inline constexpr int kIdFindButton = 1003;
inline constexpr int kIdFindCaseSensitive = 1004;
inline constexpr int kIdIpAddress = 1000;     // Capture IP Address
inline constexpr int kIdAdapterList = 1015;   // Select Network Adapter

// The string table.
inline constexpr int kStrScanRunning = 55302;
inline constexpr int kStrReady = 55309;
inline constexpr int kStrLegalNotice = 55321;

inline constexpr const char* kTextScanRunning =
    "A scan is running. Please stop the scan before opening a file.";
inline constexpr const char* kTextReady = " Ready";
inline constexpr const char* kTextLegalNotice =
    "Tidewatch records the traffic of the network it is attached to. Capture only on networks "
    "you are entitled to monitor, and treat what you capture as confidential.";

// The help file: the user manual, relative to the folder the "installdir" setting names or to
// the installed documentation folder.
inline constexpr const char* kHelpFile = "manual/index.html";
inline constexpr const char* kTextHelpMissing = "Error opening help file.  File '%s' not found.";

// The text of a string-table entry, empty for an unknown id.
const char* String(int id);

}  // namespace res
