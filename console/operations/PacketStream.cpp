#include "operations/PacketStream.h"

#include <utility>

CPacketStream::CPacketStream(uint32_t packetSize, Sink sink) : m_uiPacket(packetSize), m_sink(std::move(sink)) {}

unsigned int CPacketStream::Add(uint32_t address, const unsigned char* data, uint32_t length)
{
    if (length == 0)
        return 0;
    if (m_uiPacket == 0)
        return m_sink(address, data, length);
    if (!m_pending.empty() && m_uiAddress + m_pending.size() != address) {
        unsigned int r = Flush();
        if (r != 0)
            return r;
    }
    if (m_pending.empty())
        m_uiAddress = address;
    m_pending.insert(m_pending.end(), data, data + length);
    const size_t whole = m_pending.size() / m_uiPacket * m_uiPacket;
    if (whole == 0)
        return 0;
    unsigned int r = m_sink(static_cast<uint32_t>(m_uiAddress), m_pending.data(), static_cast<uint32_t>(whole));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(whole));
    m_uiAddress += whole;
    return r;
}

unsigned int CPacketStream::Flush()
{
    if (m_pending.empty())
        return 0;
    unsigned int r = m_sink(static_cast<uint32_t>(m_uiAddress), m_pending.data(),
                            static_cast<uint32_t>(m_pending.size()));
    m_pending.clear();
    return r;
}
