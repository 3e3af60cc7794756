#include "cli/ConsoleTap.h"

#include <iostream>

namespace {
// A line longer than this is remembered by its first bytes only.
constexpr size_t kMaxRemembered = 4096;
}  // namespace

CConsoleTap& CConsoleTap::Instance()
{
    static CConsoleTap* tap = [] {
        auto* made = new CConsoleTap(std::cout.rdbuf());
        std::cout.rdbuf(made);
        return made;
    }();
    return *tap;
}

CConsoleTap::CConsoleTap(std::streambuf* out) : m_out(out) {}

void CConsoleTap::Put(const char* s, std::streamsize n)
{
    if (n <= 0)
        return;
    if (m_hold) {
        m_held.append(s, static_cast<size_t>(n));
        return;
    }
    m_out->sputn(s, n);
    for (std::streamsize k = 0; k < n; ++k) {
        const char c = s[k];
        if (c == '\n') {
            if (!m_current.empty())
                m_last = m_current;
            m_current.clear();
            m_lineOpen = false;
        } else if (c == '\r') {
            // A progress line rewrites itself from its start.
            m_current.clear();
            m_lineOpen = true;
        } else {
            if (m_current.size() < kMaxRemembered)
                m_current.push_back(c);
            m_lineOpen = true;
        }
    }
}

int CConsoleTap::overflow(int c)
{
    if (c == traits_type::eof())
        return traits_type::not_eof(c);
    const char ch = static_cast<char>(c);
    std::lock_guard<std::mutex> guard(m_lock);
    Put(&ch, 1);
    return c;
}

std::streamsize CConsoleTap::xsputn(const char* s, std::streamsize n)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Put(s, n);
    return n;
}

int CConsoleTap::sync()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_hold ? 0 : m_out->pubsync();
}

void CConsoleTap::Hold()
{
    std::cout.flush();
    std::lock_guard<std::mutex> guard(m_lock);
    m_hold = true;
    m_held.clear();
}

void CConsoleTap::Release(bool print)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_hold = false;
    std::string held;
    held.swap(m_held);
    if (print) {
        Put(held.data(), static_cast<std::streamsize>(held.size()));
        m_out->pubsync();
    }
}

std::string CConsoleTap::LastLine()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_last;
}

void CConsoleTap::ForgetLastLine()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_last.clear();
}

void CConsoleTap::EndOpenLine()
{
    std::lock_guard<std::mutex> guard(m_lock);
    // The rewritten line is what the console shows: ended, it is the last.
    if (m_lineOpen && !m_hold && std::cout.rdbuf() == this) {
        Put("\n", 1);
        m_out->pubsync();
    }
}
