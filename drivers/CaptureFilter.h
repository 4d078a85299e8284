// The capture filter: an expression in the libpcap syntax ("host 10.0.0.5 and tcp port 443"),
// compiled by the packet-capture library the program loads at run time and run by the kernel on
// the capture socket, so that frames it refuses cost nothing and never reach the store. One
// expression serves every method: each driver compiles it for the frames its socket delivers
// when it starts. The quick drop filters apply after it.
#pragma once

#include <linux/filter.h>

#include <string>
#include <vector>

namespace CaptureFilter {

// The setting that keeps the expression between runs.
inline constexpr const char* kSetting = "CaptureFilter";
// The longest expression taken: the capture helper's request carries no more.
inline constexpr size_t kLongestExpression = 8192;
// The most instructions the kernel takes in one program.
inline constexpr size_t kMostInstructions = BPF_MAXINSNS;

// The library's link type of what a method's socket delivers: IPv4 datagrams without a link
// header for method 1, Ethernet frames for methods 2 and 3.
int LinkTypeOfMethod(int method);

// Compiles the expression for frames of the link type. True with the program, which is empty
// for an empty expression (no filter); false with the library's message, or why it could not
// compile (no library, a NUL byte, more instructions than the kernel takes, an expression longer
// than kLongestExpression).
bool Compile(const std::string& expression, int linkType, std::vector<sock_filter>& program,
             std::string& error);
// Empty when the expression compiles for the method's frames, else the message.
std::string Check(const std::string& expression, int method);

// The current expression (below) compiled for a method's frames, as a driver does when it
// starts; false with the reason the capture cannot start: "capture filter 'EXPR': message".
bool CompileCurrent(int method, std::vector<sock_filter>& program, std::string& reason);

// Attaches the program to a socket (nothing for an empty one); 0 or errno.
int Attach(int fd, const std::vector<sock_filter>& program);
// The program run after `first`: each of first's returns that keeps a frame goes on to `then`
// instead, its returns that drop one stay. `then` empty: first alone.
std::vector<sock_filter> Chain(std::vector<sock_filter> first, const std::vector<sock_filter>& then);

// The expression the next capture starts with, for every method: the window and the command
// line set it; each driver reads it as it starts, the status text shows it.
void SetExpression(const std::string& expression);
std::string Expression();

// A program as text, "count,code jt jf k,code jt jf k,..." (tcpdump -ddd), as the capture
// driver hands it to the Network Monitor provider; and back. ParseProgram is false for text
// that is not such a program of at most kMostInstructions instructions.
std::string ProgramText(const std::vector<sock_filter>& program);
bool ParseProgram(const char* text, std::vector<sock_filter>& program);

}  // namespace CaptureFilter
