// Decode text of Ethernet, 802.3 and ARP frames, and the Ethernet type and SAP names.
#include <gtest/gtest.h>

#include <string>

#include "decode/LinkHeaders.h"
#include "decode/Names.h"
#include "framework/str.h"
#include "HeaderFrames.h"

using namespace testframes;

namespace {

std::string DescribeEthernet(const std::string& hex) {
    auto frame = Hex(hex);
    const uint8_t* cursor = frame.data();
    int32_t remaining = static_cast<int32_t>(frame.size());
    EthernetHeader eth;
    EXPECT_TRUE(eth.Parse(cursor, remaining));
    str text;
    eth.Describe(text);
    return text.c_str();
}

// The type line of an 802.3 frame (length 1500) with the given LLC bytes.
std::string TypeLineOf8023(const std::string& llc) {
    const std::string text = DescribeEthernet("0180c2000000000c293e5f0105dc" + llc);
    EXPECT_EQ(text.rfind("Ethernet (802.3) Packet\r\n\tDestination: 01-80-c2-00-00-00", 0), 0u);
    return text.substr(text.find("\r\n\tType: "));
}

std::string DescribeARP(const std::string& hex) {
    auto bytes = Hex(hex);
    const uint8_t* cursor = bytes.data();
    int32_t remaining = static_cast<int32_t>(bytes.size());
    ARPHeader arp;
    EXPECT_TRUE(arp.Parse(cursor, remaining));
    str text;
    arp.Describe(text);
    return text.c_str();
}

}  // namespace

TEST(LinkDescriberTest, EthernetText) {
    EXPECT_EQ(DescribeEthernet(kTcpAck),
              "Ethernet II Packet"
              "\r\n\tDestination: 00-50-56-c0-00-08"
              "\r\n\tSource:      00-0c-29-3e-5f-01"
              "\r\n\tType: 0x0800 (IPv4)");

    EXPECT_EQ(TypeLineOf8023("424203"), "\r\n\tType: 0x0042 (Spanning Tree Protocol)");
    EXPECT_EQ(TypeLineOf8023("434303"), "\r\n\tType: 0x0043 (Spanning Tree Protocol (Group))");
    EXPECT_EQ(TypeLineOf8023("111103"), "\r\n\tType: 0x0011 (Unknown)");
    EXPECT_EQ(TypeLineOf8023("ffff03"), "\r\n\tType: 0x00ff (ISO Network Layer Protocol (Group))");
    EXPECT_EQ(TypeLineOf8023("aaaa030000000806"), "\r\n\tType: 0x0806 (ARP)");
    // SNAP protocol ids of 0x0100 and above without a name, and below it (read as a SAP).
    EXPECT_EQ(TypeLineOf8023("aaaa030000001234"), "\r\n\tType: 0x1234 ()");
    EXPECT_EQ(TypeLineOf8023("aaaa030000000004"), "\r\n\tType: 0x0004 (SNA)");

    EXPECT_EQ(DescribeEthernet("ffffffffffff000c293e5f0112340000").substr(0, 18),
              "Ethernet II Packet");
    const std::string plain = DescribeEthernet("ffffffffffff000c293e5f011234");
    EXPECT_EQ(plain.substr(plain.find("\r\n\tType")), "\r\n\tType: 0x1234 ()");
}

TEST(LinkDescriberTest, NameTables) {
    str text;
    EXPECT_TRUE(EthertypeName(0x6005, text));
    EXPECT_TRUE(EthertypeName(0x6002, text));
    EXPECT_TRUE(EthertypeName(0xc021, text));
    EXPECT_TRUE(EthertypeName(0x8100, text));
    EXPECT_STREQ(text.c_str(), "DECDEC DNA Remote ConsolePPP Link Control Protocol802.1 QTagged Frame");

    text.Clear();
    EXPECT_FALSE(EthertypeName(0x05dc, text));  // an 802.3 length, not a SAP
    EXPECT_FALSE(EthertypeName(0x600a, text));
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_TRUE(EthertypeName(0x0003, text));   // DSAP 0x03
    EXPECT_STREQ(text.c_str(), "LLC Sublayer Management (Group)");

    text.Clear();
    EXPECT_FALSE(SAPName(0x11, text));
    EXPECT_STREQ(text.c_str(), "Unknown");
    text.Clear();
    EXPECT_FALSE(EthertypeName(0x0013, text));  // the group bit of an unknown SAP adds nothing
    EXPECT_STREQ(text.c_str(), "Unknown");
    text.Clear();
    EXPECT_FALSE(SAPName(0x01aa, text));
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_TRUE(SAPName(0x00, text));
    text += "|";
    EXPECT_TRUE(SAPName(0x07, text));
    text += "|";
    EXPECT_TRUE(SAPName(0xab, text));
    EXPECT_STREQ(text.c_str(), "Null LSAP|IP (802.3) (Group)|SNAP (Group)");
}

TEST(LinkDescriberTest, ARPText) {
    EXPECT_EQ(DescribeARP("0001080006040001000c293e5f01c0a8000a000000000000c0a80001"),
              "ARP Request Packet"
              "\r\n\tHardware Type: 0x0001"
              "\r\n\tProtocol Type: 0x0800 (IPv4)"
              "\r\n\tSender Hardware Address: 00-0c-29-3e-5f-01"
              "\r\n\tSender Protocol Address: c0-a8-00-0a (192.168.0.10)"
              "\r\n\tTarget Hardware Address: 00-00-00-00-00-00"
              "\r\n\tTarget Protocol Address: c0-a8-00-01 (192.168.0.1)");

    // RARP reply for another protocol: no decimal form.
    EXPECT_EQ(DescribeARP("000686dd02040004aabb0a000001ccdd0a000002"),
              "RARP Reply Packet"
              "\r\n\tHardware Type: 0x0006"
              "\r\n\tProtocol Type: 0x86dd (IPv6)"
              "\r\n\tSender Hardware Address: aa-bb"
              "\r\n\tSender Protocol Address: 0a-00-00-01"
              "\r\n\tTarget Hardware Address: cc-dd"
              "\r\n\tTarget Protocol Address: 0a-00-00-02");

    // Unknown opcode, IPv4 with plen 0: empty addresses and empty parentheses.
    EXPECT_EQ(DescribeARP("0001080006000009000c293e5f01005056c00008"),
              "Unknown (Opcode 0x0009) ARP Packet"
              "\r\n\tHardware Type: 0x0001"
              "\r\n\tProtocol Type: 0x0800 (IPv4)"
              "\r\n\tSender Hardware Address: 00-0c-29-3e-5f-01"
              "\r\n\tSender Protocol Address:  ()"
              "\r\n\tTarget Hardware Address: 00-50-56-c0-00-08"
              "\r\n\tTarget Protocol Address:  ()");

    EXPECT_EQ(DescribeARP("00010800000000020000").substr(0, 17), "ARP Reply Packet\r");
    EXPECT_EQ(DescribeARP("00010800000000030000").substr(0, 19), "RARP Request Packet");
}
