#pragma once

#include "LocalizedError.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace orvane {

class FileError : public LocalizedError {
public:
    FileError(QString path, QString reason);
    const QString& path() const { return m_path; }
    const QString& reason() const { return m_reason; }
    QString localizedDescription() const override;

private:
    QString m_path;
    QString m_reason;
};

// Files that hold a token or a configuration must never be readable by others, not even for
// the moment between creation and chmod.
class AtomicFile {
public:
    // Writes `data` to `path` through a temporary in the same folder created with `mode`,
    // flushed to disk and renamed over the target. Missing folders are created 0700.
    // Throws FileError.
    static void write(const QString& path, const QByteArray& data, mode_t mode = 0600);

    // Creates `path` and its missing parents with `mode`; an existing folder keeps its mode.
    // Throws FileError.
    static void makeDirectory(const QString& path, mode_t mode = 0700);
};

} // namespace orvane
