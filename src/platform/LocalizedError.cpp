#include "LocalizedError.h"

namespace orvane {

const char* LocalizedError::what() const noexcept {
    try {
        m_what = localizedDescription().toUtf8();
        return m_what.constData();
    } catch (...) {
        return "orvane error";
    }
}

QString describeError(const std::exception_ptr& error) {
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const LocalizedError& e) {
        return e.localizedDescription();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("未能完成该操作。");
}

} // namespace orvane
