#ifndef TARNFLASH_TESTS_SUPPORT_TESTFILES_H
#define TARNFLASH_TESTS_SUPPORT_TESTFILES_H

// Files and scratch folders for the tests that run the simulated chip.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace kvtest {

using Bytes = std::vector<unsigned char>;

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<unsigned char>(gen() & 0xFF);
    return out;
}

inline bool Shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// How many times part stands in text (overlaps counted).
inline int Count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A scratch folder, removed with everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/tarnflash-ops-XXXXXX";
        if (const char* made = mkdtemp(pattern))
            m_path = made;
    }
    ~ScratchDir()
    {
        if (!m_path.empty())
            Shell("rm -rf '" + m_path + "'");
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    bool ok() const { return !m_path.empty(); }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace kvtest

#endif
