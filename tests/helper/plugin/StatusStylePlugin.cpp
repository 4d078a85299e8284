// A style plugin that records the capabilities of whatever process loads it: the library's
// constructor copies /proc/self/status to the file named by TW_STATUS_FILE, as a hostile plugin
// named in QT_PLUGIN_PATH would run its code. The helper tests load it into the window.
#include <QStyleFactory>
#include <QStylePlugin>

#include <cstdio>
#include <cstdlib>

namespace {

struct RecordStatus {
    RecordStatus() {
        const char* path = std::getenv("TW_STATUS_FILE");
        if (!path) return;
        FILE* in = std::fopen("/proc/self/status", "r");
        FILE* out = std::fopen(path, "w");
        char buffer[4096];
        for (size_t n; in && out && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
            std::fwrite(buffer, 1, n, out);
        }
        if (in) std::fclose(in);
        if (out) std::fclose(out);
    }
} recordStatus;

}  // namespace

class StatusStylePlugin : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "StatusStylePlugin.json")

public:
    QStyle* create(const QString&) override { return QStyleFactory::create("Fusion"); }
};

#include "StatusStylePlugin.moc"
