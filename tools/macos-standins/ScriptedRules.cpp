#include "ScriptedRules.h"

#include <QJsonArray>

namespace orvane::standin {

namespace {

QStringList stringList(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& entry : value.toArray()) {
        list << entry.toString();
    }
    return list;
}

bool matches(const QJsonObject& rule, const QString& tool, const QStringList& args) {
    if (rule.contains(QStringLiteral("tool")) && rule.value(QStringLiteral("tool")) != tool) {
        return false;
    }
    if (rule.contains(QStringLiteral("args")) &&
        stringList(rule.value(QStringLiteral("args"))) != args) {
        return false;
    }
    for (const QString& wanted : stringList(rule.value(QStringLiteral("argsContain")))) {
        if (!args.contains(wanted)) {
            return false;
        }
    }
    // A rule whose uses have run out never answers, even if a test wrote it that way.
    return !rule.contains(QStringLiteral("times")) ||
           rule.value(QStringLiteral("times")).toInteger() > 0;
}

} // namespace

std::optional<ToolResult> ScriptedRules::answer(const StandinHome& home, const QString& tool,
                                                const QStringList& args, QString* error) {
    const std::optional<QJsonDocument> document = home.readJson(StandinHome::kRulesFile, error);
    if (!document) {
        return std::nullopt;
    }
    if (!document->isArray()) {
        *error = QStringLiteral("%1 must hold a JSON array").arg(StandinHome::kRulesFile);
        return std::nullopt;
    }
    QJsonArray rules = document->array();
    for (qsizetype i = 0; i < rules.size(); ++i) {
        QJsonObject rule = rules.at(i).toObject();
        if (!matches(rule, tool, args)) {
            continue;
        }
        if (rule.contains(QStringLiteral("times"))) {
            const qint64 left = rule.value(QStringLiteral("times")).toInteger() - 1;
            if (left <= 0) {
                rules.removeAt(i);
            } else {
                rule[QStringLiteral("times")] = left;
                rules[i] = rule;
            }
            home.writeJson(StandinHome::kRulesFile, QJsonDocument(rules));
        }
        ToolResult result;
        result.status = rule.value(QStringLiteral("status")).toInt(0);
        result.standardOutput = rule.value(QStringLiteral("stdout")).toString().toUtf8();
        result.standardError = rule.value(QStringLiteral("stderr")).toString().toUtf8();
        return result;
    }
    return std::nullopt;
}

} // namespace orvane::standin
