#include "resources/Menus.h"

#include "resources/Resources.h"

namespace res {

const std::vector<MenuEntry>& MainMenu() {
    static const std::vector<MenuEntry> menu = {
        {"&File", 0,
         {
             {"&Open...\tCtrl+O", kCmdOpen, {}},
             {"&Save...\tCtrl+S", kCmdSave, {}},
             {nullptr, 0, {}},  // the recent files go in front of this separator
             {"E&xit", kCmdExit, {}},
         }},
        {"&Edit", 0,
         {
             {"&Copy\tCtrl+C", kCmdCopy, {}},
             {"&Clear\tShift+Del", kCmdClear, {}},
             {nullptr, 0, {}},
             {"&Find\tCtrl+F", kCmdFind, {}},
             {"Find &Next\tF3", kCmdFindNext, {}},
         }},
        {"&View", 0,
         {
             {"&Packet Parser\tF9", kCmdPacketParser, {}},
             {"Raw &Data\tF10", kCmdRawData, {}},
             {"&ASCII Data\tF11", kCmdAsciiData, {}},
             {nullptr, 0, {}},
             {"Auto &Scroll\tCtrl+A", kCmdAutoScroll, {}},
             {"&Font", kCmdFont, {}},
         }},
        {"&Capture", 0,
         {
             {"&Start\tF5", kCmdStartCapture, {}},
             {"Sto&p\tF6", kCmdStopCapture, {}},
             {nullptr, 0, {}},
             {"&Mode", 0,
              {
                  {"&IP Capture (Windows 2000, XP)", kCmdModeRawSocket, {}},
                  {"&Network Monitor Driver", kCmdModeNetMon, {}},
                  {"WinPCap", kCmdModePcap, {}},
              }},
             {nullptr, 0, {}},
             {"Capture &Filter...", kCmdCaptureFilter, {}},
         }},
        {"&Options", 0,
         {
             {"&Start Capture on Load", kCmdAutoStart, {}},
         }},
        {"&Help", 0,
         {
             {"&About...", kCmdAbout, {}},
         }},
    };
    return menu;
}

const std::vector<Accelerator>& AcceleratorTable() {
    static const std::vector<Accelerator> table = {
        {Qt::ControlModifier, Qt::Key_O, kCmdOpen},
        {Qt::ControlModifier, Qt::Key_S, kCmdSave},
        {Qt::ControlModifier, Qt::Key_C, kCmdCopy},
        {Qt::ShiftModifier, Qt::Key_Delete, kCmdClear},
        {Qt::ControlModifier, Qt::Key_F, kCmdFind},
        {Qt::NoModifier, Qt::Key_F3, kCmdFindNext},
        {Qt::NoModifier, Qt::Key_F9, kCmdPacketParser},
        {Qt::NoModifier, Qt::Key_F10, kCmdRawData},
        {Qt::NoModifier, Qt::Key_F11, kCmdAsciiData},
        {Qt::ControlModifier, Qt::Key_A, kCmdAutoScroll},
        {Qt::NoModifier, Qt::Key_F5, kCmdStartCapture},
        {Qt::NoModifier, Qt::Key_F6, kCmdStopCapture},
    };
    return table;
}

}  // namespace res
