#include "drivers/CaptureFilter.h"

#include <dlfcn.h>
#include <pcap/pcap.h>
#include <mutex>

#include "drivers/IPCAP.h"

namespace CaptureFilter {

namespace {

// The library's entry points for compiling, bound once for the process.
struct Compiler {
    pcap_t* (*openDead)(int, int) = nullptr;
    int (*compile)(pcap_t*, bpf_program*, const char*, int, bpf_u_int32) = nullptr;
    char* (*geterr)(pcap_t*) = nullptr;
    void (*freecode)(bpf_program*) = nullptr;
    void (*close)(pcap_t*) = nullptr;
    bool Bound() const { return openDead && compile && geterr && freecode && close; }
};

template <class F>
void Bind(void* library, F& entry, const char* name) {
    entry = reinterpret_cast<F>(dlsym(library, name));
}

const Compiler& TheCompiler() {
    static const Compiler compiler = [] {
        Compiler bound;
        // Kept loaded for the life of the process, as the capture driver keeps its own.
        if (void* library = IPCAP::OpenLibrary()) {
            Bind(library, bound.openDead, "pcap_open_dead");
            Bind(library, bound.compile, "pcap_compile");
            Bind(library, bound.geterr, "pcap_geterr");
            Bind(library, bound.freecode, "pcap_freecode");
            Bind(library, bound.close, "pcap_close");
        }
        return bound;
    }();
    return compiler;
}

std::mutex expressionLock;
std::string current;

}  // namespace

int LinkTypeOfMethod(int method) { return method == 1 ? DLT_RAW : DLT_EN10MB; }

bool Compile(const std::string& expression, int linkType, std::vector<sock_filter>& program,
             std::string& error) {
    program.clear();
    error.clear();
    if (expression.find('\0') != std::string::npos) {
        error = "the expression holds a NUL byte";
        return false;
    }
    if (expression.find_first_not_of(" \t\r\n") == std::string::npos) return true;
    const Compiler& library = TheCompiler();
    if (!library.Bound()) {
        error = "the packet-capture library (libpcap) is not installed";
        return false;
    }
    pcap_t* dead = library.openDead(linkType, 262144);
    if (!dead) {
        error = "the packet-capture library cannot compile for link type " + std::to_string(linkType);
        return false;
    }
    bpf_program code{};
    const bool compiled =
        library.compile(dead, &code, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (!compiled) {
        error = library.geterr(dead);
    } else if (expression.size() > kLongestExpression) {
        // Refused only once the library took it, so that its message comes first.
        error = "the expression is longer than " + std::to_string(kLongestExpression) +
                " characters";
    } else if (code.bf_len > kMostInstructions) {
        error = "the expression compiles to " + std::to_string(code.bf_len) +
                " instructions; the kernel takes at most " + std::to_string(kMostInstructions);
    } else {
        // The library's instructions are laid out as the kernel's.
        static_assert(sizeof(bpf_insn) == sizeof(sock_filter));
        program.resize(code.bf_len);
        for (size_t i = 0; i < code.bf_len; ++i) {
            program[i] = sock_filter{code.bf_insns[i].code, code.bf_insns[i].jt,
                                     code.bf_insns[i].jf, code.bf_insns[i].k};
        }
    }
    if (compiled) library.freecode(&code);
    library.close(dead);
    return error.empty();
}

std::string Check(const std::string& expression, int method) {
    std::vector<sock_filter> program;
    std::string error;
    return Compile(expression, LinkTypeOfMethod(method), program, error) ? std::string() : error;
}

bool CompileCurrent(int method, std::vector<sock_filter>& program, std::string& reason) {
    const std::string expression = Expression();
    std::string error;
    if (Compile(expression, LinkTypeOfMethod(method), program, error)) return true;
    reason = "capture filter '" + expression + "': " + error;
    return false;
}

void SetExpression(const std::string& expression) {
    std::lock_guard<std::mutex> lock(expressionLock);
    current = expression;
}

std::string Expression() {
    std::lock_guard<std::mutex> lock(expressionLock);
    return current;
}

}  // namespace CaptureFilter
