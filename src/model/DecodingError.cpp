#include "DecodingError.h"

namespace orvane {

DecodingError::DecodingError(Kind kind, QStringList codingPath, QString debugDescription)
    : m_kind(kind), m_codingPath(std::move(codingPath)),
      m_debugDescription(std::move(debugDescription)) {}

QString DecodingError::localizedDescription() const {
    return QStringLiteral("未能读取数据，因为它的格式不正确。");
}

EncodingError::EncodingError(QString debugDescription)
    : m_debugDescription(std::move(debugDescription)) {}

QString EncodingError::localizedDescription() const {
    return QStringLiteral("未能写入数据，因为它的格式不正确。");
}

} // namespace orvane
