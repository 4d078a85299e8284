#include "framework/gui/SplashDlg.h"

#include <dlfcn.h>
#include <sys/utsname.h>

#include <QLabel>
#include <QtGlobal>

#include "resources/Images.h"
#include "resources/Resources.h"

namespace {

void SetPicture(Dialog& dialog) {
    if (auto* label = qobject_cast<QLabel*>(dialog.Item(res::kIdAboutImage))) {
        label->setPixmap(res::ProductPicture(std::min(label->width(), label->height())));
    }
}

void SetProductName(Dialog& dialog, const VersionInfo& version) {
    dialog.SetItemText(res::kIdAboutProduct, version.productName.c_str());
    if (QWidget* name = dialog.Item(res::kIdAboutProduct)) {
        QFont font = name->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.4);
        name->setFont(font);
    }
}

// The version text of the system's libpcap, when there is one to load.
void AppendPcapVersion(str& text) {
    for (const char* name : {"libpcap.so.1", "libpcap.so.0.8", "libpcap.so"}) {
        void* library = dlopen(name, RTLD_LAZY | RTLD_LOCAL);
        if (!library) continue;
        using VersionFunction = const char* (*)();
        auto version = reinterpret_cast<VersionFunction>(dlsym(library, "pcap_lib_version"));
        text += version ? version() : "present (version unknown)";
        dlclose(library);
        return;
    }
    text += "not installed";
}

}  // namespace

SplashDlg::SplashDlg() : Dialog(res::kSplashDialog) {}

void SplashDlg::VersionLine(const VersionInfo& version, str& text) {
    text = "Version ";
    text += version.version;
    text += " - ( ";
    text += __DATE__;
    text += " )";
}

void SplashDlg::NoticeText(const VersionInfo& version, str& text) {
    LoadString(res::kStrLegalNotice, text);
    text += "\n\n";
    text += version.legalCopyright;
}

int SplashDlg::OnInitDialog() {
    SetPicture(*this);
    SetProductName(*this, version_);
    str text;
    VersionLine(version_, text);
    SetItemText(res::kIdSplashVersion, text.c_str());
    NoticeText(version_, text);
    SetItemText(res::kIdSplashNotice, text.c_str());
    SetTimer(kTimerId, kShowMilliseconds);
    return 1;
}

int SplashDlg::OnCommand(int id, int code, QWidget* control) {
    if (id == kIdOk || id == kIdCancel) End(id);
    return 1;
}

int SplashDlg::OnTimer(int timerId) {
    if (timerId != kTimerId) return 0;
    KillTimer(kTimerId);
    End(kIdOk);
    return 1;
}

AboutDlg::AboutDlg(int captureRights)
    : Dialog(res::kAboutDialog), captureRights_(captureRights) {}

void AboutDlg::SystemInformation(int captureRights, str& text) {
    utsname system{};
    text = "Operating system: ";
    if (uname(&system) == 0) {
        text.AppendFormat("%s %s (%s)", system.sysname, system.release, system.machine);
    } else {
        text += "unknown";
    }
    text += "\nQt: ";
    text += qVersion();
    text += "\nlibpcap: ";
    AppendPcapVersion(text);
    text += "\nCapture rights: ";
    switch (captureRights) {
        case 1: text += "held (CAP_NET_RAW, or the capture helper)"; break;
        case 0: text += "not held (see the manual, Capturing without root)"; break;
        default: text += "could not be checked"; break;
    }
}

int AboutDlg::OnInitDialog() {
    SetPicture(*this);
    SetProductName(*this, version_);
    str text("Version ");
    text += version_.version;
    SetItemText(res::kIdAboutVersion, text.c_str());
    return 1;
}

int AboutDlg::OnCommand(int id, int code, QWidget* control) {
    if (id == res::kIdSystemInfo) {
        str text;
        SystemInformation(captureRights_, text);
        MessageBox(text.c_str(), "System Information", kMbOk | kMbIconInformation);
    } else if (id == kIdOk || id == kIdCancel) {
        End(id);
    }
    return 1;
}
