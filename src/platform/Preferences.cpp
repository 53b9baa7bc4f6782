#include "Preferences.h"

#include "AppFolders.h"
#include "AtomicFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QtDebug>

#include <cmath>

namespace orvane {

namespace {
// Data values are wrapped so they cannot be mistaken for strings.
const QString kDataTag = QStringLiteral("data");
} // namespace

Preferences::Preferences(QString filePath) : m_filePath(std::move(filePath)) { load(); }

QString Preferences::defaultFilePath() {
    return AppFolders::userConfigDirectory() + QStringLiteral("/Orvane/preferences.json");
}

void Preferences::load() {
    QFile file(m_filePath);
    if (!file.exists()) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("preferences: cannot read %s", qPrintable(m_filePath));
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        // Keep the damaged file for inspection instead of overwriting it on the next change.
        const QString aside = m_filePath + QStringLiteral(".damaged");
        QFile::remove(aside);
        QFile::rename(m_filePath, aside);
        qWarning("preferences: %s is damaged, moved aside", qPrintable(m_filePath));
        return;
    }
    m_values = doc.object();
}

void Preferences::save() const {
    try {
        AtomicFile::write(m_filePath, QJsonDocument(m_values).toJson(QJsonDocument::Indented));
    } catch (const FileError& e) {
        qWarning("preferences: %s", qPrintable(e.localizedDescription()));
    }
}

void Preferences::store(const QString& key, const QJsonValue& value) {
    if (m_values.value(key) == value) {
        return;
    }
    m_values.insert(key, value);
    save();
}

bool Preferences::contains(const QString& key) const { return m_values.contains(key); }

std::optional<bool> Preferences::boolValue(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    return v.isBool() ? std::optional<bool>(v.toBool()) : std::nullopt;
}

std::optional<QString> Preferences::string(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
}

std::optional<QByteArray> Preferences::data(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    if (!v.isObject()) {
        return std::nullopt;
    }
    const QJsonValue payload = v.toObject().value(kDataTag);
    if (!payload.isString()) {
        return std::nullopt;
    }
    return QByteArray::fromBase64(payload.toString().toLatin1());
}

std::optional<double> Preferences::doubleValue(const QString& key) const {
    const QJsonValue v = m_values.value(key);
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

void Preferences::setBool(const QString& key, bool value) { store(key, value); }

void Preferences::setString(const QString& key, const QString& value) { store(key, value); }

void Preferences::setData(const QString& key, const QByteArray& value) {
    store(key, QJsonObject{{kDataTag, QString::fromLatin1(value.toBase64())}});
}

void Preferences::setDouble(const QString& key, double value) {
    if (!std::isfinite(value)) {
        qWarning("preferences: refusing a non-finite value for %s", qPrintable(key));
        return;
    }
    store(key, value);
}

void Preferences::remove(const QString& key) {
    if (!m_values.contains(key)) {
        return;
    }
    m_values.remove(key);
    save();
}

} // namespace orvane
