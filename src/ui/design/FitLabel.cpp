#include "FitLabel.h"

#include "Typography.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextOption>

#include <cmath>

namespace orvane {

namespace {
constexpr double kScaleStep = 0.02;
const QChar kEllipsis(0x2026);
const QChar kNoBreakSpace(0x00A0);

bool isSeparator(QChar c) {
    return c == QChar(0x00B7) || c == QChar(0x2022) || c == QLatin1Char('/');
}

// A separator between spaces (" · ", " / ") goes to the next line with the part after it,
// never stays behind at a line's end. One space for another: the runs' ranges hold.
QString keepSeparatorsWithNext(QString text) {
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (isSeparator(text[i]) && text[i - 1] == QLatin1Char(' ') &&
            text[i + 1] == QLatin1Char(' ')) {
            text[i + 1] = kNoBreakSpace;
        }
    }
    return text;
}
} // namespace

FitLabel::FitLabel(int pixelSize, const QColor& color, QWidget* parent)
    : QWidget(parent), m_font(Typography::font(pixelSize)) {
    m_runs = {Run{QString(), color}};
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void FitLabel::setText(const QString& text) {
    const QColor color = m_runs.isEmpty() ? QColor(Qt::black) : m_runs.first().color;
    setRuns({Run{text, color}});
}

void FitLabel::setRuns(QList<Run> runs) {
    if (runs == m_runs) {
        return;
    }
    const bool sameText = [&] {
        QString joined;
        for (const Run& run : runs) {
            joined += run.text;
        }
        return joined == m_text;
    }();
    m_runs = std::move(runs);
    m_text.clear();
    for (const Run& run : m_runs) {
        m_text += run.text;
    }
    if (sameText) {
        m_fit.layout.reset();
        update();
    } else {
        changed();
    }
}

void FitLabel::setColor(const QColor& color) {
    QList<Run> runs = m_runs;
    for (Run& run : runs) {
        run.color = color;
    }
    setRuns(std::move(runs));
}

void FitLabel::setMaxLines(int lines) {
    m_maxLines = lines;
    changed();
}

void FitLabel::setMinimumScale(double scale) {
    m_minScale = scale;
    changed();
}

void FitLabel::setAlignment(Qt::Alignment alignment) {
    m_alignment = alignment;
    update();
}

void FitLabel::setWeight(QFont::Weight weight) {
    m_font.setWeight(weight);
    changed();
}

double FitLabel::currentScale() const {
    return fitFor(width()).scale;
}

int FitLabel::currentLineCount() const {
    return fitFor(width()).lineCount;
}

QStringList FitLabel::shownLines() const {
    QStringList lines;
    const Fit& fit = fitFor(width());
    if (fit.layout) {
        for (int i = 0; i < fit.layout->lineCount(); ++i) {
            const QTextLine line = fit.layout->lineAt(i);
            lines << fit.layout->text().mid(line.textStart(), line.textLength());
        }
    }
    return lines;
}

bool FitLabel::fitsAtFullSize(const QString& text, int width) const {
    auto layout = makeLayout(text, m_font, 0);
    layout->beginLayout();
    int lines = 0;
    bool fits = true;
    for (QTextLine line = layout->createLine(); line.isValid() && fits;
         line = layout->createLine()) {
        line.setLineWidth(std::max(width, 1));
        fits = (m_maxLines <= 0 || ++lines <= m_maxLines) &&
               line.naturalTextWidth() <= std::max(width, 1) + 0.5;
    }
    layout->endLayout();
    return fits;
}

void FitLabel::changed() {
    m_fit = Fit{};
    m_hfwWidth = -1;
    updateGeometry();
    update();
}

std::shared_ptr<QTextLayout> FitLabel::makeLayout(const QString& text, const QFont& font,
                                                  int runOffset) const {
    auto layout = std::make_shared<QTextLayout>(keepSeparatorsWithNext(text), font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    QList<QTextLayout::FormatRange> formats;
    int start = -runOffset;
    for (const Run& run : m_runs) {
        const int end = start + static_cast<int>(run.text.size());
        const int from = std::max(start, 0);
        const int to = std::min(end, static_cast<int>(text.size()));
        if (to > from) {
            QTextLayout::FormatRange range;
            range.start = from;
            range.length = to - from;
            range.format.setForeground(run.color);
            formats.append(range);
        }
        start = end;
    }
    // An ellipsis past the runs takes the colour of the text it stands for.
    if (!formats.isEmpty() && formats.last().start + formats.last().length < text.size()) {
        formats.last().length = static_cast<int>(text.size()) - formats.last().start;
    }
    layout->setFormats(formats);
    return layout;
}

FitLabel::Fit FitLabel::computeFit(int width) const {
    Fit fit;
    fit.width = width;
    const double lineWidth = std::max(width, 1);
    const double base = m_font.pixelSize();
    for (double scale = 1.0;; scale -= kScaleStep) {
        const bool last = scale - kScaleStep < m_minScale - 1e-9;
        if (last) {
            scale = m_minScale;
        }
        QFont font = m_font;
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(base * scale))));
        auto layout = makeLayout(m_text, font, 0);
        layout->beginLayout();
        double y = 0;
        int lines = 0;
        bool overflow = false;
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            if (m_maxLines > 0 && lines == m_maxLines) {
                overflow = true;
                break;
            }
            line.setLineWidth(lineWidth);
            line.setPosition(QPointF(0, y));
            y += line.height();
            ++lines;
        }
        layout->endLayout();
        if (overflow && lines > 0) {
            overflow = true;
        }
        // A single word wider than the line also counts as not fitting.
        bool tooWide = false;
        for (int i = 0; i < layout->lineCount(); ++i) {
            tooWide = tooWide || layout->lineAt(i).naturalTextWidth() > lineWidth + 0.5;
        }
        if ((!overflow && !tooWide) || last) {
            fit.scale = scale;
            fit.lineCount = std::max(lines, 1);
            if (overflow || tooWide) {
                // Keep the full lines before the last and elide what is left into it.
                const int lastIndex = std::max(lines, 1) - 1;
                const int cut = lines > 0 ? layout->lineAt(lastIndex).textStart() : 0;
                const QString rest = m_text.mid(cut);
                const QString elided =
                    QFontMetricsF(font).elidedText(rest, Qt::ElideRight, lineWidth);
                const QString shown = m_text.left(cut) + elided;
                auto final = makeLayout(shown, font, 0);
                final->beginLayout();
                double fy = 0;
                int produced = 0;
                for (QTextLine line = final->createLine(); line.isValid();
                     line = final->createLine()) {
                    line.setLineWidth(produced == lastIndex ? 1e6 : lineWidth);
                    line.setPosition(QPointF(0, fy));
                    fy += line.height();
                    ++produced;
                }
                final->endLayout();
                fit.layout = final;
                fit.height = static_cast<int>(std::ceil(fy));
            } else {
                fit.layout = layout;
                fit.height = static_cast<int>(std::ceil(y));
            }
            if (m_text.isEmpty()) {
                fit.height = static_cast<int>(std::ceil(QFontMetricsF(font).height()));
            }
            return fit;
        }
    }
}

