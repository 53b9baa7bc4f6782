#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace orvane {

// The application's typed key-value preferences: one JSON object in a 0600 file, rewritten
// atomically on every change. A value keeps its type across restarts: asking for another
// type than the one stored gives nothing.
class Preferences {
public:
    explicit Preferences(QString filePath = defaultFilePath());

    // "Orvane/preferences.json" in the user's configuration folder.
    static QString defaultFilePath();
    const QString& filePath() const { return m_filePath; }

    bool contains(const QString& key) const;
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;

    void setBool(const QString& key, bool value);
    void setString(const QString& key, const QString& value);
    void setData(const QString& key, const QByteArray& value);
    void setDouble(const QString& key, double value);
    void remove(const QString& key);

private:
    void load();
    void store(const QString& key, const QJsonValue& value);
    void save() const;

    QString m_filePath;
    QJsonObject m_values;
};

} // namespace orvane
