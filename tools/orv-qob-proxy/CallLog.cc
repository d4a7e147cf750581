#include "tools/orv-qob-proxy/CallLog.h"

CallLog::~CallLog()
{
    if (m_owned)
        fclose(m_file);
}

bool CallLog::open(const std::string& path)
{
    if (path.empty()) {
        m_file = stdout;
        return true;
    }
    m_file = fopen(path.c_str(), "ae");
    m_owned = m_file != nullptr;
    return m_owned;
}

void CallLog::write(const nlohmann::ordered_json& line)
{
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    fprintf(m_file, "%s\n", text.c_str());
    fflush(m_file);
}
