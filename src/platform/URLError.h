#pragma once

#include "LocalizedError.h"

namespace orvane {

// A transport failure of an HTTP request, coded like the platform's URL errors so the
// service client's failover table applies to it.
class URLError : public LocalizedError {
public:
    enum class Code {
        unknown,
        cancelled,
        badURL,
        unsupportedURL,
        timedOut,
        cannotFindHost,
        cannotConnectToHost,
        networkConnectionLost,
        dnsLookupFailed,
        notConnectedToInternet,
        badServerResponse,
        secureConnectionFailed,
        serverCertificateUntrusted,
        appTransportSecurityRequiresSecureConnection,
    };

    explicit URLError(Code code, QString detail = {});

    Code code() const { return m_code; }
    // What the network layer said, for logs; not shown to the user.
    const QString& detail() const { return m_detail; }
    QString localizedDescription() const override;

private:
    Code m_code;
    QString m_detail;
};

} // namespace orvane
