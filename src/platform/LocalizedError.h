#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace orvane {

// Base of every error the system throws. The description is the Chinese text a user sees.
class LocalizedError : public std::exception {
public:
    ~LocalizedError() override = default;

    virtual QString localizedDescription() const = 0;
    const char* what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// The description of any exception: ours give their own text, others a generic phrase.
QString describeError(const std::exception_ptr& error);

} // namespace orvane
