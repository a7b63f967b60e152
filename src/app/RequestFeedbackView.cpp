#include "app/RequestFeedbackView.h"

#include "platform/Clock.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The icons' boxes in pixels: the spinner's frame, and the size of the check mark and the cross
// as an 11-pixel bold glyph would have them.
constexpr QSize SpinnerBox {16, 16};
constexpr QSize CheckmarkBox {13, 12};
constexpr QSize CrossBox {11, 11};
constexpr qreal SpinnerLineWidth = 1.6;
constexpr qreal SpinnerArc = 0.72; // the drawn fraction of the circle
constexpr qreal GlyphLineWidth = 2.0;

struct Shadow {
    qreal opacity;
    qreal radius;
    QPointF offset;
};
// Applied one after the other: the second shadow is cast by the icon together with the first.
constexpr Shadow Shadows[] = {{0.55, 1.5, {0, 0.5}}, {0.35, 4.0, {0, 1.0}}};

// Pixels at least this opaque belong to a shaped window: the icon and the core of its shadow.
constexpr int ShapeAlphaThreshold = 80;

QSize iconBox(RequestFeedbackContent content)
{
    switch (content) {
    case RequestFeedbackContent::Loading:
        return SpinnerBox;
    case RequestFeedbackContent::Success:
        return CheckmarkBox;
    case RequestFeedbackContent::Failure:
        return CrossBox;
    }
    return SpinnerBox;
}

