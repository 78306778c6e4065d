// What the tests read back from a PDF through poppler's tools.
#pragma once

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace kesto_test {

// The standard output of a shell command.
inline std::string ShellOutput(const std::string& command)
{
    std::string out;
    if (std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        std::array<char, 4096> buffer{};
        size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0)
            out.append(buffer.data(), n);
        ::pclose(p);
    }
    return out;
}

// A field of pdfinfo ("Title", "Pages"); empty when the PDF has none.
inline std::string PdfInfoField(const std::string& pdf, const std::string& field)
{
    std::istringstream lines(ShellOutput("pdfinfo '" + pdf + "'"));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(field + ":", 0) == 0) {
            const auto start = line.find_first_not_of(' ', field.size() + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    return "";
}

// The x-ppi column of pdfimages -list, one entry per picture.
inline std::vector<int> PdfPictureResolutions(const std::string& pdf)
{
    std::istringstream rows(ShellOutput("pdfimages -list '" + pdf + "'"));
    std::vector<int> ppi;
    std::string line;
    std::getline(rows, line);
    std::getline(rows, line);
    while (std::getline(rows, line)) {
        std::istringstream fields(line);
        std::string f[13];
        for (auto& field : f)
            fields >> field;
        ppi.push_back(std::stoi(f[12]));
    }
    return ppi;
}

} // namespace kesto_test
