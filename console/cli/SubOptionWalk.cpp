#include "cli/SubOptionWalk.h"

#include "ShareParameter.h"
#include "cli/Handlers.h"

CSubOptionWalk::CSubOptionWalk(int argc, char** argv, int& index, bool connectVariant)
    : m_argc(argc), m_argv(argv), m_i(index), m_bConnect(connectVariant), m_strCommand(Current())
{
}

std::string CSubOptionWalk::Current() const
{
    if (m_i >= 0 && m_i < m_argc && m_argv[m_i] != nullptr)
        return m_argv[m_i];
    return std::string();
}

bool CSubOptionWalk::Next()
{
    if (m_bDone)
        return false;
    m_strName.clear();
    m_strLowerName.clear();
    m_strValue.clear();
    m_bHasValue = false;

    // The last argument (or past it): the walk is over.
    if (m_i >= m_argc - 1) {
        m_i = m_argc;
        m_bDone = true;
        return false;
    }
    ++m_i;
    const std::string token = Current();
    if (Is_Option(token.c_str())) {
        m_bDone = true;
        return false;
    }
    if (!Is_SubOptionOf(token.c_str(), m_strCommand)) {
        m_bBad = true;
        m_bDone = true;
        return false;
    }
    if (m_bConnect && m_i == m_argc - 1) {
        m_bDone = true;
        return false;
    }
    m_strName = token;
    m_strLowerName = ShareParameter::ToLower(token);
    ++m_i;
    m_bHasValue = m_i < m_argc;
    m_strValue = Current();
    return true;
}

void CSubOptionWalk::StepBack()
{
    if (m_i > 0)
        --m_i;
}
