// The console under std::cout. Everything the program prints passes through
// it on its way to standard output: it remembers the last line printed (the
// production log's message), knows whether a progress line is left without
// its end, and while the walk checks a line it holds a command's text back
// until the check of that command is over (printed only when it fails).
#ifndef TARNFLASH_CLI_CONSOLETAP_H
#define TARNFLASH_CLI_CONSOLETAP_H

#include <mutex>
#include <streambuf>
#include <string>

class CConsoleTap : public std::streambuf
{
public:
    // The tap of std::cout, installed on first use.
    static CConsoleTap& Instance();

    // Holds everything printed from now on.
    void Hold();
    // Ends holding; the held text is printed when print is true, dropped
    // otherwise.
    void Release(bool print);
    // The last non-empty line printed (a line ends at a line feed), without
    // carriage returns; empty when none.
    std::string LastLine();
    void ForgetLastLine();
    // Ends a line left open (a progress line) with a line feed.
    void EndOpenLine();

protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    explicit CConsoleTap(std::streambuf* out);
    // Passes bytes on (or holds them) and follows the lines; lock held.
    void Put(const char* s, std::streamsize n);

    std::streambuf* m_out;
    std::mutex m_lock;
    bool m_hold = false;
    bool m_lineOpen = false;
    std::string m_held;
    std::string m_current;
    std::string m_last;
};

#endif
