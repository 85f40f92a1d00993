#include "app/viewer_image.h"

#include <QGraphicsItemGroup>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QPen>
#include <QWheelEvent>
#include <QtMath>
#include <algorithm>
#include <cstring>

namespace varnel::app {
namespace {

constexpr double kZoomStep = 1.25;
constexpr double kMinZoom = 1.0 / 64;
constexpr double kMaxZoom = 32;

}  // namespace

QImage toQImage(const imaging::RawImage& raw) {
  if (raw.width <= 0 || raw.height <= 0) return {};
  const std::size_t row = imaging::rawRowBytes(raw.width, raw.depth, false);
  if (row == 0 || raw.pixels.size() < row * static_cast<std::size_t>(raw.height)) return {};
  if (raw.depth == 1) {
    QImage img(raw.width, raw.height, QImage::Format_Mono);
    if (img.isNull()) return {};
    // The layer's 1 is black; the palette says so rather than inverting the bits.
    img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < raw.height; ++y) {
      std::memcpy(img.scanLine(y), raw.pixels.data() + row * static_cast<std::size_t>(y),
                  (static_cast<std::size_t>(raw.width) + 7) / 8);
    }
    return img;
  }
  const QImage::Format format =
      raw.depth == 8 ? QImage::Format_Grayscale8
                     : (raw.depth == 24 ? QImage::Format_RGB888 : QImage::Format_Invalid);
  if (format == QImage::Format_Invalid) return {};
  QImage img(raw.width, raw.height, format);
  if (img.isNull()) return {};
  for (int y = 0; y < raw.height; ++y) {
    std::memcpy(img.scanLine(y), raw.pixels.data() + row * static_cast<std::size_t>(y), row);
  }
  return img;
}

ImageView::ImageView(QWidget* parent) : QGraphicsView(parent) {
  setObjectName("imageView");
  setScene(new QGraphicsScene(this));
  setDragMode(QGraphicsView::ScrollHandDrag);
  setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
  setRenderHint(QPainter::SmoothPixmapTransform);
  setBackgroundBrush(QColor(64, 64, 64));
  setMinimumSize(200, 200);
}

void ImageView::showMessage(const QString& message) {
  scene()->clear();
  pixmap_ = nullptr;
  marks_ = nullptr;
  markCount_ = 0;
  resetTransform();
  auto* text = scene()->addSimpleText(message);
  text->setBrush(Qt::white);
  scene()->setSceneRect(text->boundingRect());
}

void ImageView::showImage(const QImage& image, const std::vector<MinutiaMark>& marks) {
  scene()->clear();
  pixmap_ = nullptr;
  marks_ = nullptr;
  markCount_ = 0;
  if (image.isNull()) {
    showMessage("No image");
    return;
  }
  pixmap_ = scene()->addPixmap(QPixmap::fromImage(image));
  scene()->setSceneRect(pixmap_->boundingRect());
  if (!marks.empty()) {
    marks_ = new QGraphicsItemGroup;
    // The marks scale with the image; their size follows the image's so they stay legible.
    const double r = std::max(3.0, std::min(image.width(), image.height()) / 120.0);
    for (const MinutiaMark& m : marks) {
      const QColor colour = m.kind == 2 ? QColor(0, 160, 255) : QColor(255, 64, 64);
      QPen pen(colour, 1.5);
      pen.setCosmetic(true);
      auto* dot = new QGraphicsEllipseItem(m.x - r, m.y - r, 2 * r, 2 * r);
      dot->setPen(pen);
      marks_->addToGroup(dot);
      // Screen y grows downwards; the angle counts counter-clockwise from the x axis.
      const double a = qDegreesToRadians(static_cast<double>(m.theta));
      auto* tail =
          new QGraphicsLineItem(m.x, m.y, m.x + 3 * r * std::cos(a), m.y - 3 * r * std::sin(a));
      tail->setPen(pen);
      marks_->addToGroup(tail);
    }
    marks_->setVisible(marksVisible_);
    scene()->addItem(marks_);
    markCount_ = static_cast<int>(marks.size());
  }
  fit_ = true;
  zoomToFit();
}

double ImageView::zoom() const { return transform().m11(); }

QSize ImageView::imageSize() const { return pixmap_ ? pixmap_->pixmap().size() : QSize(); }

void ImageView::scaleBy(double factor) {
  const double next = std::clamp(zoom() * factor, kMinZoom, kMaxZoom);
  fit_ = false;
  scale(next / zoom(), next / zoom());
}

void ImageView::zoomIn() { scaleBy(kZoomStep); }
void ImageView::zoomOut() { scaleBy(1 / kZoomStep); }

void ImageView::zoomToFit() {
  if (pixmap_ == nullptr) return;
  fit_ = true;
  fitInView(pixmap_, Qt::KeepAspectRatio);
}

void ImageView::zoomActual() {
  fit_ = false;
  resetTransform();
}

void ImageView::setMarksVisible(bool visible) {
  marksVisible_ = visible;
  if (marks_ != nullptr) marks_->setVisible(visible);
}

void ImageView::wheelEvent(QWheelEvent* event) {
  if (pixmap_ == nullptr) return;
  const int steps = event->angleDelta().y();
  if (steps == 0) return;
  scaleBy(steps > 0 ? kZoomStep : 1 / kZoomStep);
  event->accept();
}

void ImageView::resizeEvent(QResizeEvent* event) {
  QGraphicsView::resizeEvent(event);
  if (fit_) zoomToFit();
}

}  // namespace varnel::app
