// --interfaces: what each capture method can capture on.
#include <cstdio>
#include <string>

#include "app/headless/Modes.h"
#include "drivers/INetMon.h"
#include "drivers/IPCAP.h"
#include "drivers/IWSACap.h"
#include "framework/StringCollection.h"

int RunInterfaces(const HeadlessOptions&) {
    StringCollection addresses(false), networks(false), adapters(false);
    IWSACap::ListAddresses(addresses);
    {
        INetMon netMon;
        netMon.ListNetworks(networks);
    }
    {
        IPCAP pcap;
        pcap.ListAdapters(adapters);
    }
    std::printf("Method 1 (--address):\n");
    for (int i = 0; i < addresses.Count(); ++i) std::printf("  %s\n", addresses.Get(i));
    std::printf("Method 2 (--method 2 --device):\n");
    for (int i = 0; i < networks.Count(); ++i) std::printf("  %s\n", networks.Get(i));
    std::printf("Method 3 (--device):\n");
    for (int i = 0; i < adapters.Count(); ++i) {
        const std::string note =
            IPCAP::LinkTypeNote(IPCAP::AdapterNameOf(adapters.Get(i)).c_str());
        std::printf("  %s%s%s\n", adapters.Get(i), note.empty() ? "" : " - ", note.c_str());
    }
    return 0;
}
