#pragma once

#include "BridgedError.h"

#include <QString>

#include <cstddef>
#include <cstdint>

namespace orvane {

// Why a start of the packet tunnel failed. Equal and hashed on the case alone.
class PacketTunnelProviderError {
public:
    enum class Case : std::uint8_t { missingConfiguration = 0, engineNotEmbedded = 1 };

    static PacketTunnelProviderError missingConfiguration() {
        return PacketTunnelProviderError(Case::missingConfiguration);
    }
    static PacketTunnelProviderError engineNotEmbedded() {
        return PacketTunnelProviderError(Case::engineNotEmbedded);
    }

    // The domain the system gives errors of this type: module name, a dot, type name.
    static QString domain();

    Case errorCase() const { return m_case; }
    int code() const { return static_cast<int>(m_case); }
    QString errorDescription() const;
    BridgedError bridged() const;

    friend bool operator==(const PacketTunnelProviderError&,
                           const PacketTunnelProviderError&) = default;

private:
    explicit PacketTunnelProviderError(Case c) : m_case(c) {}

    Case m_case;
};

std::size_t qHash(const PacketTunnelProviderError& error, std::size_t seed = 0) noexcept;

} // namespace orvane