const FitLabel::Fit& FitLabel::fitFor(int width) const {
    if (m_fit.width != width || !m_fit.layout) {
        m_fit = computeFit(width);
    }
    return m_fit;
}

int FitLabel::heightForWidth(int width) const {
    if (width == m_fit.width && m_fit.layout) {
        return m_fit.height;
    }
    if (width != m_hfwWidth) {
        m_hfwWidth = width;
        m_hfwHeight = computeFit(width).height;
    }
    return m_hfwHeight;
}

QSize FitLabel::sizeHint() const {
    const QFontMetricsF metrics(m_font);
    const int natural = static_cast<int>(std::ceil(metrics.horizontalAdvance(m_text))) + 1;
    return {natural, heightForWidth(natural)};
}

QSize FitLabel::minimumSizeHint() const {
    const QFontMetricsF metrics(m_font);
    return {static_cast<int>(std::ceil(metrics.height())),
            static_cast<int>(std::ceil(metrics.height() * m_minScale))};
}

void FitLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_fit = Fit{};
}

void FitLabel::paintEvent(QPaintEvent*) {
    const Fit& fit = fitFor(width());
    if (!fit.layout) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    double top = 0;
    if (m_alignment & Qt::AlignVCenter) {
        top = (height() - fit.height) / 2.0;
    } else if (m_alignment & Qt::AlignBottom) {
        top = height() - fit.height;
    }
    for (int i = 0; i < fit.layout->lineCount(); ++i) {
        QTextLine line = fit.layout->lineAt(i);
        double x = 0;
        const double free = width() - line.naturalTextWidth();
        if (m_alignment & Qt::AlignHCenter) {
            x = free / 2.0;
        } else if (m_alignment & Qt::AlignRight) {
            x = free;
        }
        line.setPosition(QPointF(x, line.position().y()));
    }
    fit.layout->draw(&painter, QPointF(0, top));
}

} // namespace orvane
