#include "resources/DialogTemplates.h"

#include <cstring>

#include "resources/Resources.h"

namespace res {

namespace {

const std::vector<DialogTemplate>& Templates() {
    static const std::vector<DialogTemplate> templates = {
        {kSplashDialog, nullptr, "Tidewatch", 220, 112, false,
         {
             {kIdAboutImage, ItemKind::Picture, "", 8, 8, 32, 32},
             {kIdAboutProduct, ItemKind::Static, "Tidewatch", 48, 10, 164, 14},
             {kIdSplashVersion, ItemKind::Static, "", 48, 26, 164, 10},
             {kIdSplashNotice, ItemKind::Static, "", 8, 46, 204, 60},
         }},
        {kAboutDialog, nullptr, "About Tidewatch", 220, 84, true,
         {
             {kIdAboutImage, ItemKind::Picture, "", 8, 8, 32, 32},
             {kIdAboutProduct, ItemKind::Static, "Tidewatch", 48, 10, 164, 14},
             {kIdAboutVersion, ItemKind::Static, "", 48, 26, 164, 10},
             {kIdSystemInfo, ItemKind::PushButton, "System &Info", 96, 62, 58, 14},
             {kIdOk, ItemKind::DefaultButton, "OK", 160, 62, 52, 14},
         }},
        {0, kFindDialog, "Find", 283, 46, true,
         {
             {kIdFindText, ItemKind::Edit, "", 49, 7, 172, 12},
             {kIdFindButton, ItemKind::DefaultButton, "&Find", 226, 7, 50, 14},
             {kIdCancel, ItemKind::PushButton, "Cancel", 226, 24, 50, 14},
             {-1, ItemKind::Static, "Find what:", 7, 7, 38, 11},
             {kIdFindCaseSensitive, ItemKind::CheckBox, "&Case Sensitive", 43, 25, 63, 13},
         }},
        {0, kIpAddressDialog, "Capture IP Address", 186, 46, true,
         {
             {kIdIpAddress, ItemKind::IpAddress, "", 60, 7, 119, 13},
             {kIdOk, ItemKind::DefaultButton, "OK", 40, 25, 50, 14},
             {kIdCancel, ItemKind::PushButton, "Cancel", 99, 25, 50, 14},
             {-1, ItemKind::Static, "IP Address:", 7, 7, 39, 11},
         }},
        {0, kPcapDeviceDialog, "Select Network Adapter", 239, 71, true,
         {
             {-1, ItemKind::Static, "Adaptor:", 14, 24, 28, 8},
             {kIdAdapterList, ItemKind::DropList, "", 47, 21, 177, 12},
             {kIdOk, ItemKind::DefaultButton, "OK", 72, 48, 50, 14},
             {kIdCancel, ItemKind::PushButton, "Cancel", 132, 48, 50, 14},
         }},
    };
    return templates;
}

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& t : Templates()) {
        if (t.name == nullptr && t.id == id) return &t;
    }
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(const char* name) {
    if (name == nullptr) return nullptr;
    for (const DialogTemplate& t : Templates()) {
        if (t.name && std::strcmp(t.name, name) == 0) return &t;
    }
    return nullptr;
}

}  // namespace res
