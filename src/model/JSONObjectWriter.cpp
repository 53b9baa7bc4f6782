#include "JSONObjectWriter.h"

namespace orvane {

void JSONObjectWriter::beginMember(const char* key) {
    if (!m_empty) {
        m_out.append(',');
    }
    m_empty = false;
    json::appendString(m_out, QString::fromLatin1(key));
    m_out.append(':');
}

} // namespace orvane
