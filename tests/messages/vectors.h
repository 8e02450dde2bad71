#pragma once
// The known-answer vectors of the message types (vectors/vectors.txt): one
// line per filled value, with the aligned-PER octets an independent coder
// made of it.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace messages_test {

struct Vector {
    std::string module, type, path, hex;
    unsigned seed;

    std::string label() const { return module + "::" + type + " " + std::to_string(seed) + " " + path; }
    std::vector<std::string> alternatives() const {
        std::vector<std::string> names;
        std::istringstream in(path == "-" ? "" : path);
        for (std::string name; std::getline(in, name, '/');) names.push_back(name);
        return names;
    }
};

inline std::vector<Vector> read_vectors() {
    std::vector<Vector> vectors;
    std::ifstream in(MESSAGES_VECTORS);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Vector v;
        fields >> v.module >> v.type >> v.seed >> v.path >> v.hex;
        vectors.push_back(v);
    }
    return vectors;
}

}  // namespace messages_test
