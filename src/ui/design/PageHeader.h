#pragma once

#include <QString>
#include <QWidget>

namespace orvane {

class FitLabel;
class Pill;

// The opening of each page: eyebrow over a large title, a blue pill at the trailing edge.
class PageHeader : public QWidget {
    Q_OBJECT
public:
    PageHeader(const QString& eyebrow, const QString& title, const QString& pill,
               QWidget* parent = nullptr);

    void setPillText(const QString& text);

private:
    Pill* m_pill;
};

} // namespace orvane
