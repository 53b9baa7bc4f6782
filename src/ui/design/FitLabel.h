#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextLayout>
#include <QWidget>

#include <memory>

namespace orvane {

// A text of one or more coloured runs that wraps up to a line limit, then shrinks down to a
// minimum scale, then elides its last line. A separator (" · ", " / ") wraps together with the
// part after it. Repaints only when its text or colours change.
class FitLabel : public QWidget {
    Q_OBJECT
public:
    struct Run {
        QString text;
        QColor color;
        friend bool operator==(const Run&, const Run&) = default;
    };

    FitLabel(int pixelSize, const QColor& color, QWidget* parent = nullptr);

    void setText(const QString& text);
    void setRuns(QList<Run> runs);
    QString text() const { return m_text; }
    void setColor(const QColor& color);

    // 0 means no limit: the text wraps over as many lines as it needs.
    void setMaxLines(int lines);
    void setMinimumScale(double scale);
    void setAlignment(Qt::Alignment alignment);
    void setWeight(QFont::Weight weight);

    // The scale the last layout settled on (1 when the text fits as is).
    double currentScale() const;
    int currentLineCount() const;
    // The lines as shown at its width, elided where it does not fit.
    QStringList shownLines() const;
    // Whether `text` would fit `width` within the line limit, unscaled and unelided.
    bool fitsAtFullSize(const QString& text, int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Fit {
        int width = -1;
        double scale = 1;
        int height = 0;
        std::shared_ptr<QTextLayout> layout; // the lines that fit, last one elided if needed
        int lineCount = 0;
    };

    const Fit& fitFor(int width) const;
    Fit computeFit(int width) const;
    std::shared_ptr<QTextLayout> makeLayout(const QString& text, const QFont& font,
                                            int runOffset) const;
    void changed();

    QList<Run> m_runs;
    QString m_text;
    QFont m_font;
    int m_maxLines = 1;
    double m_minScale = 1;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    mutable Fit m_fit;
    mutable int m_hfwWidth = -1;
    mutable int m_hfwHeight = 0;
};

} // namespace orvane