void paintIcon(QPainter &painter, RequestFeedbackContent content, qreal rotationDegrees)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    switch (content) {
    case RequestFeedbackContent::Loading: {
        const QPointF centre(SpinnerBox.width() / 2.0, SpinnerBox.height() / 2.0);
        painter.translate(centre);
        painter.rotate(rotationDegrees);
        QPen pen(Qt::white, SpinnerLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.setPen(pen);
        // The arc starts at three o'clock and runs clockwise (Qt counts angles anticlockwise).
        const qreal r = SpinnerBox.width() / 2.0;
        painter.drawArc(QRectF(-r, -r, 2 * r, 2 * r), 0, -qRound(SpinnerArc * 360 * 16));
        break;
    }
    case RequestFeedbackContent::Success: {
        painter.setPen(QPen(Qt::white, GlyphLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath check;
        check.moveTo(1.4, 6.6);
        check.lineTo(4.9, 10.3);
        check.lineTo(11.6, 1.5);
        painter.drawPath(check);
        break;
    }
    case RequestFeedbackContent::Failure: {
        painter.setPen(QPen(Qt::white, GlyphLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal lo = 1.5, hi = CrossBox.width() - 1.5;
        painter.drawLine(QPointF(lo, lo), QPointF(hi, hi));
        painter.drawLine(QPointF(hi, lo), QPointF(lo, hi));
        break;
    }
    }
}

// A Gaussian blur of one channel, edges treated as transparent. The blur radius is taken as about
// two standard deviations, which gives the soft, tight shadow the icon needs to read on white.
std::vector<float> blurred(const std::vector<float> &alpha, int w, int h, qreal radius)
{
    const qreal sigma = radius / 2.0;
    if (sigma < 0.1)
        return alpha;
    const int reach = int(std::ceil(sigma * 3));
    std::vector<float> kernel(size_t(2 * reach + 1));
    float sum = 0;
    for (int i = -reach; i <= reach; ++i) {
        kernel[size_t(i + reach)] = float(std::exp(-(i * i) / (2 * sigma * sigma)));
        sum += kernel[size_t(i + reach)];
    }
    for (float &k : kernel)
        k /= sum;
    const float *k = kernel.data() + reach; // k[i] for i in [-reach, reach]
    std::vector<float> across(alpha.size()), result(alpha.size());
    for (int y = 0; y < h; ++y) {
        const float *__restrict in = alpha.data() + size_t(y) * size_t(w);
        float *__restrict out = across.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const int lo = std::max(-reach, -x), hi = std::min(reach, w - 1 - x);
            float v = 0;
            for (int i = lo; i <= hi; ++i)
                v += k[i] * in[x + i];
            out[x] = v;
        }
    }
    for (int y = 0; y < h; ++y) {
        const int lo = std::max(-reach, -y), hi = std::min(reach, h - 1 - y);
        float *__restrict out = result.data() + size_t(y) * size_t(w);
        for (int i = lo; i <= hi; ++i) {
            const float weight = k[i];
            const float *__restrict in = across.data() + size_t(y + i) * size_t(w);
            for (int x = 0; x < w; ++x)
                out[x] += weight * in[x];
        }
    }
    return result;
}

// `values` moved by `offset` pixels (bilinear for fractions), what moves in from outside empty.
std::vector<float> shifted(const std::vector<float> &values, int w, int h, QPointF offset)
{
    const int ix = int(std::floor(offset.x())), iy = int(std::floor(offset.y()));
    const float fx = float(offset.x() - ix), fy = float(offset.y() - iy);
    auto at = [&](int x, int y) {
        return (x < 0 || y < 0 || x >= w || y >= h) ? 0.0f : values[size_t(y) * size_t(w) + size_t(x)];
    };
    std::vector<float> result(values.size());
    if (fx == 0 && fy == 0) {
        for (int y = std::max(0, iy); y < std::min(h, h + iy); ++y)
            for (int x = std::max(0, ix); x < std::min(w, w + ix); ++x)
                result[size_t(y) * size_t(w) + size_t(x)]
                    = values[size_t(y - iy) * size_t(w) + size_t(x - ix)];
        return result;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // The value at (x, y) comes from (x - offset), between four source pixels.
            const int sx = x - ix - 1, sy = y - iy - 1;
            result[size_t(y) * size_t(w) + size_t(x)]
                = (1 - fy) * ((1 - fx) * at(sx + 1, sy + 1) + fx * at(sx, sy + 1))
                + fy * ((1 - fx) * at(sx + 1, sy) + fx * at(sx, sy));
        }
    return result;
}

// Puts a black shadow of `layer` (premultiplied ARGB, device pixels) beneath it.
void castShadow(QImage &layer, const Shadow &shadow, qreal devicePixelRatio)
{
    const int w = layer.width(), h = layer.height();
    std::vector<float> alpha(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(layer.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[size_t(y) * size_t(w) + size_t(x)] = float(qAlpha(line[x])) * (1.0f / 255);
    }
    alpha = shifted(
        blurred(alpha, w, h, shadow.radius * devicePixelRatio), w, h, shadow.offset * devicePixelRatio);
    const float opacity = float(shadow.opacity);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = 0; x < w; ++x) {
            // Source-over of the layer onto the shadow; premultiplied, and the shadow is black,
            // so only the alpha grows.
            const QRgb p = line[x];
            const float a = float(qAlpha(p)) * (1.0f / 255);
            const float s = opacity * alpha[size_t(y) * size_t(w) + size_t(x)];
            const int outAlpha = qBound(int(qAlpha(p)), int((a + s * (1 - a)) * 255 + 0.5f), 255);
            line[x] = qRgba(qRed(p), qGreen(p), qBlue(p), outAlpha);
        }
    }
}

} // namespace

RequestFeedbackView::RequestFeedbackView(Platform::Clock &clock, QWidget *parent)
    : QWidget(parent)
    , m_clock(clock)
{
    m_spinStart = m_clock.now();
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    resize(sizeHint());
    refreshFrame();
}

RequestFeedbackView::~RequestFeedbackView() = default;

void RequestFeedbackView::setContent(RequestFeedbackContent content)
{
    m_content = content;
    m_spinStart = m_clock.now();
    updateGeometry();
    updateAnimation();
    refreshFrame();
    update();
}

void RequestFeedbackView::setShaped(bool shaped)
{
    if (shaped == m_shaped)
        return;
    m_shaped = shaped;
    if (!m_shaped)
        clearMask();
    refreshFrame();
}

qreal RequestFeedbackView::rotation() const
{
    const auto elapsed = (m_clock.now() - m_spinStart).count() % SpinnerTurn.count();
    return 360.0 * qreal(elapsed) / qreal(SpinnerTurn.count());
}

QSize RequestFeedbackView::fittingSize(RequestFeedbackContent content)
{
    return iconBox(content) + QSize(2 * Padding, 2 * Padding);
}

QImage RequestFeedbackView::render(
    RequestFeedbackContent content, qreal rotationDegrees, qreal devicePixelRatio)
{
    const QSize logical = fittingSize(content);
    QImage image(logical * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.scale(devicePixelRatio, devicePixelRatio);
        painter.translate(Padding, Padding);
        paintIcon(painter, content, rotationDegrees);
    }
    for (const Shadow &shadow : Shadows)
        castShadow(image, shadow, devicePixelRatio);
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

void RequestFeedbackView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPoint(0, 0), m_frame);
}

void RequestFeedbackView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateAnimation();
    refreshFrame();
}

void RequestFeedbackView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateAnimation();
}

void RequestFeedbackView::updateAnimation()
{
    const bool wanted = m_content == RequestFeedbackContent::Loading && isVisible();
    if (!wanted) {
        m_animation.reset();
        return;
    }
    if (m_animation)
        return;
    m_animation = m_clock.repeating(FrameInterval, [this] {
        refreshFrame();
        update();
    });
}

void RequestFeedbackView::refreshFrame()
{
    const qreal dpr = devicePixelRatioF();
    m_frame = render(m_content, rotation(), dpr);
    if (!m_shaped)
        return;
    const QImage shape = qFuzzyCompare(dpr, 1.0) ? m_frame : render(m_content, rotation(), 1.0);
    QRegion region;
    for (int y = 0; y < shape.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(shape.constScanLine(y));
        for (int x = 0; x < shape.width();) {
            if (qAlpha(line[x]) < ShapeAlphaThreshold) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < shape.width() && qAlpha(line[x]) >= ShapeAlphaThreshold)
                ++x;
            region += QRect(start, y, x - start, 1);
        }
    }
    if (region != mask())
        setMask(region);
}
