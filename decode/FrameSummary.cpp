#include "decode/FrameSummary.h"

#include "decode/IPHeaders.h"
#include "decode/LinkHeaders.h"
#include "decode/TransportHeaders.h"

bool SummariseFrame(const uint8_t* data, uint32_t length, int frameType, PacketRecord& record,
                    bool rowFields) {
    const uint8_t* cursor = data;
    int32_t remaining = static_cast<int32_t>(length);
    IPHeader ip;
    ip.v4.SetChecksumCheck(false);  // the row shows no verdict
    bool ipParsed = false;
    if (frameType == 2) {
        record.frameType = 2;
        EthernetHeader ethernet;
        ethernet.Parse(cursor, remaining);
        record.protocol = ethernet.GetType();
        if (record.protocol == kTypeIPv4 || record.protocol == kTypeIPv6) {
            ipParsed = ip.Parse(cursor, remaining);
        } else if (rowFields && (record.protocol == kTypeARP || record.protocol == kTypeRARP)) {
            ARPHeader arp;
            uint32_t sender = 0, target = 0;
            if (arp.Parse(cursor, remaining) && arp.GetProtocolType() == kTypeIPv4 &&
                arp.GetIPv4Addresses(sender, target)) {
                char text[16];
                record.source.Assign(text, FormatIPv4(sender, text));
                record.destination.Assign(text, FormatIPv4(target, text));
            }
        }
    } else {
        record.frameType = 1;
        ipParsed = ip.Parse(cursor, remaining);
    }
    if (ipParsed) record.isIp = 1;

    if (record.isIp == 1 && rowFields) {
        record.protocol = ip.GetProtocol();
        ip.GetAddressText(record.source, record.destination);
        // A later fragment carries no transport header, so it has no ports.
        if ((record.protocol == 6 || record.protocol == 17) && !ip.IsLaterFragment()) {
            UDPHeader ports;  // TCP and UDP both begin with the two ports
            ports.Parse(cursor, remaining);
            record.sourcePort = ports.GetSourcePort();
            record.destinationPort = ports.GetDestPort();
        }
    }
    return ipParsed;
}
