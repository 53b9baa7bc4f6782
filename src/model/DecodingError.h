#pragma once

#include "LocalizedError.h"

#include <QStringList>

namespace orvane {

// A response body that does not fit the record expected of it.
class DecodingError : public LocalizedError {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, QStringList codingPath, QString debugDescription);

    Kind kind() const { return m_kind; }
    const QStringList& codingPath() const { return m_codingPath; }
    const QString& debugDescription() const { return m_debugDescription; }
    QString localizedDescription() const override;

private:
    Kind m_kind;
    QStringList m_codingPath;
    QString m_debugDescription;
};

// A value that cannot be written as JSON (a NaN, say).
class EncodingError : public LocalizedError {
public:
    explicit EncodingError(QString debugDescription);
    const QString& debugDescription() const { return m_debugDescription; }
    QString localizedDescription() const override;

private:
    QString m_debugDescription;
};

} // namespace orvane
