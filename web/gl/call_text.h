// GL calls written out as `apitrace dump` writes them, so that a recording
// made in the browser reads like one made on the desktop:
//   callText("glTexCoord2d", "s", 0.2, "t", 0.05) == "glTexCoord2d(s = 0.2, t = 0.05)"
#pragma once

#include <string>

namespace webgl {

// Values that print other than as their C type would.
struct Enum {
    unsigned value;
};
struct Bits {  // a mask of *_BIT values
    unsigned value;
};
struct Names {  // names a call hands out or takes: &1, {1, 2}
    int count;
    const unsigned* names;
};
struct Blob {  // pixels
    long long bytes;
};
struct Matrix {
    const double* m;
};

std::string text(double value);  // sixteen digits
std::string text(float value);   // six digits
std::string text(int value);
std::string text(unsigned value);
std::string text(Enum value);
std::string text(Bits value);
std::string text(Names value);
std::string text(Blob value);
std::string text(Matrix value);

// Pairs of a parameter name and its value.
inline void appendArguments(std::string&) {}
template <typename T, typename... Rest>
void appendArguments(std::string& line, const char* name, const T& value, const Rest&... rest) {
    if (line.back() != '(') line += ", ";
    line += name;
    line += " = ";
    line += text(value);
    appendArguments(line, rest...);
}

template <typename... Arguments>
std::string callText(const char* function, const Arguments&... arguments) {
    std::string line = function;
    line += '(';
    appendArguments(line, arguments...);
    return line + ')';
}

}  // namespace webgl
