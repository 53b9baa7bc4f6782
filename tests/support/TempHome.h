#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <optional>

namespace orvane::test {

// Points the user's configuration, data and cache folders at a fresh temporary folder for
// the lifetime of the object, and puts the earlier values back afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString root() const { return m_dir.path(); }
    QString configHome() const;
    QString dataHome() const;

private:
    QTemporaryDir m_dir;
    std::map<QByteArray, std::optional<QByteArray>> m_saved;
};

} // namespace orvane::test
