// The one sub-option walk every command handler uses.
//
// Starting with the index on the command word, each Next() looks at the token
// after the current one:
//  - a command word ends the walk with the index on it (the main walk takes
//    it next);
//  - a token that is no sub-option word of the command ends the walk as
//    Bad() with the index on it (the handler reports it);
//  - a sub-option takes the following token as its value (empty when the line
//    ends there); a sub-option that takes no value calls StepBack() so that
//    the token after it is looked at again.
// The connect commands use the connect variant: a sub-option that is the last
// argument ends the walk with the index on it, without a value.
// The index never leaves 0..argc, whatever the line holds.
#ifndef TARNFLASH_CLI_SUBOPTIONWALK_H
#define TARNFLASH_CLI_SUBOPTIONWALK_H

#include <string>

class CSubOptionWalk
{
public:
    CSubOptionWalk(int argc, char** argv, int& index, bool connectVariant = false);

    // True when a sub-option is ready (Name(), LowerName(), Value()).
    bool Next();
    // The sub-option takes no value: look at the token after it next time.
    void StepBack();

    bool Bad() const { return m_bBad; }
    const std::string& Name() const { return m_strName; }
    const std::string& LowerName() const { return m_strLowerName; }
    const std::string& Value() const { return m_strValue; }
    bool HasValue() const { return m_bHasValue; }
    // The token the index now stands on (empty past the end).
    std::string Current() const;
    int& Index() { return m_i; }

private:
    int m_argc;
    char** m_argv;
    int& m_i;
    bool m_bConnect;
    std::string m_strCommand;  // the command word the walk started on
    bool m_bBad = false;
    bool m_bDone = false;
    bool m_bHasValue = false;
    std::string m_strName;
    std::string m_strLowerName;
    std::string m_strValue;
};

#endif
