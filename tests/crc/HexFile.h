// Intel HEX files written by the tests themselves.
#ifndef TARNFLASH_TESTS_CRC_HEXFILE_H
#define TARNFLASH_TESTS_CRC_HEXFILE_H

#include "TestFiles.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace crctest {

using kvtest::Bytes;

// An Intel HEX file of the given pieces (address, bytes).
inline void WriteHex(const std::string& path, const std::vector<std::pair<uint32_t, Bytes>>& pieces)
{
    std::string text;
    auto line = [&](unsigned type, uint16_t address, const unsigned char* data, size_t n) {
        unsigned sum = static_cast<unsigned>(n) + (address >> 8) + (address & 0xFF) + type;
        char head[16];
        std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(n), address, type);
        text += head;
        for (size_t k = 0; k < n; ++k) {
            char b[3];
            std::snprintf(b, sizeof b, "%02X", data[k]);
            text += b;
            sum += data[k];
        }
        char tail[4];
        std::snprintf(tail, sizeof tail, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += tail;
    };
    for (const auto& piece : pieces) {
        uint32_t upper = 0xFFFFFFFF;
        for (size_t off = 0; off < piece.second.size(); off += 16) {
            const uint32_t address = piece.first + static_cast<uint32_t>(off);
            if ((address >> 16) != upper) {
                upper = address >> 16;
                const unsigned char u[2] = {static_cast<unsigned char>(upper >> 8),
                                            static_cast<unsigned char>(upper)};
                line(4, 0, u, 2);
            }
            const size_t n = std::min<size_t>(16, piece.second.size() - off);
            const size_t room = 0x10000 - (address & 0xFFFF);
            line(0, static_cast<uint16_t>(address & 0xFFFF), piece.second.data() + off,
                 std::min(n, room));
            if (room < n) {
                upper = (address >> 16) + 1;
                const unsigned char u[2] = {static_cast<unsigned char>(upper >> 8),
                                            static_cast<unsigned char>(upper)};
                line(4, 0, u, 2);
                line(0, 0, piece.second.data() + off + room, n - room);
            }
        }
    }
    line(1, 0, nullptr, 0);
    kvtest::WriteFile(path, Bytes(text.begin(), text.end()));
}

}  // namespace crctest

#endif
