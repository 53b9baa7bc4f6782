#include "MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QVBoxLayout>

namespace orvane {

MainWindow::MainWindow(QWidget* content, QWidget* parent) : QWidget(parent), m_content(content) {
    setWindowTitle(QStringLiteral("Orvane"));
    setMinimumSize(kMinimumSize);
    resize(kDefaultSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    content->setParent(this);
    layout->addWidget(content);

    auto* quit = new QAction(this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::WindowShortcut);
    connect(quit, &QAction::triggered, this, &MainWindow::quitRequested);
    addAction(quit);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        emit shown();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_closeHides) {
        event->accept();
        return;
    }
    event->ignore();
    emit quitRequested();
}

} // namespace orvane
