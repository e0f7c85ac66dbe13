// Build-time check of the library's stack bound over whole call chains.
//
// Reads the call graphs that GCC writes with -fcallgraph-info=su (one .ci file per source)
// and, from each entry point named, adds up the frames along the deepest chain of calls. A
// chain deeper than the bound, recursion, a frame of unknown size or a call of an outside
// function without an allowance fails the build: the library runs on signal stacks and small
// thread stacks of programs it knows nothing about.
//
// Usage: stack_check BOUND ENTRY,... FUNCTION=BYTES,... DYNAMIC,... FILE.ci...
//   FUNCTION=BYTES  the stack an outside function may use (the C library's)
//   DYNAMIC         the functions allowed a frame sized by their input (counted here with
//                   their fixed part)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Node {
    long bytes = -1; // -1: no frame given (an outside function)
    bool dynamic = false;
    std::vector<std::string> callees; // keys of callees, resolved after reading
    std::vector<std::string> calleeTitles;
    std::string file;
};

std::map<std::string, Node> nodes;          // key: file#title for definitions
std::map<std::string, std::string> globals; // title -> key of its definition

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        if (!part.empty()) {
            parts.push_back(part);
        }
    }
    return parts;
}

// The value of `key: "..."` in a line of the graph file.
std::string quoted(const std::string& line, const std::string& key) {
    const size_t at = line.find(key + ": \"");
    if (at == std::string::npos) {
        return "";
    }
    const size_t begin = at + key.size() + 3;
    return line.substr(begin, line.find('"', begin) - begin);
}

bool read(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "stack_check: cannot read %s\n", path.c_str());
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("node:", 0) == 0) {
            const std::string title = quoted(line, "title");
            const std::string label = quoted(line, "label");
            const size_t bytesAt = label.find(" bytes (");
            if (bytesAt == std::string::npos) {
                continue; // an outside function, known by its title alone
            }
            const size_t numberAt = label.rfind("\\n", bytesAt);
            Node& node = nodes[path + "#" + title];
            node.file = path;
            node.bytes = std::atol(label.c_str() + numberAt + 2);
            node.dynamic = label.find("dynamic", bytesAt) != std::string::npos;
            globals[title] = path + "#" + title;
        } else if (line.rfind("edge:", 0) == 0) {
            const std::string source = quoted(line, "sourcename");
            nodes[path + "#" + source].calleeTitles.push_back(quoted(line, "targetname"));
        }
    }
    return true;
}

struct Checker {
    std::map<std::string, long> allowances;
    std::set<std::string> dynamicAllowed;
    std::map<std::string, long> worst;
    std::map<std::string, std::string> worstChain;
    std::set<std::string> active;
    bool ok = true;

    std::string resolve(const std::string& file, const std::string& title) {
        if (nodes.count(file + "#" + title) != 0 && nodes[file + "#" + title].bytes >= 0) {
            return file + "#" + title;
        }
        if (const auto global = globals.find(title); global != globals.end()) {
            return global->second;
        }
        // GCC emits a complete-object constructor or destructor (C1, D1) as an alias of the
        // base-object one (C2, D2) and reports the frame under that name.
        for (const auto& [complete, base] : {std::pair{"C1E", "C2E"}, std::pair{"D1E", "D2E"}}) {
            if (const size_t at = title.find(complete); at != std::string::npos) {
                std::string alias = title;
                alias.replace(at, 3, base);
                return resolve(file, alias);
            }
        }
        return "";
    }

    static std::string title(const std::string& key) {
        return key.substr(key.find('#') + 1);
    }

    long depth(const std::string& key) {
        if (const auto known = worst.find(key); known != worst.end()) {
            return known->second;
        }
        if (!active.insert(key).second) {
            std::fprintf(stderr, "stack_check: recursion through %s\n", title(key).c_str());
            ok = false;
            return 0;
        }
        Node& node = nodes[key];
        if (node.dynamic && dynamicAllowed.count(title(key)) == 0) {
            std::fprintf(stderr, "stack_check: %s has a frame sized at run time\n",
                         title(key).c_str());
            ok = false;
        }
        long deepest = 0;
        std::string chain;
        for (const std::string& callee : node.calleeTitles) {
            long below = 0;
            std::string calleeChain = callee;
            const std::string calleeKey = resolve(node.file, callee);
            if (!calleeKey.empty()) {
                below = depth(calleeKey);
                calleeChain = worstChain[calleeKey];
            } else if (const auto allowance = allowances.find(callee);
                       allowance != allowances.end()) {
                below = allowance->second;
            } else {
                std::fprintf(stderr,
                             "stack_check: %s calls %s, an outside function without an "
                             "allowance\n",
                             title(key).c_str(), callee.c_str());
                ok = false;
            }
            if (below > deepest || chain.empty()) {
                deepest = below > deepest ? below : deepest;
                chain = calleeChain;
            }
        }
        active.erase(key);
        const long total = node.bytes + deepest;
        worst[key] = total;
        worstChain[key] = title(key) + " (" + std::to_string(node.bytes) + ")" +
                          (chain.empty() ? "" : " > " + chain);
        return total;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: stack_check BOUND ENTRY,... FUNCTION=BYTES,... "
                             "DYNAMIC,... FILE.ci...\n");
        return 2;
    }
    const long bound = std::atol(argv[1]);
    Checker checker;
    for (const std::string& allowance : split(argv[3], ',')) {
        const size_t equals = allowance.find('=');
        checker.allowances[allowance.substr(0, equals)] = std::atol(allowance.c_str() + equals + 1);
    }
    for (const std::string& name : split(argv[4], ',')) {
        checker.dynamicAllowed.insert(name);
    }
    for (int i = 5; i < argc; ++i) {
        if (!read(argv[i])) {
            return 1;
        }
    }
    long deepest = 0;
    std::string deepestChain;
    for (const std::string& entry : split(argv[2], ',')) {
        const auto key = globals.find(entry);
        if (key == globals.end()) {
            std::fprintf(stderr, "stack_check: no frame information for %s\n", entry.c_str());
            checker.ok = false;
            continue;
        }
        const long total = checker.depth(key->second);
        if (total > bound) {
            std::fprintf(stderr,
                         "stack_check: %s may use %ld bytes of its caller's stack, more "
                         "than %ld: %s\n",
                         entry.c_str(), total, bound, checker.worstChain[key->second].c_str());
            checker.ok = false;
        }
        if (total > deepest) {
            deepest = total;
            deepestChain = checker.worstChain[key->second];
        }
    }
    if (!checker.ok) {
        return 1;
    }
    std::printf("libombrex stack: deepest chain %ld of %ld bytes: %s\n", deepest, bound,
                deepestChain.c_str());
    return 0;
}
