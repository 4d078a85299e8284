// Name tables of the link and network layers, used by the describers and by the protocol column
// of the packet list. Each appends the name of a number to the text.
#pragma once

#include <cstdint>

class str;

// Name of an Ethernet type; a value below 0x0100 not in the table is a DSAP and is named by
// SAPName. True when a name was appended.
bool EthertypeName(uint16_t type, str& text);

// Name of an IEEE 802.2 service access point, " (Group)" added for group addresses; appends
// "Unknown" (and returns false) for a SAP without a name, nothing for a value above 0xff.
bool SAPName(uint16_t sap, str& text);

// Name of an IP protocol number; true when one was appended, nothing appended otherwise.
bool IPProtocolName(uint16_t protocol, str& text);
