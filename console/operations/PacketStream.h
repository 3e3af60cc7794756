#ifndef TARNFLASH_OPERATIONS_PACKETSTREAM_H
#define TARNFLASH_OPERATIONS_PACKETSTREAM_H

// Hands runs of image bytes to a block transfer in whole packets. Image
// elements are cut at sector boundaries, and a sector is rarely a multiple
// of the packet size: sent element by element, every sector would end in a
// short packet (and, for a write, the read that completes it). Bytes of
// elements that continue each other are joined here, so that only the end
// of a run can be short.

#include <cstdint>
#include <functional>
#include <vector>

class CPacketStream {
public:
    // Sends length bytes at address; a non-zero result code stops the stream.
    using Sink = std::function<unsigned int(uint32_t address, const unsigned char* data, uint32_t length)>;

    // packetSize 0 passes everything on as it comes.
    CPacketStream(uint32_t packetSize, Sink sink);

    // Adds bytes at address: what is pending is sent first when they do not
    // continue it; then every whole packet of the run is sent.
    unsigned int Add(uint32_t address, const unsigned char* data, uint32_t length);
    // Sends what is pending.
    unsigned int Flush();

private:
    uint32_t m_uiPacket;
    Sink m_sink;
    uint64_t m_uiAddress = 0;
    std::vector<unsigned char> m_pending;
};

#endif
