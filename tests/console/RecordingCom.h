// A connection whose boot lines and pauses are recorded, not driven: the
// seam of the boot-line sequence (a pseudo-terminal has no modem lines).
#ifndef TESTS_CONSOLE_RECORDINGCOM_H
#define TESTS_CONSOLE_RECORDINGCOM_H

#include <string>
#include <vector>

#include "link/Com.h"

class RecordingCom : public CCom
{
public:
    RecordingCom() = default;
    RecordingCom(int port, char type, const char* name) : CCom(port, type, name) {}

    std::vector<std::string> events;
    int totalPause = 0;

protected:
    void DriveLine(BootOptionLine line, bool level) override
    {
        if (line == BOOTOPTION_NONE)
            return;
        events.push_back(std::string(line == BOOTOPTION_DTR ? "DTR" : "RTS") + (level ? "1" : "0"));
    }
    void Pause(int ms) override
    {
        events.push_back("wait" + std::to_string(ms));
        totalPause += ms;
    }
};

// The line changes of recorded events, without the pauses.
inline std::vector<std::string> Lines(const std::vector<std::string>& events)
{
    std::vector<std::string> lines;
    for (const std::string& e : events)
        if (e.rfind("wait", 0) != 0)
            lines.push_back(e);
    return lines;
}

#endif
