// The baseline shell_bench sets our start-up against: a bare Qt Widgets window of the main
// window's default size holding one Chinese label in the family the application pins, printing
// the same first-paint marker. Nothing else of ours is linked in (the marker class would pull
// in every meta-object of the widget library), so the marker is written here.
#include "FirstPaintMarker.h"
#include "MainWindow.h"
#include "Typography.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

class BareWindow : public QWidget {
public:
    explicit BareWindow(bool marker) : m_marker(marker) {}

protected:
    void paintEvent(QPaintEvent*) override {
        if (m_marker) {
            m_marker = false;
            std::fputs("first-paint\n", stdout);
            std::fflush(stdout);
        }
    }

private:
    bool m_marker;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    orvane::Typography::pinApplicationFont();
    BareWindow window(
        QCoreApplication::arguments().contains(QLatin1String(orvane::FirstPaintMarker::kArgument)));
    window.resize(orvane::MainWindow::kDefaultSize);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("一键连接"), &window), 0, Qt::AlignCenter);
    window.show();
    return QApplication::exec();
}
