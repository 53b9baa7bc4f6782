// What the once-a-second work costs while the home page shows: a speed sample, the duration
// refresh and one new log line. Prints the time spent in our code (state and widget updates),
// the time spent painting, and which widgets were repainted per tick.
#include "AppState.h"
#include "HomeView.h"
#include "StateFixture.h"
#include "Typography.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMap>

#include <cstdio>

namespace orvane {
class AppStateTestAccess {
public:
    static void setConnectedAt(AppState& s, QDateTime at) { s.setConnectedAt(at); }
};
} // namespace orvane

using namespace orvane;

namespace {

class PaintCounter : public QObject {
public:
    QMap<QString, int> counts;
    int total = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++counts[QString::fromLatin1(watched->metaObject()->className())];
            ++total;
        }
        return false;
    }
};

void settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Typography::pinApplicationFont();

    test::StateFixture fixture;
    AppState& state = fixture.makeState();
    for (int i = 0; i < 30; ++i) {
        state.appendLog(QStringLiteral("连接保活检查通过：连接正常"));
    }
    QDateTime now = fixture.now;
    AppStateTestAccess::setConnectedAt(state, now.addSecs(-754));
    HomeView home(state, [&now] { return now; });
    home.resize(1180 - 232 - 44, 780 - 36);
    home.show();
    settle();

    const auto run = [&](bool withLog, const char* title) {
        PaintCounter counter;
        app.installEventFilter(&counter);
        constexpr int kTicks = 300;
        qint64 ourNs = 0;
        qint64 paintNs = 0;
        QElapsedTimer timer;
        for (int tick = 0; tick < kTicks; ++tick) {
            fixture.monotonicMs += 1000;
            fixture.traffic.receivedBytes += 2'400'000;
            fixture.traffic.sentBytes += 310'000;
            now = now.addSecs(1);
            timer.start();
            state.updateNetworkSpeed();
            home.connectionPanel()->tick();
            if (withLog) {
                state.appendLog(QStringLiteral("第 %1 次保活检查通过").arg(tick));
            }
            ourNs += timer.nsecsElapsed();
            timer.start();
            settle();
            paintNs += timer.nsecsElapsed();
        }
        app.removeEventFilter(&counter);
        std::printf("%s, %d ticks\n", title, kTicks);
        std::printf("  our code:  %8.1f us per tick\n", ourNs / 1000.0 / kTicks);
        std::printf("  painting:  %8.1f us per tick\n", paintNs / 1000.0 / kTicks);
        std::printf("  paint events: %5.1f per tick\n", double(counter.total) / kTicks);
        for (auto it = counter.counts.cbegin(); it != counter.counts.cend(); ++it) {
            std::printf("    %-34s %6.2f per tick\n", qPrintable(it.key()),
                        double(it.value()) / kTicks);
        }
    };
    run(false, "speed sample and duration refresh");
    run(true, "speed sample, duration refresh and one log line");
    return 0;
}
