#include "APIAccountRecords.h"
#include "APINodeRecords.h"
#include "APIProtocolConfigRecords.h"
#include "APIRouteRecords.h"
#include "DecodingError.h"
#include "JSONObjectReader.h"
#include "JSONValue.h"

#include <gtest/gtest.h>

#include <random>

using namespace orvane;

namespace {

// Keys the decoders look for, so random objects hit real fields with random types.
const char* const kKeys[] = {
    "id", "name", "region", "host", "status", "latency_ms", "load_percent", "is_active", "protocols",
    "protocol", "type", "nodes", "endpoints", "devices", "max_devices", "maxDevices", "user",
    "token", "identity", "role", "planName", "plans", "price", "durationDays", "orders", "amount",
    "config", "outbounds", "outbound", "singBoxConfig", "protocolConfigV2", "runtime", "cache",
    "lifecycle", "provisioning", "configStatus", "retryAfterMs", "maxWaitMs", "categories",
    "policies", "rules", "preferences", "routeCatalog", "tickets", "ticket", "versions",
    "platform", "current_version", "latest_version", "min_version", "update_mode", "error",
    "message", "ok", "device", "device_name", "endpoint_id", "node_id", "config_text",
    "cacheKey", "key", "nodeSyncStatus", "priority", "mode", "preferredRegions", "title"};

class Generator {
public:
    explicit Generator(unsigned seed) : m_rng(seed) {}

    QByteArray value(int depth) {
        switch (pick(depth > 4 ? 5 : 8)) {
        case 0:
            return "null";
        case 1:
            return pick(2) ? "true" : "false";
        case 2:
            return QByteArray::number(static_cast<qint64>(m_rng()) - (1LL << 31));
        case 3:
            return QByteArray::number(std::uniform_real_distribution<double>(-1e6, 1e6)(m_rng), 'g', 17);
        case 4:
            return "\"" + QByteArray(kKeys[pick(std::size(kKeys))]) + "\"";
        case 5: {
            QByteArray out = "[";
            const int n = pick(4);
            for (int i = 0; i < n; ++i) {
                out += (i ? "," : "") + value(depth + 1);
            }
            return out + "]";
        }
        default: {
            QByteArray out = "{";
            const int n = pick(7);
            for (int i = 0; i < n; ++i) {
                out += (i ? ",\"" : "\"") + QByteArray(kKeys[pick(std::size(kKeys))]) + "\":" + value(depth + 1);
            }
            return out + "}";
        }
        }
    }

    // Flips, drops or inserts a few bytes, so the parser sees broken text too.
    QByteArray mutate(QByteArray text) {
        const int edits = pick(4);
        for (int i = 0; i < edits && !text.isEmpty(); ++i) {
            const qsizetype at = pick(static_cast<int>(text.size()));
            switch (pick(3)) {
            case 0:
                text[at] = static_cast<char>(m_rng());
                break;
            case 1:
                text.remove(at, 1);
                break;
            default:
                text.insert(at, "{[\",:0"[pick(6)]);
            }
        }
        return text;
    }

    int pick(size_t n) { return static_cast<int>(m_rng() % n); }

private:
    std::mt19937 m_rng;
};

template <typename T>
void tryDecode(const QByteArray& body, int& decoded) {
    try {
        json::decodeBody<T>(body);
        ++decoded;
    } catch (const DecodingError&) {
    }
}

} // namespace

// Any input either decodes or fails with DecodingError: no crash, no other exception, no hang.
TEST(DecoderFuzzTest, RandomBodiesNeverCrashTheDecoders) {
    Generator gen(20261209);
    int decoded = 0;
    for (int round = 0; round < 4000; ++round) {
        QByteArray body = gen.value(0);
        if (round % 3 == 0) {
            body = gen.mutate(body);
        }
        tryDecode<APINodesResponse>(body, decoded);
        tryDecode<APIClientBootstrapResponse>(body, decoded);
        tryDecode<APIDevicesResponse>(body, decoded);
        tryDecode<APIAuthResponse>(body, decoded);
        tryDecode<APIPlansResponse>(body, decoded);
        tryDecode<APIOrdersResponse>(body, decoded);
        tryDecode<APIErrorResponse>(body, decoded);
        tryDecode<APIProtocolConfigResponse>(body, decoded);
        tryDecode<APIRouteCatalogResponse>(body, decoded);
        tryDecode<APIRoutePreferencesResponse>(body, decoded);
        tryDecode<APITicketsResponse>(body, decoded);
        tryDecode<APIVersionsResponse>(body, decoded);
        try {
            const JSONValue value = JSONValue::parse(body);
            // What parses writes back to text that parses to the same value.
            EXPECT_EQ(JSONValue::parse(value.toJson()), value) << body.constData();
        } catch (const DecodingError&) {
        }
        try {
            const auto response = json::decodeBody<APIProtocolConfigResponse>(body);
            (void)response.readiness();
            (void)response.runtimeDebugSummary();
        } catch (const DecodingError&) {
        }
    }
    // The generator must reach the lenient paths, not only failures.
    EXPECT_GT(decoded, 100);
}
